/* The module's resource numbers, one home for vexorin.rc (windres reads only the preprocessor's
   defines, so these stay macros) and for the code that loads them. */
#ifndef VEXORIN_COM_RESOURCE_IDS_H
#define VEXORIN_COM_RESOURCE_IDS_H

#define VEXORIN_PROJECT_WORD 100       /* STRINGTABLE: the project word */
#define VEXORIN_APPID_SCRIPT 101       /* REGISTRY: the application identifier */
#define VEXORIN_PICTURE_SCRIPT 103     /* REGISTRY: the picture's class */
#define VEXORIN_AUDIO_SCRIPT 104       /* REGISTRY: the spoken number's class */
#define VEXORIN_WORK_SCRIPT 105        /* REGISTRY: the proof of work's class */

#endif

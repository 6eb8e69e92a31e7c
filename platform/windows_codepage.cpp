#include "platform.h"

#ifdef _WIN32
namespace platform {

// Every system the DLL loads on (NT 6.0 and later) converts with the calling thread's ANSI code page.
UINT ConversionCodePage() { return CP_THREAD_ACP; }

}  // namespace platform
#endif

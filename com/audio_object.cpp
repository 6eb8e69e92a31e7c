#include "com/audio_object.h"

#include "com/dispatch.h"

namespace com {

HRESULT CVexorinAudio::get_Number(BSTR* pVal) { return NoStaleErrorInfo(core_.get_Number(pVal)); }
HRESULT CVexorinAudio::put_Number(BSTR newVal) { return NoStaleErrorInfo(core_.put_Number(newVal)); }
HRESULT CVexorinAudio::get_Noise(LONG* pVal) { return NoStaleErrorInfo(core_.get_Noise(pVal)); }
HRESULT CVexorinAudio::put_Noise(LONG newVal) { return NoStaleErrorInfo(core_.put_Noise(newVal)); }
HRESULT CVexorinAudio::GetAudio(VARIANT* retVal) { return NoStaleErrorInfo(core_.GetAudio(retVal)); }
HRESULT CVexorinAudio::SaveToFile(BSTR filePath) { return NoStaleErrorInfo(core_.SaveToFile(filePath)); }

}  // namespace com

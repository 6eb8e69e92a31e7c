#include "platform.h"

#ifdef _WIN32
#include <cstdlib>

namespace platform {

namespace {
// NT-family 5.0 and later convert with the calling thread's ANSI code page; older systems read the
// default ANSI code page of the thread's locale at every conversion.
bool ThreadCodePageWorks() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 5;
}
}  // namespace

UINT ConversionCodePage() {
  static const bool threadCodePage = ThreadCodePageWorks();  // decided once per process
  if (threadCodePage) return CP_THREAD_ACP;
  char text[7] = {};
  GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text);
  const UINT codePage = static_cast<UINT>(std::strtoul(text, nullptr, 10));
  return codePage != 0 ? codePage : GetACP();
}

}  // namespace platform
#endif

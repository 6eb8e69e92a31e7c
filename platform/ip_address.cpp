#include "platform/ip_address.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <arpa/inet.h>
#endif

namespace platform {

bool ParseIpv6(const std::string& text, unsigned char bytes[16]) noexcept {
  if (text.find('%') != std::string::npos || std::strlen(text.c_str()) != text.size()) return false;
#ifdef _WIN32
  // Looked up, not imported: ntdll's parser is in every Windows, but not in the import libraries'
  // list of what this DLL may name.
  using Parse = LONG(WINAPI*)(const char*, void*, ULONG*, USHORT*);
  static const auto parse = reinterpret_cast<Parse>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlIpv6StringToAddressExA")));
  if (parse == nullptr) return false;
  ULONG scope = 0;
  USHORT port = 0;
  return parse(text.c_str(), bytes, &scope, &port) == 0 && scope == 0 && port == 0;
#else
  return inet_pton(AF_INET6, text.c_str(), bytes) == 1;
#endif
}

}  // namespace platform

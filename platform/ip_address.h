// An IPv6 address in text (with "::", an IPv4 tail; no zone), read by the system's own parser:
// RtlIpv6StringToAddressExA from ntdll.dll on Windows, inet_pton elsewhere.
#pragma once

#include <string>

namespace platform {

// The 16 bytes of `text`, or false when it is no IPv6 address.
bool ParseIpv6(const std::string& text, unsigned char bytes[16]) noexcept;

}  // namespace platform

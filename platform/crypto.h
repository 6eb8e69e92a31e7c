// The platform's cryptography, and nothing of our own: SHA-256 HMAC and PBKDF2-HMAC-SHA-256 from
// bcrypt.dll on Windows and OpenSSL's libcrypto elsewhere, base64 decoding from crypt32.dll or libcrypto,
// and a compare whose time depends on the length only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

constexpr std::size_t kSha256Bytes = 32;

// HMAC-SHA-256 of `data` under `key` into `out` (kSha256Bytes). A failure HRESULT when the
// platform's provider fails (on Windows its NTSTATUS as an HRESULT).
HRESULT HmacSha256(const void* key, std::size_t keySize, const void* data, std::size_t dataSize,
                   unsigned char* out) noexcept;

// PBKDF2 with HMAC-SHA-256, `iterations` >= 1, `outSize` bytes into `out`. On Windows it needs
// BCryptDeriveKeyPBKDF2 (Windows 7 and later; looked up at run time, so the DLL still loads on
// Vista): E_NOTIMPL where bcrypt.dll lacks it.
HRESULT Pbkdf2Sha256(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                     unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept;

// Equal bytes, in a time that depends on `size` only.
bool ConstantTimeEqual(const void* a, const void* b, std::size_t size) noexcept;

// Overwrites `size` bytes in a way the compiler may not drop (a key about to be freed).
void SecureZero(void* data, std::size_t size) noexcept;

// Standard base64 with padding, decoded. Refuses anything but the alphabet, a length that is a
// multiple of four and at most two '=' at the end (the libraries themselves skip whitespace and
// headers, which a strict check before them keeps out). Throws std::bad_alloc when memory runs out.
bool Base64Decode(const char* text, std::size_t size, std::vector<unsigned char>& out);

}  // namespace platform

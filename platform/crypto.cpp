#include "platform/crypto.h"

#include <climits>
#include <cstdlib>

#ifdef _WIN32
#include <bcrypt.h>
#include <wincrypt.h>
#else
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#endif

#include "platform/owner.h"

namespace platform {

namespace {

bool IsBase64Letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

#ifdef _WIN32
void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept { BCryptCloseAlgorithmProvider(algorithm, 0); }
void DestroyHash(BCRYPT_HASH_HANDLE hash) noexcept { BCryptDestroyHash(hash); }
using unique_algorithm = unique_any<BCRYPT_ALG_HANDLE, &CloseAlgorithm>;
using unique_hash = unique_any<BCRYPT_HASH_HANDLE, &DestroyHash>;

// An HMAC-SHA-256 provider for one call: handles opened once and kept would outlive the DLL.
NTSTATUS OpenHmacProvider(unique_algorithm& provider) noexcept {
  const NTSTATUS status = BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                      BCRYPT_ALG_HANDLE_HMAC_FLAG);
  if (status < 0) provider.release();  // nothing was opened
  return status;
}

using DeriveKeyPbkdf2 = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, ULONGLONG, PUCHAR,
                                          ULONG, ULONG);
#endif

}  // namespace

HRESULT HmacSha256(const void* key, std::size_t keySize, const void* data, std::size_t dataSize,
                   unsigned char* out) noexcept {
  if (keySize > ULONG_MAX / 2 || dataSize > ULONG_MAX / 2) return E_INVALIDARG;
#ifdef _WIN32
  unique_algorithm provider;
  NTSTATUS status = OpenHmacProvider(provider);
  if (status < 0) return HRESULT_FROM_NT(status);
  // Vista wants the hash object's memory from the caller; declared before the hash, it goes after it.
  ULONG objectSize = 0, got = 0;
  status = BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                             sizeof objectSize, &got, 0);
  if (status < 0) return HRESULT_FROM_NT(status);
  const unique_malloc<unsigned char> object(static_cast<unsigned char*>(std::malloc(objectSize > 0 ? objectSize : 1)));
  if (!object) return E_OUTOFMEMORY;
  unique_hash hash;
  status = BCryptCreateHash(provider.get(), hash.put(), object.get(), objectSize,
                            static_cast<PUCHAR>(const_cast<void*>(key)), static_cast<ULONG>(keySize), 0);
  if (status < 0) {
    hash.release();  // nothing was made
    return HRESULT_FROM_NT(status);
  }
  status = BCryptHashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(dataSize), 0);
  if (status >= 0) status = BCryptFinishHash(hash.get(), out, static_cast<ULONG>(kSha256Bytes), 0);
  return status < 0 ? HRESULT_FROM_NT(status) : S_OK;
#else
  unsigned int size = 0;
  if (HMAC(EVP_sha256(), key, static_cast<int>(keySize), static_cast<const unsigned char*>(data), dataSize, out,
           &size) == nullptr ||
      size != kSha256Bytes) {
    return E_FAIL;
  }
  return S_OK;
#endif
}

HRESULT Pbkdf2Sha256(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                     unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept {
  if (iterations < 1 || iterations > INT_MAX || passwordSize > INT_MAX / 2 || saltSize > INT_MAX / 2 ||
      outSize > INT_MAX / 2) {
    return E_INVALIDARG;
  }
#ifdef _WIN32
  static const auto derive = reinterpret_cast<DeriveKeyPbkdf2>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("bcrypt.dll"), "BCryptDeriveKeyPBKDF2")));
  if (derive == nullptr) return E_NOTIMPL;
  unique_algorithm provider;
  NTSTATUS status = OpenHmacProvider(provider);
  if (status < 0) return HRESULT_FROM_NT(status);
  status = derive(provider.get(), static_cast<PUCHAR>(const_cast<void*>(password)),
                                 static_cast<ULONG>(passwordSize), static_cast<PUCHAR>(const_cast<void*>(salt)),
                                 static_cast<ULONG>(saltSize), iterations, out, static_cast<ULONG>(outSize), 0);
  return status < 0 ? HRESULT_FROM_NT(status) : S_OK;
#else
  if (PKCS5_PBKDF2_HMAC(static_cast<const char*>(password), static_cast<int>(passwordSize),
                        static_cast<const unsigned char*>(salt), static_cast<int>(saltSize),
                        static_cast<int>(iterations), EVP_sha256(), static_cast<int>(outSize), out) != 1) {
    return E_FAIL;
  }
  return S_OK;
#endif
}

bool ConstantTimeEqual(const void* a, const void* b, std::size_t size) noexcept {
#ifdef _WIN32
  // bcrypt.dll offers no compare; volatile keeps the compiler from ending the loop early.
  const volatile unsigned char* x = static_cast<const unsigned char*>(a);
  const volatile unsigned char* y = static_cast<const unsigned char*>(b);
  unsigned char difference = 0;
  for (std::size_t i = 0; i < size; ++i) difference |= static_cast<unsigned char>(x[i] ^ y[i]);
  return difference == 0;
#else
  return CRYPTO_memcmp(a, b, size) == 0;
#endif
}

void SecureZero(void* data, std::size_t size) noexcept {
  if (data == nullptr || size == 0) return;
#ifdef _WIN32
  SecureZeroMemory(data, size);
#else
  OPENSSL_cleanse(data, size);
#endif
}

bool Base64Decode(const char* text, std::size_t size, std::vector<unsigned char>& out) {
  out.clear();
  if (size % 4 != 0 || size > ULONG_MAX / 2) return false;
  std::size_t padding = 0;
  if (size > 0 && text[size - 1] == '=') padding = (size > 1 && text[size - 2] == '=') ? 2 : 1;
  for (std::size_t i = 0; i < size - padding; ++i) {
    if (!IsBase64Letter(text[i])) return false;
  }
  if (size == 0) return true;
  const std::size_t decoded = size / 4 * 3 - padding;
#ifdef _WIN32
  out.resize(size / 4 * 3);
  DWORD length = static_cast<DWORD>(out.size());
  if (!CryptStringToBinaryA(text, static_cast<DWORD>(size), CRYPT_STRING_BASE64, out.data(), &length, nullptr,
                            nullptr) ||
      length != decoded) {
    out.clear();
    return false;
  }
#else
  out.resize(size / 4 * 3);
  // EVP_DecodeBlock counts the padding as zero bytes.
  if (EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text), static_cast<int>(size)) !=
      static_cast<int>(size / 4 * 3)) {
    out.clear();
    return false;
  }
#endif
  out.resize(decoded);
  return true;
}

}  // namespace platform

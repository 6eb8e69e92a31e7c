// A solver for the proof-of-work challenges, as a client would write it (PBKDF2 through the
// platform's provider): the tests' and benchmarks' source of genuine payloads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/crypto.h"

namespace testing_support {

inline std::string HexOf(const unsigned char* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// Standard base64 with padding: what a client sends (the component only decodes).
inline std::string Base64Of(const void* data, std::size_t size) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string text;
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t n = size - i < 3 ? size - i : 3;
    unsigned long group = 0;
    for (std::size_t k = 0; k < 3; ++k) group = group << 8 | (k < n ? bytes[i + k] : 0u);
    for (std::size_t k = 0; k < 4; ++k) text += k <= n ? alphabet[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return text;
}

inline std::vector<unsigned char> BytesOfHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Counters from `start` in steps of `step` until the derived key starts with the prefix; the
// payload object the widget would send (challenge and solution).
inline nlohmann::json Solve(const std::string& challengeJson, std::uint32_t start = 0, std::uint32_t step = 1) {
  const nlohmann::json challenge = nlohmann::json::parse(challengeJson);
  const auto& parameters = challenge.at("parameters");
  const std::vector<unsigned char> nonce = BytesOfHex(parameters.at("nonce").get<std::string>());
  const std::vector<unsigned char> salt = BytesOfHex(parameters.at("salt").get<std::string>());
  const auto cost = parameters.at("cost").get<unsigned long>();
  const auto length = parameters.at("keyLength").get<std::size_t>();
  const std::string prefix = parameters.at("keyPrefix").get<std::string>();
  std::vector<unsigned char> password = nonce;
  password.resize(nonce.size() + 4);
  std::vector<unsigned char> key(length);
  for (std::uint32_t counter = start;; counter += step) {
    for (int i = 0; i < 4; ++i) password[nonce.size() + i] = static_cast<unsigned char>(counter >> (24 - 8 * i));
    if (FAILED(platform::Pbkdf2Sha256(password.data(), password.size(), salt.data(), salt.size(), cost, key.data(),
                                      key.size()))) {
      return nlohmann::json();
    }
    const std::string hex = HexOf(key.data(), key.size());
    if (hex.compare(0, prefix.size(), prefix) == 0) {
      return {{"challenge", {{"parameters", parameters}, {"signature", challenge.at("signature")}}},
              {"solution", {{"counter", counter}, {"derivedKey", hex}, {"time", 1}}}};
    }
  }
}

inline std::string PayloadOf(const nlohmann::json& payload) {
  const std::string text = payload.dump();
  return Base64Of(text.data(), text.size());
}

}  // namespace testing_support

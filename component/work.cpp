#include "component/work.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <utility>

#include <nlohmann/json.hpp>

#include "component/guarded.h"
#include "platform/crypto.h"
#include "platform/random_source.h"
#include "platform/text.h"

namespace vexorin {

namespace {

using Json = nlohmann::json;
constexpr int kMaxJsonDepth = 16;  // the payload nests three deep; the serializer below recurses

std::int64_t SystemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

ReplayTable& ProcessTable() {
  static ReplayTable table(kReplayCapacity);
  return table;
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = digits[bytes[i] >> 4];
    text[2 * i + 1] = digits[bytes[i] & 15];
  }
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const std::string& text, std::vector<unsigned char>& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.resize(text.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

bool IsLowerHex(const std::string& text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// As JSON.stringify writes a string: only quotes, backslashes and control characters escaped.
void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", u);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// Keys come sorted by UTF-8 bytes (the object's map), JavaScript sorts UTF-16 units: the same order
// but for keys mixing U+E000..U+FFFF with characters beyond U+FFFF, which fail the signature.
void AppendCanonical(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& item : value.items()) {
        if (!first) out += ',';
        first = false;
        AppendJsonString(out, item.key());
        out += ':';
        AppendCanonical(out, item.value());
      }
      out += '}';
      break;
    }
    case Json::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& item : value) {
        if (!first) out += ',';
        first = false;
        AppendCanonical(out, item);
      }
      out += ']';
      break;
    }
    case Json::value_t::string: AppendJsonString(out, value.get_ref<const std::string&>()); break;
    case Json::value_t::number_float: {
      const double x = value.get<double>();
      if (std::isfinite(x) && std::floor(x) == x && std::fabs(x) < 1e15) {
        out += std::to_string(static_cast<long long>(x));  // JavaScript writes 5.0 as 5, -0 as 0
      } else {
        out += value.dump();
      }
      break;
    }
    default: out += value.dump(); break;  // integers, booleans, null
  }
}

// Nesting deeper than kMaxJsonDepth, counted on the raw text before the parser sees it.
bool TooDeep(const std::string& text) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

bool Parse(const std::string& text, Json& value) {
  if (TooDeep(text)) return false;
  value = Json::parse(text, nullptr, false);
  return !value.is_discarded();
}

// A JSON integer (or an integral number written with a fraction, as JavaScript reads it) in lo..hi.
bool IntegerIn(const Json& value, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(hi)) return false;
    out = static_cast<std::int64_t>(v);
  } else if (value.is_number_integer()) {
    out = value.get<std::int64_t>();
  } else if (value.is_number_float()) {
    const double v = value.get<double>();
    if (!(std::floor(v) == v) || v < static_cast<double>(lo) || v > static_cast<double>(hi)) return false;
    out = static_cast<std::int64_t>(v);
  } else {
    return false;
  }
  return out >= lo && out <= hi;
}

const Json* Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

const std::string* StringMember(const Json& object, const char* name) {
  const Json* value = Member(object, name);
  return value != nullptr && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

}  // namespace

const char* WorkOutcomeText(WorkOutcome outcome) noexcept {
  switch (outcome) {
    case WorkOutcome::kNone: return "";
    case WorkOutcome::kVerified: return "verified";
    case WorkOutcome::kMalformed: return "malformed";
    case WorkOutcome::kInvalidSignature: return "invalid signature";
    case WorkOutcome::kInvalidBinding: return "invalid binding";
    case WorkOutcome::kExpired: return "expired";
    case WorkOutcome::kInvalidSolution: return "invalid solution";
    case WorkOutcome::kReplayed: return "replayed";
    case WorkOutcome::kReplayTableFull: return "replay table full";
  }
  return "";
}

void ReplayTable::Prune(std::int64_t now) {
  // An entry goes once its challenge has expired: from then on Verify refuses it as expired anyway.
  while (!byExpiry_.empty() && byExpiry_.begin()->first < now) {
    signatures_.erase(byExpiry_.begin()->second);
    byExpiry_.erase(byExpiry_.begin());
  }
}

bool ReplayTable::Seen(const std::string& signature, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Prune(now);
  return signatures_.count(signature) != 0;
}

ReplayTable::Result ReplayTable::Remember(const std::string& signature, std::int64_t expiresAt, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Prune(now);
  if (signatures_.count(signature) != 0) return Result::kSeen;
  if (signatures_.size() >= capacity_) return Result::kFull;
  signatures_.insert(signature);
  try {
    byExpiry_.emplace(expiresAt, signature);
  } catch (...) {
    signatures_.erase(signature);
    throw;
  }
  return Result::kRemembered;
}

std::size_t ReplayTable::Size(std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Prune(now);
  return signatures_.size();
}

std::string CanonicalJson(const std::string& json, bool& parsed) {
  Json value;
  parsed = Parse(json, value);
  std::string out;
  if (parsed) AppendCanonical(out, value);
  return out;
}

WorkComponent::WorkComponent(ReplayTable* table, Clock clock) noexcept
    : table_(table != nullptr ? table : &ProcessTable()), clock_(clock != nullptr ? clock : &SystemClock) {}

HRESULT WorkComponent::Key(std::vector<unsigned char>& key) {
  if (!secret_.empty()) {
    key = secret_;
    return S_OK;
  }
  // One 256-bit key per process, drawn at first use; a failed draw is tried again at the next.
  static std::mutex mutex;
  static std::vector<unsigned char> processKey;
  const std::lock_guard<std::mutex> lock(mutex);
  if (processKey.empty()) {
    std::vector<unsigned char> drawn(32);
    const HRESULT hr = platform::SecureRandomBytes(drawn.data(), drawn.size());
    if (FAILED(hr)) return hr;
    processKey = std::move(drawn);
  }
  key = processKey;
  return S_OK;
}

HRESULT WorkComponent::Challenge(const std::string& binding, std::string& challenge) {
  unsigned char random[32];
  HRESULT hr = platform::SecureRandomBytes(random, sizeof random);
  if (FAILED(hr)) return hr;
  std::vector<unsigned char> key;
  hr = Key(key);
  if (FAILED(hr)) return hr;
  // The parameters in JSON.stringify's form with sorted keys: the text ALTCHA signs.
  std::string parameters = "{\"algorithm\":\"";
  parameters += kWorkAlgorithm;
  parameters += "\",\"cost\":" + std::to_string(cost_);
  if (!binding.empty()) {
    parameters += ",\"data\":{\"session\":";
    AppendJsonString(parameters, binding);
    parameters += '}';
  }
  parameters += ",\"expiresAt\":" + std::to_string(clock_() + expires_);
  parameters += ",\"keyLength\":" + std::to_string(kWorkKeyLength);
  parameters += ",\"keyPrefix\":\"";
  parameters += kWorkKeyPrefix;
  parameters += "\",\"nonce\":\"" + Hex(random, 16) + "\",\"salt\":\"" + Hex(random + 16, 16) + "\"}";
  unsigned char signature[platform::kSha256Bytes];
  hr = platform::HmacSha256(key.data(), key.size(), parameters.data(), parameters.size(), signature);
  if (FAILED(hr)) return hr;
  challenge = "{\"parameters\":" + parameters + ",\"signature\":\"" + Hex(signature, sizeof signature) + "\"}";
  return S_OK;
}

WorkOutcome WorkComponent::Check(const char* payload, std::size_t size, const std::string& binding) {
  // Capped before anything is decoded or parsed.
  if (size == 0 || size > kMaxPayloadSize) return WorkOutcome::kMalformed;
  std::vector<unsigned char> decoded;
  if (!platform::Base64Decode(payload, size, decoded)) return WorkOutcome::kMalformed;
  Json root;
  if (!Parse(std::string(decoded.begin(), decoded.end()), root)) return WorkOutcome::kMalformed;
  const Json* challenge = Member(root, "challenge");
  const Json* solution = Member(root, "solution");
  if (challenge == nullptr || solution == nullptr || !solution->is_object()) return WorkOutcome::kMalformed;
  const Json* parameters = Member(*challenge, "parameters");
  const std::string* signature = StringMember(*challenge, "signature");
  if (parameters == nullptr || !parameters->is_object() || signature == nullptr) return WorkOutcome::kMalformed;

  // The signature first: until it holds, no field is trusted (a cost of 1, another prefix).
  std::string canonical;
  AppendCanonical(canonical, *parameters);
  std::vector<unsigned char> key;
  if (FAILED(Key(key))) return WorkOutcome::kInvalidSignature;
  unsigned char expected[platform::kSha256Bytes];
  if (FAILED(platform::HmacSha256(key.data(), key.size(), canonical.data(), canonical.size(), expected))) {
    return WorkOutcome::kInvalidSignature;
  }
  const std::string expectedHex = Hex(expected, sizeof expected);
  if (signature->size() != expectedHex.size() ||
      !platform::ConstantTimeEqual(signature->data(), expectedHex.data(), expectedHex.size())) {
    return WorkOutcome::kInvalidSignature;
  }

  // Signed by us (or by a server holding the secret): now what it says is read.
  const std::string* algorithm = StringMember(*parameters, "algorithm");
  const std::string* nonceHex = StringMember(*parameters, "nonce");
  const std::string* saltHex = StringMember(*parameters, "salt");
  const std::string* prefix = StringMember(*parameters, "keyPrefix");
  const Json* costValue = Member(*parameters, "cost");
  const Json* lengthValue = Member(*parameters, "keyLength");
  const Json* expiresValue = Member(*parameters, "expiresAt");
  std::int64_t cost = 0, keyLength = 0, expiresAt = 0;
  std::vector<unsigned char> nonce, salt;
  if (algorithm == nullptr || *algorithm != kWorkAlgorithm || nonceHex == nullptr || !FromHex(*nonceHex, nonce) ||
      saltHex == nullptr || !FromHex(*saltHex, salt) || costValue == nullptr ||
      !IntegerIn(*costValue, 1, kMaxWorkCost, cost) || lengthValue == nullptr ||
      !IntegerIn(*lengthValue, 1, 64, keyLength) || prefix == nullptr || prefix->empty() ||
      prefix->size() > static_cast<std::size_t>(keyLength) * 2 || expiresValue == nullptr ||
      !IntegerIn(*expiresValue, 1, INT64_MAX / 2, expiresAt)) {
    return WorkOutcome::kMalformed;
  }
  std::string lowerPrefix = *prefix;
  for (char& c : lowerPrefix) {
    if (HexValue(c) < 0) return WorkOutcome::kMalformed;
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  const std::int64_t now = clock_();
  // An entry of the replay table lives until its expiry: none may ask for longer than Expires can.
  if (expiresAt > now + kMaxWorkExpires + 60) return WorkOutcome::kMalformed;

  const Json* data = Member(*parameters, "data");
  const std::string* bound = data != nullptr ? StringMember(*data, "session") : nullptr;
  if ((bound == nullptr ? std::string() : *bound) != binding) return WorkOutcome::kInvalidBinding;
  if (expiresAt < now) return WorkOutcome::kExpired;
  if (table_->Seen(*signature, now)) return WorkOutcome::kReplayed;

  const Json* counterValue = Member(*solution, "counter");
  const std::string* derivedHex = StringMember(*solution, "derivedKey");
  std::int64_t counter = 0;
  if (counterValue == nullptr || !IntegerIn(*counterValue, 0, 0xFFFFFFFFll, counter) || derivedHex == nullptr ||
      derivedHex->size() != static_cast<std::size_t>(keyLength) * 2 || !IsLowerHex(*derivedHex)) {
    return WorkOutcome::kInvalidSolution;
  }
  // The password: the nonce, then the counter as a big-endian 32-bit word.
  std::vector<unsigned char> password = nonce;
  for (int shift = 24; shift >= 0; shift -= 8) password.push_back(static_cast<unsigned char>(counter >> shift));
  std::vector<unsigned char> derived(static_cast<std::size_t>(keyLength));
  if (FAILED(platform::Pbkdf2Sha256(password.data(), password.size(), salt.data(), salt.size(),
                                    static_cast<unsigned long>(cost), derived.data(), derived.size()))) {
    return WorkOutcome::kInvalidSolution;
  }
  const std::string derivedKey = Hex(derived.data(), derived.size());
  const bool keyMatches = platform::ConstantTimeEqual(derivedKey.data(), derivedHex->data(), derivedKey.size());
  if (!keyMatches || derivedKey.compare(0, lowerPrefix.size(), lowerPrefix) != 0) {
    return WorkOutcome::kInvalidSolution;
  }
  switch (table_->Remember(*signature, expiresAt, now)) {
    case ReplayTable::Result::kRemembered: return WorkOutcome::kVerified;
    case ReplayTable::Result::kSeen: return WorkOutcome::kReplayed;
    case ReplayTable::Result::kFull: return WorkOutcome::kReplayTableFull;
  }
  return WorkOutcome::kMalformed;
}

HRESULT WorkComponent::SetSecret(const std::string& utf8) {
  if (utf8.empty()) return E_INVALIDARG;
  secret_.assign(utf8.begin(), utf8.end());
  return S_OK;
}

HRESULT WorkComponent::CreateChallenge(BSTR binding, BSTR* challenge) {
  return Guarded([&] {
    if (challenge == nullptr) return E_POINTER;
    *challenge = nullptr;
    const UINT length = SysStringLen(binding);
    std::string text;
    if (length > kMaxBindingSize || !platform::Utf8FromUtf16(binding, length, text)) return E_INVALIDARG;
    std::string json;
    const HRESULT hr = Challenge(text, json);
    if (FAILED(hr)) return hr;
    *challenge = platform::BstrFromUtf8(json);
    return S_OK;
  });
}

HRESULT WorkComponent::Verify(BSTR payload, BSTR binding, VARIANT_BOOL* verified) {
  return Guarded([&] {
    if (verified == nullptr) return E_POINTER;
    *verified = VARIANT_FALSE;
    const UINT bindingLength = SysStringLen(binding);
    std::string bindingText;
    if (bindingLength > kMaxBindingSize || !platform::Utf8FromUtf16(binding, bindingLength, bindingText)) {
      return E_INVALIDARG;
    }
    const UINT length = SysStringLen(payload);
    std::string text;
    bool ascii = length <= kMaxPayloadSize;
    for (UINT i = 0; ascii && i < length; ++i) {
      if (payload[i] == 0 || payload[i] > 0x7F) ascii = false;
      else text += static_cast<char>(payload[i]);
    }
    outcome_ = ascii ? Check(text.data(), text.size(), bindingText) : WorkOutcome::kMalformed;
    *verified = outcome_ == WorkOutcome::kVerified ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT WorkComponent::get_Reason(BSTR* reason) {
  return Guarded([&] {
    if (reason == nullptr) return E_POINTER;
    *reason = nullptr;
    *reason = platform::MakeBstr(WorkOutcomeText(outcome_));
    return S_OK;
  });
}

HRESULT WorkComponent::get_Cost(LONG* cost) {
  if (cost == nullptr) return E_POINTER;
  *cost = cost_;
  return S_OK;
}

HRESULT WorkComponent::put_Cost(LONG cost) {
  if (cost < kMinWorkCost || cost > kMaxWorkCost) return E_INVALIDARG;
  cost_ = cost;
  return S_OK;
}

HRESULT WorkComponent::get_Expires(LONG* seconds) {
  if (seconds == nullptr) return E_POINTER;
  *seconds = expires_;
  return S_OK;
}

HRESULT WorkComponent::put_Expires(LONG seconds) {
  if (seconds < kMinWorkExpires || seconds > kMaxWorkExpires) return E_INVALIDARG;
  expires_ = seconds;
  return S_OK;
}

HRESULT WorkComponent::put_Secret(BSTR secret) {
  return Guarded([&] {
    std::string text;
    if (!platform::Utf8FromUtf16(secret, SysStringLen(secret), text)) return E_INVALIDARG;
    return SetSecret(text);
  });
}

}  // namespace vexorin

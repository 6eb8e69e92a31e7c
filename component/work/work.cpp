#include "component/work/work.h"

#include <ctime>
#include <utility>

#include "component/shared/guarded.h"
#include "component/work/altcha_json.h"
#include "platform/crypto.h"
#include "platform/random_source.h"
#include "platform/text.h"

namespace vexorin {

namespace {

std::int64_t SystemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

// A property put: the value stored only when it lies within lo..hi.
HRESULT PutInRange(LONG value, LONG lo, LONG hi, LONG& field) {
  if (value < lo || value > hi) return E_INVALIDARG;
  field = value;
  return S_OK;
}

HRESULT Answer(WorkOutcome& outcome, WorkOutcome value) {
  outcome = value;
  return S_OK;
}

// What a signed challenge says, read only once its signature holds.
struct Parameters {
  std::vector<unsigned char> nonce, salt;
  std::int64_t cost = 0, keyLength = 0, expiresAt = 0;
  std::string prefix;           // lower case
  std::string session;          // empty when the challenge has no binding
};

bool ReadParameters(const Json& json, Parameters& p) {
  const std::string* algorithm = StringMember(json, "algorithm");
  const std::string* nonce = StringMember(json, "nonce");
  const std::string* salt = StringMember(json, "salt");
  const std::string* prefix = StringMember(json, "keyPrefix");
  const Json* cost = Member(json, "cost");
  const Json* length = Member(json, "keyLength");
  const Json* expiresAt = Member(json, "expiresAt");
  if (algorithm == nullptr || *algorithm != kWorkAlgorithm || nonce == nullptr || !FromHex(*nonce, p.nonce) ||
      salt == nullptr || !FromHex(*salt, p.salt) || cost == nullptr || !IntegerIn(*cost, 1, kMaxWorkCost, p.cost) ||
      length == nullptr || !IntegerIn(*length, 1, 64, p.keyLength) || prefix == nullptr || prefix->empty() ||
      prefix->size() > static_cast<std::size_t>(p.keyLength) * 2 || expiresAt == nullptr ||
      !IntegerIn(*expiresAt, 1, INT64_MAX / 2, p.expiresAt)) {
    return false;
  }
  p.prefix = *prefix;
  for (char& c : p.prefix) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  if (!IsLowerHex(p.prefix)) return false;
  const Json* data = Member(json, "data");
  const std::string* session = data != nullptr ? StringMember(*data, "session") : nullptr;
  if (session != nullptr) p.session = *session;
  return true;
}

// The solution's counter and key, as well-formed as the challenge asks; nothing derived yet.
bool ReadSolution(const Json& json, const Parameters& p, std::uint32_t& counter, const std::string*& derivedKey) {
  const Json* counterValue = Member(json, "counter");
  derivedKey = StringMember(json, "derivedKey");
  std::int64_t value = 0;
  if (counterValue == nullptr || !IntegerIn(*counterValue, 0, 0xFFFFFFFFll, value) || derivedKey == nullptr ||
      derivedKey->size() != static_cast<std::size_t>(p.keyLength) * 2 || !IsLowerHex(*derivedKey)) {
    return false;
  }
  counter = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace

const char* WorkOutcomeText(WorkOutcome outcome) noexcept {
  switch (outcome) {
    case WorkOutcome::kNone: return "";
    case WorkOutcome::kVerified: return "verified";
    case WorkOutcome::kMalformed: return "malformed";
    case WorkOutcome::kInvalidSignature: return "invalid signature";
    case WorkOutcome::kInvalidBinding: return "invalid binding";
    case WorkOutcome::kCostTooLow: return "cost too low";
    case WorkOutcome::kLifetimeTooLong: return "lifetime too long";
    case WorkOutcome::kExpired: return "expired";
    case WorkOutcome::kInvalidSolution: return "invalid solution";
    case WorkOutcome::kAlreadyChecked: return "already checked";
    case WorkOutcome::kReplayed: return "replayed";
  }
  return "";
}

std::string BindingInData(const std::string& utf8) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || c == '%') {
      out += '%';
      out += digits[u >> 4];
      out += digits[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

WorkComponent::WorkComponent(WorkLedger* ledger, Clock clock) noexcept
    : ledger_(ledger != nullptr ? ledger : &ProcessLedger()),
      processLedger_(ledger == nullptr),
      clock_(clock != nullptr ? clock : &SystemClock) {}

HRESULT WorkComponent::Key(std::vector<unsigned char>& key) {
  if (!secret_.empty()) {
    key = secret_;
    return S_OK;
  }
  static DrawnKey processKey;  // one per process, shared by every object without a Secret
  return processKey.Get(key);
}

HRESULT WorkComponent::Challenge(const std::string& binding, const std::string& client, std::string& challenge) {
  if (processLedger_) MarkProcessLedgerInUse();
  unsigned char random[32];
  HRESULT hr = platform::SecureRandomBytes(random, sizeof random);
  if (FAILED(hr)) return hr;
  std::vector<unsigned char> key;
  hr = Key(key);
  if (FAILED(hr)) return hr;
  const std::int64_t now = ledger_->Now(clock_());
  std::int64_t price = cost_;
  hr = ledger_->PriceChallenge(client, cost_, maxCost_, now, price);
  if (FAILED(hr)) return hr;
  // The parameters in JSON.stringify's form with sorted keys: the text ALTCHA signs.
  std::string parameters = "{\"algorithm\":\"";
  parameters += kWorkAlgorithm;
  parameters += "\",\"cost\":" + std::to_string(price);
  if (!binding.empty()) {
    parameters += ",\"data\":{\"session\":";
    AppendJsonString(parameters, BindingInData(binding));
    parameters += '}';
  }
  parameters += ",\"expiresAt\":" + std::to_string(now + expires_);
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

HRESULT WorkComponent::SignatureHolds(const std::string& canonical, const std::string& signature, bool& holds) {
  holds = false;
  std::vector<unsigned char> key;
  HRESULT hr = Key(key);
  if (FAILED(hr)) return hr;
  unsigned char expected[platform::kSha256Bytes];
  hr = platform::HmacSha256(key.data(), key.size(), canonical.data(), canonical.size(), expected);
  if (FAILED(hr)) return hr;
  const std::string expectedHex = Hex(expected, sizeof expected);
  holds = signature.size() == expectedHex.size() &&
          platform::ConstantTimeEqual(signature.data(), expectedHex.data(), expectedHex.size());
  return S_OK;
}

HRESULT WorkComponent::Check(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome) {
  if (processLedger_) MarkProcessLedgerInUse();
  const HRESULT hr = Judge(payload, size, binding, outcome);
  if (SUCCEEDED(hr)) ledger_->CountOutcome(static_cast<int>(outcome));
  return hr;
}

HRESULT WorkComponent::Judge(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome) {
  outcome = WorkOutcome::kMalformed;
  // 1. The payload: base64 (capped before decoding) of JSON holding a challenge and a solution.
  if (size == 0 || size > kMaxPayloadSize) return S_OK;
  std::vector<unsigned char> decoded;
  Json root;
  if (!platform::Base64Decode(payload, size, decoded) || !ParseJson(std::string(decoded.begin(), decoded.end()), root)) {
    return S_OK;
  }
  const Json* challenge = Member(root, "challenge");
  const Json* solution = Member(root, "solution");
  const Json* parametersJson = challenge != nullptr ? Member(*challenge, "parameters") : nullptr;
  const std::string* signature = challenge != nullptr ? StringMember(*challenge, "signature") : nullptr;
  if (solution == nullptr || !solution->is_object() || parametersJson == nullptr || !parametersJson->is_object() ||
      signature == nullptr) {
    return S_OK;
  }

  // 2. The signature, before any field is trusted (a cost of 1, another prefix).
  std::string canonical;
  AppendCanonical(canonical, *parametersJson);
  bool holds = false;
  HRESULT hr = SignatureHolds(canonical, *signature, holds);
  if (FAILED(hr)) return hr;
  if (!holds) return Answer(outcome, WorkOutcome::kInvalidSignature);
  Parameters p;
  if (!ReadParameters(*parametersJson, p)) return S_OK;

  // 3. This page's challenge, on this object's terms, still alive.
  const std::int64_t now = ledger_->Now(clock_());
  if (p.session != BindingInData(binding)) return Answer(outcome, WorkOutcome::kInvalidBinding);
  if (p.cost < cost_) return Answer(outcome, WorkOutcome::kCostTooLow);
  if (p.expiresAt > now + expires_ + kWorkClockSkew) return Answer(outcome, WorkOutcome::kLifetimeTooLong);
  if (p.expiresAt < now) return Answer(outcome, WorkOutcome::kExpired);

  // 4. One solution check per challenge, and a verified one never again.
  std::uint32_t counter = 0;
  const std::string* derivedHex = nullptr;
  if (!ReadSolution(*solution, p, counter, derivedHex)) return Answer(outcome, WorkOutcome::kInvalidSolution);
  WorkTag tag;
  hr = ledger_->TagOf(*signature, tag);
  if (FAILED(hr)) return hr;
  switch (ledger_->Admit(tag, p.expiresAt, now)) {
    case WorkLedger::Admission::kReplayed: return Answer(outcome, WorkOutcome::kReplayed);
    case WorkLedger::Admission::kAlreadyChecked: return Answer(outcome, WorkOutcome::kAlreadyChecked);
    case WorkLedger::Admission::kAdmitted: break;
  }

  // 5. The key derivation: the nonce, then the counter as a big-endian 32-bit word, as password.
  std::vector<unsigned char> password = p.nonce;
  for (int shift = 24; shift >= 0; shift -= 8) password.push_back(static_cast<unsigned char>(counter >> shift));
  std::vector<unsigned char> derived(static_cast<std::size_t>(p.keyLength));
  hr = ledger_->DeriveKey(password.data(), password.size(), p.salt.data(), p.salt.size(),
                          static_cast<unsigned long>(p.cost), derived.data(), derived.size());
  if (FAILED(hr)) return hr;
  const std::string derivedKey = Hex(derived.data(), derived.size());
  if (!platform::ConstantTimeEqual(derivedKey.data(), derivedHex->data(), derivedKey.size()) ||
      derivedKey.compare(0, p.prefix.size(), p.prefix) != 0) {
    return Answer(outcome, WorkOutcome::kInvalidSolution);
  }
  return Answer(outcome, ledger_->RememberVerified(tag, p.expiresAt, now) ? WorkOutcome::kVerified
                                                                          : WorkOutcome::kReplayed);
}

HRESULT WorkComponent::SetSecret(const std::string& utf8) {
  if (utf8.empty()) return E_INVALIDARG;
  secret_.assign(utf8.begin(), utf8.end());
  return S_OK;
}

HRESULT WorkComponent::CreateChallenge(BSTR binding, BSTR client, BSTR* challenge) {
  return Guarded([&] {
    if (challenge == nullptr) return E_POINTER;
    *challenge = nullptr;
    const UINT length = SysStringLen(binding), clientLength = SysStringLen(client);
    std::string text, clientText;
    if (length > kMaxBindingSize || !platform::Utf8FromUtf16(binding, length, text) || clientLength > kMaxClientSize ||
        !platform::Utf8FromUtf16(client, clientLength, clientText)) {
      return E_INVALIDARG;
    }
    std::string json;
    const HRESULT hr = Challenge(text, clientText, json);
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
    WorkOutcome outcome = WorkOutcome::kMalformed;
    if (ascii) {
      const HRESULT hr = Check(text.data(), text.size(), bindingText, outcome);
      if (FAILED(hr)) {
        outcome_ = WorkOutcome::kNone;  // no verdict: the platform failed, not the visitor
        return hr;
      }
    }
    outcome_ = outcome;
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

HRESULT WorkComponent::put_Cost(LONG cost) { return PutInRange(cost, kMinWorkCost, kMaxWorkCost, cost_); }

HRESULT WorkComponent::get_Expires(LONG* seconds) {
  if (seconds == nullptr) return E_POINTER;
  *seconds = expires_;
  return S_OK;
}

HRESULT WorkComponent::put_Expires(LONG seconds) { return PutInRange(seconds, kMinWorkExpires, kMaxWorkExpires, expires_); }

HRESULT WorkComponent::get_MaxCost(LONG* cost) {
  if (cost == nullptr) return E_POINTER;
  *cost = maxCost_;
  return S_OK;
}

HRESULT WorkComponent::put_MaxCost(LONG cost) { return PutInRange(cost, kMinWorkCost, kMaxWorkCost, maxCost_); }

std::string WorkComponent::Statistics() {
  const WorkLedger::Counters c = ledger_->Read(ledger_->Now(clock_()));
  std::string json = "{\"challenges\":" + std::to_string(c.challenges) + ",\"verify\":{";
  for (int i = static_cast<int>(WorkOutcome::kVerified); i <= static_cast<int>(WorkOutcome::kReplayed); ++i) {
    if (i != static_cast<int>(WorkOutcome::kVerified)) json += ',';
    AppendJsonString(json, WorkOutcomeText(static_cast<WorkOutcome>(i)));
    json += ':' + std::to_string(c.outcomes[i]);
  }
  json += "},\"derivations\":" + std::to_string(c.derivations) + ",\"clients\":" + std::to_string(c.clients) +
          ",\"level\":" + std::to_string(c.level) + ",\"highestCostLastMinute\":" + std::to_string(c.highestCost) + "}";
  return json;
}

HRESULT WorkComponent::get_Statistics(BSTR* statistics) {
  return Guarded([&] {
    if (statistics == nullptr) return E_POINTER;
    *statistics = nullptr;
    *statistics = platform::MakeBstr(Statistics().c_str());
    return S_OK;
  });
}

HRESULT WorkComponent::put_Secret(BSTR secret) {
  return Guarded([&] {
    std::string text;
    if (!platform::Utf8FromUtf16(secret, SysStringLen(secret), text)) return E_INVALIDARG;
    return SetSecret(text);
  });
}

}  // namespace vexorin

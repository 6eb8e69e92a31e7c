#include "component/work/work.h"

#include <cstring>
#include <utility>

#include "component/shared/guarded.h"
#include "component/work/altcha_json.h"
#include "platform/crypto.h"
#include "platform/random_source.h"
#include "platform/text.h"

namespace vexorin {

namespace {

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
  std::int64_t attempts = 0;    // the expected attempts its maker signed in; 0: not said
  std::string prefix;           // lower case
  std::string keySignature;     // empty: the solution is checked by deriving its key
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
      salt == nullptr || !FromHex(*salt, p.salt) || cost == nullptr || !IntegerIn(*cost, 1, kMaxWorkIterations, p.cost) ||
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
  if (Member(json, "keySignature") != nullptr) {
    const std::string* text = StringMember(json, "keySignature");
    if (text == nullptr || text->size() != 2 * platform::kSha256Bytes || !IsLowerHex(*text)) return false;
    p.keySignature = *text;
  }
  const Json* data = Member(json, "data");
  const std::string* session = data != nullptr ? StringMember(*data, "session") : nullptr;
  if (session != nullptr) p.session = *session;
  const Json* attempts = data != nullptr ? Member(*data, "attempts") : nullptr;
  if (attempts != nullptr && !IntegerIn(*attempts, 1, 0x100000000ll, p.attempts)) return false;
  return true;
}

// The work a challenge asks, in PBKDF2 iterations: as its maker signed it; else a prefix form's
// 16 to the prefix's length; else (another server's counter form) the attempts the counter took.
std::int64_t ExpectedWork(const Parameters& p, std::uint32_t counter) {
  std::int64_t attempts = p.attempts;
  if (attempts == 0) {
    attempts = static_cast<std::int64_t>(counter) + 1;
    if (p.prefix.size() <= kMaxPrefixFormDigits) attempts = std::int64_t{1} << (4 * p.prefix.size());
  }
  return attempts * p.cost;
}

// The password ALTCHA derives from: the nonce, then the counter as a big-endian 32-bit word.
std::vector<unsigned char> Password(const std::vector<unsigned char>& nonce, std::uint32_t counter) {
  std::vector<unsigned char> password = nonce;
  for (int shift = 24; shift >= 0; shift -= 8) password.push_back(static_cast<unsigned char>(counter >> shift));
  return password;
}

HRESULT HexHmac(const SecretBytes& key, const void* data, std::size_t size, std::string& hex) {
  unsigned char mac[platform::kSha256Bytes];
  const HRESULT hr = platform::HmacSha256(key.data(), key.size(), data, size, mac);
  if (SUCCEEDED(hr)) hex = Hex(mac, sizeof mac);
  return hr;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && platform::ConstantTimeEqual(a.data(), b.data(), a.size());
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
    case WorkOutcome::kBusy: return "busy";
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

WorkComponent::WorkComponent(WorkState* state) noexcept
    : state_(state != nullptr ? state : &ProcessWorkState()), processState_(state == nullptr) {}

HRESULT WorkComponent::Keys(const WorkKeys*& keys) {
  if (!secret_.signing.empty()) {
    keys = &secret_;
    return S_OK;
  }
  return state_->keys.Get(keys);  // one per process, shared by every object without a Secret
}

HRESULT WorkComponent::NeedsSecret() {
  if (store_ == nullptr || !secret_.signing.empty()) return S_OK;
  failure_ = "A Store needs the Secret the whole farm shares: set Secret as well";
  return E_INVALIDARG;
}

HRESULT WorkComponent::CreateChallenge(const std::string& binding, const std::string& client, std::string& challenge) {
  if (processState_) MarkProcessWorkStateInUse();
  failure_.clear();
  if (FAILED(NeedsSecret())) return E_INVALIDARG;
  const WorkKeys* keys = nullptr;
  HRESULT hr = Keys(keys);
  if (FAILED(hr)) return hr;
  WorkTag clientTag{};
  if (!client.empty()) {
    hr = state_->ledger.TagOf("client " + ClientGroup(client), clientTag);
    if (FAILED(hr)) return hr;
  }
  std::uint64_t clientKey;
  std::memcpy(&clientKey, clientTag.data(), sizeof clientKey);
  // On a farm, the client's count is the store's (every process's challenges); when the store fails,
  // the process's own.
  double farmCount = -1;
  if (store_ != nullptr && !client.empty()) {
    std::string name, ignored;
    hr = StoreKeyName(secret_.signing, store_->Prefix() + "client:", "client " + ClientGroup(client), name);
    if (FAILED(hr)) return hr;
    if (FAILED(store_->CountClient(name, farmCount, ignored))) farmCount = -1;
  }
  const std::int64_t now = state_->Now();
  const std::int64_t work =
      state_->pricing.Price(!client.empty(), clientKey, cost_, maxCost_, now, farmCount) * kWorkCostUnit;
  unsigned char random[40];
  hr = platform::SecureRandomBytes(random, sizeof random);
  if (FAILED(hr)) return hr;
  const std::vector<unsigned char> nonce(random, random + 16);
  std::int64_t iterations = kWorkAttemptCost, attempts;
  std::string prefix, keySignature;
  if (state_->pricing.TakeDerivation(now)) {
    // The counter form: the counter drawn uniformly from [0, 2N), so that a solver counting from 0
    // (as the widget does) expects N attempts and none can skip a part of the range.
    attempts = (work + kWorkAttemptCost - 1) / kWorkAttemptCost;
    std::uint64_t draw;
    std::memcpy(&draw, random + 32, sizeof draw);
    const auto counter = static_cast<std::uint32_t>(draw % static_cast<std::uint64_t>(2 * attempts));
    const std::vector<unsigned char> password = Password(nonce, counter);
    unsigned char key[kWorkKeyLength];
    hr = state_->Derive(password.data(), password.size(), random + 16, 16, static_cast<unsigned long>(iterations), key,
                        sizeof key);
    if (SUCCEEDED(hr)) hr = HexHmac(keys->keySignature, key, sizeof key, keySignature);
    prefix = Hex(key, kWorkKeyPrefixBytes);
    platform::SecureZero(key, sizeof key);
    if (FAILED(hr)) return hr;
  } else {
    // The prefix form at no more than the same cost an attempt: 16 to the prefix's length attempts.
    std::size_t digits = 1;
    while (digits < kMaxPrefixFormDigits && work > (kWorkAttemptCost << (4 * digits))) ++digits;
    attempts = std::int64_t{1} << (4 * digits);
    iterations = (work + attempts - 1) / attempts;
    prefix.assign(digits, '0');
  }
  // The parameters in JSON.stringify's form with sorted keys: the text ALTCHA signs.
  std::string parameters = "{\"algorithm\":\"";
  parameters += kWorkAlgorithm;
  parameters += "\",\"cost\":" + std::to_string(iterations);
  parameters += ",\"data\":{\"attempts\":" + std::to_string(attempts);
  if (!binding.empty()) {
    parameters += ",\"session\":";
    AppendJsonString(parameters, BindingInData(binding));
  }
  parameters += "},\"expiresAt\":" + std::to_string(now + expires_);
  parameters += ",\"keyLength\":" + std::to_string(kWorkKeyLength);
  parameters += ",\"keyPrefix\":\"" + prefix + '"';
  if (!keySignature.empty()) parameters += ",\"keySignature\":\"" + keySignature + '"';
  parameters += ",\"nonce\":\"" + Hex(random, 16) + "\",\"salt\":\"" + Hex(random + 16, 16) + "\"}";
  std::string signature;
  hr = HexHmac(keys->signing, parameters.data(), parameters.size(), signature);
  if (FAILED(hr)) return hr;
  challenge = "{\"parameters\":" + parameters + ",\"signature\":\"" + signature + "\"}";
  return S_OK;
}

HRESULT WorkComponent::Verify(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome) {
  if (processState_) MarkProcessWorkStateInUse();
  failure_.clear();
  if (FAILED(NeedsSecret())) return E_INVALIDARG;
  const HRESULT hr = VerifyUncounted(payload, size, binding, outcome);
  if (SUCCEEDED(hr)) state_->CountOutcome(static_cast<int>(outcome));
  return hr;
}

HRESULT WorkComponent::VerifyUncounted(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome) {
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

  // 2. The signature, before any field is trusted (a cost of 1, another prefix, a key signature).
  const WorkKeys* keys = nullptr;
  HRESULT hr = Keys(keys);
  if (FAILED(hr)) return hr;
  std::string canonical, expected;
  AppendCanonical(canonical, *parametersJson);
  hr = HexHmac(keys->signing, canonical.data(), canonical.size(), expected);
  if (FAILED(hr)) return hr;
  if (!SameText(*signature, expected)) return Answer(outcome, WorkOutcome::kInvalidSignature);
  Parameters p;
  if (!ReadParameters(*parametersJson, p)) return S_OK;

  // 3. This page's challenge, on this object's terms, still alive.
  const std::int64_t now = state_->Now();
  if (p.session != BindingInData(binding)) return Answer(outcome, WorkOutcome::kInvalidBinding);
  std::uint32_t counter = 0;
  const std::string* sentKey = nullptr;
  const bool wellFormed = ReadSolution(*solution, p, counter, sentKey);  // else counter 0 for the policy
  if (ExpectedWork(p, counter) < cost_ * kWorkCostUnit) return Answer(outcome, WorkOutcome::kCostTooLow);
  if (p.expiresAt > now + expires_ + kWorkClockSkew) return Answer(outcome, WorkOutcome::kLifetimeTooLong);
  if (p.expiresAt < now) return Answer(outcome, WorkOutcome::kExpired);
  if (!wellFormed) return Answer(outcome, WorkOutcome::kInvalidSolution);

  // 4. A verified challenge never again.
  WorkTag tag;
  hr = state_->ledger.TagOf(*signature, tag);
  if (FAILED(hr)) return hr;
  if (state_->ledger.WasVerified(tag, now)) return Answer(outcome, WorkOutcome::kReplayed);
  if (sentKey->compare(0, p.prefix.size(), p.prefix) != 0) return Answer(outcome, WorkOutcome::kInvalidSolution);

  // 5. The server knows the answer: one HMAC of the sent key against the signed one.
  if (!p.keySignature.empty()) {
    std::vector<unsigned char> key;
    std::string mac;
    if (!FromHex(*sentKey, key)) return Answer(outcome, WorkOutcome::kInvalidSolution);
    hr = HexHmac(keys->keySignature, key.data(), key.size(), mac);
    if (FAILED(hr)) return hr;
    if (!SameText(mac, p.keySignature)) return Answer(outcome, WorkOutcome::kInvalidSolution);
  } else {
    // 6. Else one key derivation per challenge, in turn: a retry, right or wrong, runs none.
    if (state_->ledger.WasChecked(tag)) return Answer(outcome, WorkOutcome::kAlreadyChecked);
    DerivationGate::Turn turn(state_->gate);
    if (!turn.Held()) return Answer(outcome, WorkOutcome::kBusy);
    if (!state_->ledger.AdmitCheck(tag, p.expiresAt, now)) return Answer(outcome, WorkOutcome::kAlreadyChecked);
    const std::vector<unsigned char> password = Password(p.nonce, counter);
    std::vector<unsigned char> derived(static_cast<std::size_t>(p.keyLength));
    hr = turn.Derive(password.data(), password.size(), p.salt.data(), p.salt.size(),
                     static_cast<unsigned long>(p.cost), derived.data(), derived.size());
    if (FAILED(hr)) return hr;
    if (!SameText(Hex(derived.data(), derived.size()), *sentKey)) return Answer(outcome, WorkOutcome::kInvalidSolution);
  }
  // 7. On a farm, the first process to record the challenge in the shared store verifies it.
  if (store_ != nullptr) {
    std::string name;
    hr = StoreKeyName(secret_.signing, store_->Prefix(), *signature, name);
    if (FAILED(hr)) return hr;
    bool added = false;
    hr = store_->AddIfAbsent(name, (p.expiresAt - now + kWorkClockSkew) * 1000, added, failure_);
    if (FAILED(hr)) return hr;
    if (!added) {
      state_->ledger.RememberVerified(tag, p.expiresAt, now);  // a later replay here costs no round trip
      return Answer(outcome, WorkOutcome::kReplayed);
    }
  }
  if (!state_->ledger.RememberVerified(tag, p.expiresAt, now)) return Answer(outcome, WorkOutcome::kReplayed);
  state_->pricing.CountVerified(now);
  return Answer(outcome, WorkOutcome::kVerified);
}

HRESULT WorkComponent::SetSecret(const std::string& utf8) {
  if (utf8.empty()) return E_INVALIDARG;
  return MakeWorkKeys(utf8.data(), utf8.size(), secret_);
}

HRESULT WorkComponent::SetStore(const std::string& url) {
  failure_.clear();
  if (url.empty()) {
    store_.reset();
    return S_OK;
  }
  std::shared_ptr<WorkStore> store;
  if (FAILED(SharedStore(url, store))) {
    failure_ = "Store must be a URL such as redis://:password@host:6379/0?prefix=site1:&timeout=250";
    return E_INVALIDARG;
  }
  store_ = std::move(store);
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
    const HRESULT hr = CreateChallenge(text, clientText, json);
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
      const HRESULT hr = Verify(text.data(), text.size(), bindingText, outcome);
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
  const std::int64_t now = state_->Now();
  const WorkPricing::Reading r = state_->pricing.Read(now);
  std::string json = "{\"challenges\":" + std::to_string(r.challenges) +
                     ",\"challengesWithoutDerivation\":" + std::to_string(r.withoutDerivation) + ",\"verify\":{";
  for (int i = static_cast<int>(WorkOutcome::kVerified); i <= static_cast<int>(WorkOutcome::kBusy); ++i) {
    if (i != static_cast<int>(WorkOutcome::kVerified)) json += ',';
    AppendJsonString(json, WorkOutcomeText(static_cast<WorkOutcome>(i)));
    json += ':' + std::to_string(state_->Outcomes(i));
  }
  json += "},\"derivations\":" + std::to_string(state_->Derivations()) + ",\"clients\":" + std::to_string(r.clients) +
          ",\"level\":" + std::to_string(r.level) + ",\"highestCostLastMinute\":" + std::to_string(r.highestCost) + "}";
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

HRESULT WorkComponent::put_Store(BSTR url) {
  return Guarded([&] {
    std::string text;
    if (!platform::Utf8FromUtf16(url, SysStringLen(url), text)) return E_INVALIDARG;
    return SetStore(text);
  });
}

}  // namespace vexorin

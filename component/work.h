// Proof of work in ALTCHA's format: challenges of PBKDF2-HMAC-SHA-256 over a random nonce and salt
// that the visitor's browser solves in the background, signed with HMAC-SHA-256, and the check of
// the payload the widget returns. A plain object whose methods return HRESULTs and never throw.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"

namespace vexorin {

constexpr LONG kMinWorkCost = 100;          // PBKDF2 iterations per attempt
constexpr LONG kMaxWorkCost = 1000000;
constexpr LONG kDefaultWorkCost = 20000;    // see the README: about a second in chromium here
constexpr LONG kMinWorkExpires = 10;        // seconds
constexpr LONG kMaxWorkExpires = 86400;
constexpr LONG kDefaultWorkExpires = 600;
constexpr std::size_t kMaxPayloadSize = 16384;   // base64 characters, checked before decoding
constexpr std::size_t kMaxBindingSize = 1024;    // UTF-16 units of a binding
constexpr std::size_t kReplayCapacity = 65536;   // verified challenges remembered at once
constexpr const char* kWorkAlgorithm = "PBKDF2/SHA-256";
constexpr const char* kWorkKeyPrefix = "00";     // one attempt in 256 succeeds
constexpr std::size_t kWorkKeyLength = 32;

// Why Verify answered as it did.
enum class WorkOutcome { kNone, kVerified, kMalformed, kInvalidSignature, kInvalidBinding, kExpired,
                         kInvalidSolution, kReplayed, kReplayTableFull };
const char* WorkOutcomeText(WorkOutcome outcome) noexcept;

// The signatures of verified challenges until they expire, so that none is verified twice. Bounded:
// when full of unexpired entries it refuses to take more (Remember answers kFull).
class ReplayTable {
 public:
  explicit ReplayTable(std::size_t capacity) : capacity_(capacity) {}
  enum class Result { kRemembered, kSeen, kFull };
  bool Seen(const std::string& signature, std::int64_t now);
  Result Remember(const std::string& signature, std::int64_t expiresAt, std::int64_t now);
  std::size_t Size(std::int64_t now);  // after pruning what expired before `now`

 private:
  void Prune(std::int64_t now);  // with the lock held
  std::mutex mutex_;
  std::size_t capacity_;
  std::unordered_set<std::string> signatures_;
  std::multimap<std::int64_t, std::string> byExpiry_;
};

// JSON.stringify's text of a parsed value with every object's keys sorted, as ALTCHA signs it.
// Strings, integers, booleans and null come out as JavaScript writes them; other numbers may not
// (a payload holding them fails the signature, never passes it). Throws std::bad_alloc.
std::string CanonicalJson(const std::string& json, bool& parsed);

class WorkComponent {
 public:
  using Clock = std::int64_t (*)();  // seconds since 1970
  // `table` null: the process's own. `clock` null: the system's.
  explicit WorkComponent(ReplayTable* table = nullptr, Clock clock = nullptr) noexcept;
  WorkComponent(const WorkComponent&) = delete;
  WorkComponent& operator=(const WorkComponent&) = delete;

  // A challenge as JSON text; `binding` (null or empty: none) goes into its signed data.
  HRESULT CreateChallenge(BSTR binding, BSTR* challenge);
  // The widget's base64 payload: *verified VARIANT_TRUE only for a solved, signed, unexpired,
  // unreplayed challenge bound to `binding`; Reason says why.
  HRESULT Verify(BSTR payload, BSTR binding, VARIANT_BOOL* verified);
  HRESULT get_Reason(BSTR* reason);
  HRESULT get_Cost(LONG* cost);
  HRESULT put_Cost(LONG cost);
  HRESULT get_Expires(LONG* seconds);
  HRESULT put_Expires(LONG seconds);
  // The HMAC key as text (its UTF-8 bytes, as ALTCHA's libraries take it); E_INVALIDARG when empty
  // or not UTF-16 text.
  HRESULT put_Secret(BSTR secret);

  // The same in 8-bit terms, for the tool and the tests.
  HRESULT Challenge(const std::string& binding, std::string& challenge);
  WorkOutcome Check(const char* payload, std::size_t size, const std::string& binding);
  HRESULT SetSecret(const std::string& utf8);
  WorkOutcome LastOutcome() const noexcept { return outcome_; }

 private:
  HRESULT Key(std::vector<unsigned char>& key);
  ReplayTable* table_;
  Clock clock_;
  LONG cost_ = kDefaultWorkCost;
  LONG expires_ = kDefaultWorkExpires;
  std::vector<unsigned char> secret_;  // empty: the process's key
  WorkOutcome outcome_ = WorkOutcome::kNone;
};

}  // namespace vexorin

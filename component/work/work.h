// Proof of work in ALTCHA's format: challenges of PBKDF2-HMAC-SHA-256 over a random nonce and salt
// that the visitor's browser solves in the background, signed with HMAC-SHA-256, and the check of
// the payload the widget returns. The server knows the answer: it draws the counter, derives that
// one key and signs an HMAC of it into the challenge, so a check is one HMAC and a wrong solution
// costs microseconds; the price is the number of attempts, never the cost of one. Past a budget of
// such derivations a second, challenges come in the prefix form instead (nothing derived when
// made, one small derivation when checked). A plain object whose methods return HRESULTs and
// never throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "component/work/work_state.h"
#include "component/work/work_store.h"
#include "platform/platform.h"

namespace vexorin {

// Cost is expected work in units of 256 PBKDF2 iterations: what one attempt cost when one attempt
// in 256 succeeded, so that a page's Cost asks the same work it always did.
constexpr LONG kMinWorkCost = 100;
constexpr LONG kMaxWorkCost = 1000000;
constexpr LONG kDefaultWorkCost = 20000;    // docs/security.md: about a second and a half in chromium here
constexpr LONG kDefaultWorkMaxCost = 160000;  // the most a flood is asked: eight times the default
constexpr std::int64_t kWorkCostUnit = 256;   // PBKDF2 iterations of expected work per unit of Cost
// Iterations per attempt: low enough that a challenge costs the server little, high enough that
// the widget's own overhead per attempt (60-95 us in chromium here) stays small beside it.
constexpr std::int64_t kWorkAttemptCost = 1250;
constexpr std::int64_t kMaxWorkIterations = 1000000;  // a signed challenge's iterations per attempt
constexpr std::size_t kMaxPrefixFormDigits = 8;       // a longer key prefix is the counter form's
constexpr LONG kMinWorkExpires = 10;        // seconds
constexpr LONG kMaxWorkExpires = 86400;
constexpr LONG kDefaultWorkExpires = 600;
constexpr LONG kWorkClockSkew = 60;         // a farm's clocks may differ this much, in seconds
constexpr std::size_t kMaxPayloadSize = 16384;   // base64 characters, checked before decoding
constexpr std::size_t kMaxBindingSize = 1024;    // UTF-16 units of a binding
constexpr std::size_t kMaxClientSize = 256;      // UTF-16 units of a client's address
constexpr const char* kWorkAlgorithm = "PBKDF2/SHA-256";
constexpr std::size_t kWorkKeyLength = 32;
constexpr std::size_t kWorkKeyPrefixBytes = 16;   // the counter form's prefix: half the key

// Why Verify answered as it did.
enum class WorkOutcome { kNone, kVerified, kMalformed, kInvalidSignature, kInvalidBinding, kCostTooLow,
                         kLifetimeTooLong, kExpired, kInvalidSolution, kAlreadyChecked, kReplayed, kBusy };
const char* WorkOutcomeText(WorkOutcome outcome) noexcept;

// A binding as the challenge's data carries it: printable to the widget's btoa whatever the
// script, so '%' and every byte of a character beyond ASCII are written %XX; ASCII stays readable.
std::string BindingInData(const std::string& utf8);

class WorkComponent {
 public:
  // `state` null: the process's own.
  explicit WorkComponent(WorkState* state = nullptr) noexcept;
  WorkComponent(const WorkComponent&) = delete;
  WorkComponent& operator=(const WorkComponent&) = delete;

  // A challenge as JSON text; `binding` (null or empty: none) goes into its signed data. `client`
  // (null or empty: none), the visitor's address as the page knows it, is counted for its price.
  HRESULT CreateChallenge(BSTR binding, BSTR client, BSTR* challenge);
  // The widget's base64 payload: *verified VARIANT_TRUE only for a solved, signed, unexpired,
  // unreplayed challenge bound to `binding` and made within this object's Cost and Expires; Reason
  // says why ("busy" when too many checks wait for a key derivation: the visitor may try again).
  // A failure HRESULT (no verdict) when the platform's cryptography fails or the farm's store gives
  // no answer.
  HRESULT Verify(BSTR payload, BSTR binding, VARIANT_BOOL* verified);
  HRESULT get_Reason(BSTR* reason);
  HRESULT get_Cost(LONG* cost);
  HRESULT put_Cost(LONG cost);
  HRESULT get_Expires(LONG* seconds);
  HRESULT put_Expires(LONG seconds);
  HRESULT get_MaxCost(LONG* cost);
  HRESULT put_MaxCost(LONG cost);
  // The process's counters as JSON text, for a site's status page.
  HRESULT get_Statistics(BSTR* statistics);
  // The HMAC key as text (its UTF-8 bytes, as ALTCHA's libraries take it); E_INVALIDARG when empty
  // or not UTF-16 text.
  HRESULT put_Secret(BSTR secret);
  // The farm's store as a redis:// URL (empty: none, each process remembers alone); E_INVALIDARG
  // when it does not parse. With a store, a payload verifies only if the store had not recorded its
  // challenge; it needs the farm's shared Secret, and a store that cannot answer fails Verify with
  // kStoreFailed (no verdict).
  HRESULT put_Store(BSTR url);

  // The same in 8-bit terms, for the tool and the tests.
  HRESULT CreateChallenge(const std::string& binding, const std::string& client, std::string& challenge);
  HRESULT CreateChallenge(const std::string& binding, std::string& challenge) {
    return CreateChallenge(binding, "", challenge);
  }
  // The verdict in `outcome`; a failure HRESULT only when the platform or the farm's store failed
  // (kStoreFailed), or a Store lacks its Secret (E_INVALIDARG); Failure() then says why.
  HRESULT Verify(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome);
  HRESULT SetSecret(const std::string& utf8);
  HRESULT SetStore(const std::string& url);
  // A store of the host's own (a page's object); null: none.
  HRESULT SetStore(std::shared_ptr<WorkStore> store) noexcept {
    failure_.clear();
    store_ = std::move(store);
    return S_OK;
  }
  // What the last failed call has to say beyond its HRESULT (a store's, a missing Secret); empty if nothing.
  const std::string& Failure() const noexcept { return failure_; }
  WorkOutcome LastOutcome() const noexcept { return outcome_; }
  std::string Statistics();

 private:
  HRESULT Keys(const WorkKeys*& keys);
  HRESULT NeedsSecret();
  HRESULT VerifyUncounted(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome);
  WorkState* state_;
  bool processState_;
  LONG cost_ = kDefaultWorkCost;
  LONG maxCost_ = kDefaultWorkMaxCost;
  LONG expires_ = kDefaultWorkExpires;
  WorkKeys secret_;  // empty: the process's keys
  WorkOutcome outcome_ = WorkOutcome::kNone;
  std::shared_ptr<WorkStore> store_;  // null: none
  std::string failure_;
};

}  // namespace vexorin

// Proof of work in ALTCHA's format: challenges of PBKDF2-HMAC-SHA-256 over a random nonce and salt
// that the visitor's browser solves in the background, signed with HMAC-SHA-256, and the check of
// the payload the widget returns. A plain object whose methods return HRESULTs and never throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "component/work/work_ledger.h"
#include "platform/platform.h"

namespace vexorin {

constexpr LONG kMinWorkCost = 100;          // PBKDF2 iterations per attempt
constexpr LONG kMaxWorkCost = 1000000;
constexpr LONG kDefaultWorkCost = 20000;    // see the README: about a second in chromium here
constexpr LONG kDefaultWorkMaxCost = 160000;  // the most a flood is asked: the widget's worst case ~30 s
constexpr LONG kMinWorkExpires = 10;        // seconds
constexpr LONG kMaxWorkExpires = 86400;
constexpr LONG kDefaultWorkExpires = 600;
constexpr LONG kWorkClockSkew = 60;         // a farm's clocks may differ this much, in seconds
constexpr std::size_t kMaxPayloadSize = 16384;   // base64 characters, checked before decoding
constexpr std::size_t kMaxBindingSize = 1024;    // UTF-16 units of a binding
constexpr std::size_t kMaxClientSize = 256;      // UTF-16 units of a client's address
constexpr const char* kWorkAlgorithm = "PBKDF2/SHA-256";
constexpr const char* kWorkKeyPrefix = "00";     // one attempt in 256 succeeds
constexpr std::size_t kWorkKeyLength = 32;

// Why Verify answered as it did.
enum class WorkOutcome { kNone, kVerified, kMalformed, kInvalidSignature, kInvalidBinding, kCostTooLow,
                         kLifetimeTooLong, kExpired, kInvalidSolution, kAlreadyChecked, kReplayed };
const char* WorkOutcomeText(WorkOutcome outcome) noexcept;

// A binding as the challenge's data carries it: printable to the widget's btoa whatever the
// script, so '%' and every byte of a character beyond ASCII are written %XX; ASCII stays readable.
std::string BindingInData(const std::string& utf8);

class WorkComponent {
 public:
  using Clock = std::int64_t (*)();  // seconds since 1970
  // `ledger` null: the process's own. `clock` null: the system's.
  explicit WorkComponent(WorkLedger* ledger = nullptr, Clock clock = nullptr) noexcept;
  WorkComponent(const WorkComponent&) = delete;
  WorkComponent& operator=(const WorkComponent&) = delete;

  // A challenge as JSON text; `binding` (null or empty: none) goes into its signed data. `client`
  // (null or empty: none), the visitor's address as the page knows it, is counted for its price.
  HRESULT CreateChallenge(BSTR binding, BSTR client, BSTR* challenge);
  // The widget's base64 payload: *verified VARIANT_TRUE only for a solved, signed, unexpired,
  // unreplayed challenge bound to `binding` and made within this object's Cost and Expires; Reason
  // says why. A failure HRESULT (no verdict) when the platform's cryptography fails.
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

  // The same in 8-bit terms, for the tool and the tests.
  HRESULT Challenge(const std::string& binding, const std::string& client, std::string& challenge);
  HRESULT Challenge(const std::string& binding, std::string& challenge) { return Challenge(binding, "", challenge); }
  // The verdict in `outcome`; a failure HRESULT only when the platform failed.
  HRESULT Check(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome);
  HRESULT SetSecret(const std::string& utf8);
  WorkOutcome LastOutcome() const noexcept { return outcome_; }
  std::string Statistics();

 private:
  HRESULT Key(std::vector<unsigned char>& key);
  HRESULT Judge(const char* payload, std::size_t size, const std::string& binding, WorkOutcome& outcome);
  HRESULT SignatureHolds(const std::string& canonical, const std::string& signature, bool& holds);
  WorkLedger* ledger_;
  bool processLedger_;
  Clock clock_;
  LONG cost_ = kDefaultWorkCost;
  LONG maxCost_ = kDefaultWorkMaxCost;
  LONG expires_ = kDefaultWorkExpires;
  std::vector<unsigned char> secret_;  // empty: the process's key
  WorkOutcome outcome_ = WorkOutcome::kNone;
};

}  // namespace vexorin

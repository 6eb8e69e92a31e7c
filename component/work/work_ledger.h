// What a process remembers of the proof of work, shared by all its objects: the challenges already
// verified (a replay is refused) and those whose solution was checked (a retry runs no key
// derivation), each a bounded set of 16-byte tags; how often each client and the whole process
// ask (the price); the highest time seen; a cap on the key derivations running at once, so that a
// flood queues instead of starving the host's threads; and counters a site can watch.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "component/work/probe_index.h"
#include "component/work/work_pricing.h"
#include "platform/platform.h"

namespace vexorin {

// Filling either set within a challenge's lifetime takes one paid key derivation per entry.
constexpr std::size_t kReplayCapacity = std::size_t{1} << 20;  // about 32 MiB at the cap
constexpr std::size_t kCheckedCapacity = std::size_t{1} << 18;  // about 8 MiB at the cap

using WorkTag = std::array<unsigned char, 16>;

// Tags with their expiry, at most `capacity` at once; when full, the one taken longest ago is
// forgotten first. Memory grows with use, to about 32 bytes an entry at the cap. Not locked.
class RecentTags {
 public:
  explicit RecentTags(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}
  bool Contains(const WorkTag& tag) const;
  // False when `tag` is already there. What expired before `now` goes first, then the oldest if full.
  bool Insert(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now);
  void Prune(std::int64_t now);
  std::size_t Size() const { return size_; }
  std::size_t Forgotten() const { return forgotten_; }  // taken out before they expired
  std::size_t MemoryBytes() const { return ring_.capacity() * sizeof(Entry) + index_.MemoryBytes(); }

 private:
  struct Entry {
    WorkTag tag;
    std::int64_t expiresAt;
  };
  std::size_t Home(const WorkTag& tag) const;
  std::size_t Find(const WorkTag& tag) const;  // the index slot holding it, or ProbeIndex::kNone
  void RemoveOldest();
  void Grow();
  std::size_t capacity_;
  std::vector<Entry> ring_;             // size_ entries from head_, oldest first
  ProbeIndex index_;                    // ring positions + 1, at least twice the ring's slots
  std::size_t head_ = 0, size_ = 0, forgotten_ = 0;
};

// A 256-bit key drawn from the system's generator at first use; a failed draw is tried again at
// the next. Thread-safe.
class DrawnKey {
 public:
  HRESULT Get(std::vector<unsigned char>& key);

 private:
  std::mutex mutex_;
  std::vector<unsigned char> key_;
};

class WorkLedger {
 public:
  using Derive = HRESULT (*)(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                             unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept;
  // `concurrent` 0: as many derivations at once as the machine has processors. `derive` null: PBKDF2.
  explicit WorkLedger(std::size_t replayCapacity = kReplayCapacity, std::size_t checkedCapacity = kCheckedCapacity,
                      unsigned concurrent = 0, Derive derive = nullptr);
  WorkLedger(const WorkLedger&) = delete;
  WorkLedger& operator=(const WorkLedger&) = delete;

  // The highest of `clock` and every time seen before: a clock stepped back brings nothing back.
  std::int64_t Now(std::int64_t clock) noexcept;
  // A challenge's tag: its signature digested under a key of the ledger's own, so that nobody who
  // sees signatures can crowd the sets' buckets.
  HRESULT TagOf(const std::string& signature, WorkTag& tag);  // any text: clients are keyed the same way

  enum class Admission { kAdmitted, kReplayed, kAlreadyChecked };
  // Before a solution is checked: refused if verified or checked before, else remembered as checked.
  Admission Admit(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now);
  // After it held: false if it was verified already.
  bool RememberVerified(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now);
  // PBKDF2-HMAC-SHA-256 through the cap on derivations at once.
  HRESULT DeriveKey(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                    unsigned long iterations, unsigned char* out, std::size_t outSize);

  // The price of a new challenge for `client` (empty: counted for the process only): `cost`
  // doubled per step the client's and the process's counts earn, at most `maxCost`, never below
  // `cost`. Counts the challenge.
  HRESULT PriceChallenge(const std::string& client, std::int64_t cost, std::int64_t maxCost, std::int64_t now,
                         std::int64_t& price);

  static constexpr int kOutcomeSlots = 16;
  void CountOutcome(int outcome) noexcept {
    if (outcome >= 0 && outcome < kOutcomeSlots) ++outcomes_[outcome];
  }
  struct Counters {
    std::uint64_t challenges, derivations, outcomes[kOutcomeSlots];
    std::size_t clients;
    int level;                       // the process's flood level now
    std::int64_t highestCost;        // the highest price asked in the last minute
  };
  Counters Read(std::int64_t now);

  std::uint64_t Derivations() const noexcept { return derivations_.load(); }
  std::size_t Verified(std::int64_t now);        // entries in the replay set after pruning
  std::size_t ForgottenVerified();               // replay entries given up early under a flood
  std::size_t MemoryBytes();

 private:
  std::mutex mutex_;
  RecentTags verified_, checked_;
  std::atomic<std::int64_t> highest_{0};
  DrawnKey tagKey_;
  std::mutex gateMutex_;
  std::condition_variable gateFree_;
  unsigned running_ = 0, limit_;
  Derive derive_;
  std::atomic<std::uint64_t> derivations_{0};
  std::atomic<std::uint64_t> outcomes_[kOutcomeSlots] = {};
  // Under mutex_:
  ClientCounts clients_{kClientCapacity};
  DecayingCount process_;
  std::uint64_t challenges_ = 0;
  struct SecondHigh {
    std::int64_t second = -1, cost = 0;
  } highs_[60];  // the highest price asked in each of the last 60 seconds
};

// The process's own ledger, which every object uses unless a test gives it another.
WorkLedger& ProcessLedger();
// Whether this process has made or checked a challenge: what it remembers must then outlive the
// objects, so the module stays loaded.
bool ProcessLedgerInUse() noexcept;
void MarkProcessLedgerInUse() noexcept;

}  // namespace vexorin

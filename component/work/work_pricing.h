// The price of a challenge, as the work a visitor is asked: the object's Cost for a person, doubled
// in steps for a client that keeps asking and, in a few levels, for everyone while the process
// verifies solutions in a flood (paid work: free requests raise nobody's price); both fall back
// as it stops. Counts decay with a half-life, so no window edge can be timed. And the budget of
// challenges a second that may carry a key derivation.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "component/work/probe_index.h"

namespace vexorin {

constexpr double kPriceHalfLife = 60;           // seconds, for a client's count and the process's
constexpr double kClientFreeCount = 8;          // a client's decayed count before its price rises
constexpr double kProcessNormalCount = 866;     // about 600 verified solutions a minute, sustained
constexpr int kMaxProcessLevel = 3;             // the flood's price for everyone: at most 8 times
constexpr std::size_t kClientCapacity = 65536;  // clients tracked; the least recently seen go first
constexpr unsigned kChallengeDerivationsPerProcessor = 100;  // a second, before challenges need none

// A decaying count: each event adds one, and the total halves every kPriceHalfLife seconds.
struct DecayingCount {
  double value = 0;
  std::int64_t last = 0;
  double Add(std::int64_t now);
  double At(std::int64_t now) const;
};

// The doublings a decayed count earns above `free`: 0 up to it, 1 up to twice it, 2 up to four times.
int StepsAbove(double count, double free);

// A client as the price counts it: an IPv6 address by its /64 (one customer's network), an IPv4
// address whole, anything else as given. Letter case and a zone index do not make a new client.
std::string ClientGroup(const std::string& client);

// Decaying counts of clients by key, at most `capacity`; a new client beyond it takes the place of
// the least recently seen, whose price so falls back to the base (never toward a lockout). Not
// locked: the ledger locks. About 40 bytes a client.
class ClientCounts {
 public:
  explicit ClientCounts(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}
  double Add(std::uint64_t key, std::int64_t now);  // the count after this challenge
  std::size_t Size() const { return size_; }
  std::size_t MemoryBytes() const {
    return entries_.capacity() * sizeof(Entry) + index_.MemoryBytes();
  }

 private:
  struct Entry {
    std::uint64_t key;
    DecayingCount count;
    std::uint32_t newer, older;  // positions + 1 in the recency list, 0 for none
  };
  std::size_t Find(std::uint64_t key) const;  // index slot, or ProbeIndex::kNone
  void Unlink(std::uint32_t position);
  void PushNewest(std::uint32_t position);
  void Grow();
  std::size_t capacity_;
  std::vector<Entry> entries_;
  ProbeIndex index_;  // entry positions + 1, at least twice the entries' room
  std::size_t size_ = 0;
  std::uint32_t newest_ = 0, oldest_ = 0;
};

// The pricing state a process shares, under a lock of its own that no derivation or HMAC is held in.
class WorkPricing {
 public:
  // `budget`: challenges a second that may carry a derivation; 0: kChallengeDerivationsPerProcessor
  // for each of the machine's processors.
  explicit WorkPricing(unsigned budget = 0);
  WorkPricing(const WorkPricing&) = delete;
  WorkPricing& operator=(const WorkPricing&) = delete;

  // The price of a new challenge for the client keyed `clientKey` (`hasClient` false: none): `cost`
  // doubled per step the client's count and the process's verified solutions earn, at most
  // `maxCost`, never below `cost`. Counts the challenge for its client.
  std::int64_t Price(bool hasClient, std::uint64_t clientKey, std::int64_t cost, std::int64_t maxCost,
                     std::int64_t now) {
    return Price(hasClient, clientKey, cost, maxCost, now, -1);
  }
  // The same with the client's count as the farm's store keeps it (`farmCount` >= 0), which the
  // price then follows; the process still counts the client, its fallback when the store fails.
  std::int64_t Price(bool hasClient, std::uint64_t clientKey, std::int64_t cost, std::int64_t maxCost,
                     std::int64_t now, double farmCount);
  void CountVerified(std::int64_t now);
  // Whether one more challenge this second may carry a derivation; counted when it may.
  bool TakeDerivation(std::int64_t now) noexcept;

  struct Reading {
    std::uint64_t challenges, withoutDerivation;
    std::size_t clients;
    int level;                 // the process's flood level now
    std::int64_t highestCost;  // the highest price asked in the last minute
  };
  Reading Read(std::int64_t now);
  std::size_t MemoryBytes();

 private:
  unsigned budget_;
  std::atomic<std::uint64_t> window_{0};  // the second << 24 | derivations taken in it
  std::atomic<std::uint64_t> challenges_{0}, withoutDerivation_{0};
  std::mutex mutex_;
  ClientCounts clients_{kClientCapacity};
  DecayingCount verified_;
  struct SecondHigh {
    std::int64_t second = -1, cost = 0;
  } highs_[60];  // the highest price asked in each of the last 60 seconds
};

}  // namespace vexorin

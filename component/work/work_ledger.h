// What a process remembers of the proof of work, shared by all its objects: the challenges already
// verified (a replay is refused) and those whose solution a key derivation checked (a retry runs
// none), each a bounded set of 16-byte tags. A solution checked by its key signature costs one
// HMAC and leaves nothing behind, so garbage cannot fill either set for free.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "component/work/probe_index.h"
#include "component/work/work_keys.h"
#include "platform/platform.h"

namespace vexorin {

// Filling the replay set takes one solved challenge per entry, the other one key derivation per entry.
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

class WorkLedger {
 public:
  explicit WorkLedger(std::size_t replayCapacity = kReplayCapacity, std::size_t checkedCapacity = kCheckedCapacity);
  WorkLedger(const WorkLedger&) = delete;
  WorkLedger& operator=(const WorkLedger&) = delete;

  // A digest of `text` (a challenge's signature, a client's name) under a key of the ledger's own,
  // so that nobody who sees signatures can crowd the sets' or the clients' buckets.
  HRESULT TagOf(const std::string& text, WorkTag& tag);

  bool WasVerified(const WorkTag& tag, std::int64_t now);
  // Before a key derivation checks a solution: false if this challenge's solution was checked
  // before, else remembered as checked.
  bool AdmitCheck(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now);
  bool WasChecked(const WorkTag& tag);
  // After a solution held: false if it was verified already.
  bool RememberVerified(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now);

  std::size_t Verified(std::int64_t now);        // entries in the replay set after pruning
  std::size_t ForgottenVerified();               // replay entries given up early under a flood
  std::size_t MemoryBytes();

 private:
  std::mutex mutex_;
  RecentTags verified_, checked_;
  DrawnKeys tagKey_;
};

}  // namespace vexorin

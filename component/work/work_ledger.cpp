#include "component/work/work_ledger.h"

#include <algorithm>
#include <cstring>

#include "platform/crypto.h"

namespace vexorin {

namespace {

constexpr std::size_t kFirstRing = 1024;

}  // namespace

std::size_t RecentTags::Home(const WorkTag& tag) const {
  std::uint64_t bits;
  std::memcpy(&bits, tag.data(), sizeof bits);  // tags are keyed digests: their bits are uniform
  return index_.Home(bits);
}

std::size_t RecentTags::Find(const WorkTag& tag) const {
  if (index_.Empty()) return ProbeIndex::kNone;
  return index_.Find(Home(tag), [&](std::uint32_t position) { return ring_[position - 1].tag == tag; });
}

bool RecentTags::Contains(const WorkTag& tag) const { return Find(tag) != ProbeIndex::kNone; }

void RecentTags::RemoveOldest() {
  index_.Erase(Find(ring_[head_].tag), [this](std::uint32_t position) { return Home(ring_[position - 1].tag); });
  head_ = (head_ + 1) % ring_.size();
  --size_;
}

void RecentTags::Grow() {
  const std::size_t ringSize = std::min(capacity_, ring_.empty() ? kFirstRing : ring_.size() * 2);
  std::vector<Entry> ring(ringSize);
  for (std::size_t i = 0; i < size_; ++i) ring[i] = ring_[(head_ + i) % ring_.size()];
  ring_.swap(ring);
  index_.Reset(ringSize * 2);
  head_ = 0;
  for (std::size_t i = 0; i < size_; ++i) index_.Insert(Home(ring_[i].tag), static_cast<std::uint32_t>(i + 1));
}

void RecentTags::Prune(std::int64_t now) {
  // In the order taken: with one lifetime per site that is expiry order, and a longer-lived entry
  // at the front only delays the pruning behind it until the cap.
  while (size_ > 0 && ring_[head_].expiresAt < now) RemoveOldest();
}

bool RecentTags::Insert(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now) {
  if (Contains(tag)) return false;
  Prune(now);
  if (size_ == ring_.size()) {
    if (ring_.size() < capacity_) {
      Grow();
    } else {
      // Full of live entries: forgetting the oldest lets only its own payload be tried again;
      // refusing to take more would refuse every visitor.
      ++forgotten_;
      RemoveOldest();
    }
  }
  const std::size_t position = (head_ + size_) % ring_.size();
  ring_[position] = Entry{tag, expiresAt};
  ++size_;
  index_.Insert(Home(tag), static_cast<std::uint32_t>(position + 1));
  return true;
}

WorkLedger::WorkLedger(std::size_t replayCapacity, std::size_t checkedCapacity)
    : verified_(replayCapacity), checked_(checkedCapacity) {}

HRESULT WorkLedger::TagOf(const std::string& text, WorkTag& tag) {
  const WorkKeys* keys = nullptr;
  HRESULT hr = tagKey_.Get(keys);
  if (FAILED(hr)) return hr;
  unsigned char digest[platform::kSha256Bytes];
  hr = platform::HmacSha256(keys->signing.data(), keys->signing.size(), text.data(), text.size(), digest);
  if (FAILED(hr)) return hr;
  std::memcpy(tag.data(), digest, tag.size());
  return S_OK;
}

bool WorkLedger::WasVerified(const WorkTag& tag, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  verified_.Prune(now);
  return verified_.Contains(tag);
}

bool WorkLedger::AdmitCheck(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return checked_.Insert(tag, expiresAt, now);
}

bool WorkLedger::WasChecked(const WorkTag& tag) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return checked_.Contains(tag);
}

bool WorkLedger::RememberVerified(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return verified_.Insert(tag, expiresAt, now);
}

std::size_t WorkLedger::Verified(std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  verified_.Prune(now);
  return verified_.Size();
}

std::size_t WorkLedger::ForgottenVerified() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return verified_.Forgotten();
}

std::size_t WorkLedger::MemoryBytes() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return verified_.MemoryBytes() + checked_.MemoryBytes();
}

}  // namespace vexorin

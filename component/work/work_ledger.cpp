#include "component/work/work_ledger.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "platform/crypto.h"
#include "platform/random_source.h"

namespace vexorin {

namespace {

constexpr std::size_t kFirstRing = 1024;
std::atomic<bool> processLedgerUsed{false};

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

WorkLedger::WorkLedger(std::size_t replayCapacity, std::size_t checkedCapacity, unsigned concurrent, Derive derive)
    : verified_(replayCapacity),
      checked_(checkedCapacity),
      limit_(concurrent != 0 ? concurrent : std::max(1u, std::thread::hardware_concurrency())),
      derive_(derive != nullptr ? derive : &platform::Pbkdf2Sha256) {}

std::int64_t WorkLedger::Now(std::int64_t clock) noexcept {
  std::int64_t seen = highest_.load();
  while (clock > seen && !highest_.compare_exchange_weak(seen, clock)) {
  }
  return std::max(clock, seen);
}

HRESULT DrawnKey::Get(std::vector<unsigned char>& key) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (key_.empty()) {
    std::vector<unsigned char> drawn(32);
    const HRESULT hr = platform::SecureRandomBytes(drawn.data(), drawn.size());
    if (FAILED(hr)) return hr;
    key_ = std::move(drawn);
  }
  key = key_;
  return S_OK;
}

HRESULT WorkLedger::TagOf(const std::string& signature, WorkTag& tag) {
  std::vector<unsigned char> key;
  HRESULT hr = tagKey_.Get(key);
  if (FAILED(hr)) return hr;
  unsigned char digest[platform::kSha256Bytes];
  hr = platform::HmacSha256(key.data(), key.size(), signature.data(), signature.size(), digest);
  if (FAILED(hr)) return hr;
  std::memcpy(tag.data(), digest, tag.size());
  return S_OK;
}

WorkLedger::Admission WorkLedger::Admit(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  verified_.Prune(now);
  if (verified_.Contains(tag)) return Admission::kReplayed;
  return checked_.Insert(tag, expiresAt, now) ? Admission::kAdmitted : Admission::kAlreadyChecked;
}

bool WorkLedger::RememberVerified(const WorkTag& tag, std::int64_t expiresAt, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return verified_.Insert(tag, expiresAt, now);
}

HRESULT WorkLedger::DeriveKey(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                              unsigned long iterations, unsigned char* out, std::size_t outSize) {
  {
    std::unique_lock<std::mutex> lock(gateMutex_);
    gateFree_.wait(lock, [this] { return running_ < limit_; });
    ++running_;
  }
  const HRESULT hr = derive_(password, passwordSize, salt, saltSize, iterations, out, outSize);
  ++derivations_;
  {
    const std::lock_guard<std::mutex> lock(gateMutex_);
    --running_;
  }
  gateFree_.notify_one();
  return hr;
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
  return verified_.MemoryBytes() + checked_.MemoryBytes() + clients_.MemoryBytes();
}

HRESULT WorkLedger::PriceChallenge(const std::string& client, std::int64_t cost, std::int64_t maxCost,
                                   std::int64_t now, std::int64_t& price) {
  WorkTag tag{};
  if (!client.empty()) {
    const HRESULT hr = TagOf("client " + ClientGroup(client), tag);
    if (FAILED(hr)) return hr;
  }
  std::uint64_t key;
  std::memcpy(&key, tag.data(), sizeof key);
  const std::lock_guard<std::mutex> lock(mutex_);
  const int level = std::min(kMaxProcessLevel, StepsAbove(process_.Add(now), kProcessNormalCount));
  const int steps = level + (client.empty() ? 0 : StepsAbove(clients_.Add(key, now), kClientFreeCount));
  price = cost;
  for (int i = 0; i < steps && price < maxCost; ++i) price *= 2;
  price = std::max(cost, std::min(price, maxCost));
  ++challenges_;
  SecondHigh& high = highs_[static_cast<std::size_t>(((now % 60) + 60) % 60)];
  if (high.second != now) high = SecondHigh{now, 0};
  high.cost = std::max(high.cost, price);
  return S_OK;
}

WorkLedger::Counters WorkLedger::Read(std::int64_t now) {
  Counters c{};
  c.derivations = derivations_.load();
  for (int i = 0; i < kOutcomeSlots; ++i) c.outcomes[i] = outcomes_[i].load();
  const std::lock_guard<std::mutex> lock(mutex_);
  c.challenges = challenges_;
  c.clients = clients_.Size();
  c.level = std::min(kMaxProcessLevel, StepsAbove(process_.At(now), kProcessNormalCount));
  for (const SecondHigh& high : highs_) {
    if (high.second > now - 60 && high.second <= now) c.highestCost = std::max(c.highestCost, high.cost);
  }
  return c;
}

WorkLedger& ProcessLedger() {
  static WorkLedger ledger;
  return ledger;
}

bool ProcessLedgerInUse() noexcept { return processLedgerUsed.load(); }
void MarkProcessLedgerInUse() noexcept { processLedgerUsed.store(true); }

}  // namespace vexorin

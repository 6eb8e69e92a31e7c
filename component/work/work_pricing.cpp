#include "component/work/work_pricing.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/ip_address.h"

namespace vexorin {

double DecayingCount::At(std::int64_t now) const {
  const double elapsed = static_cast<double>(std::max<std::int64_t>(0, now - last));
  return value * std::exp2(-elapsed / kPriceHalfLife);
}

double DecayingCount::Add(std::int64_t now) {
  value = At(now) + 1;
  last = std::max(last, now);
  return value;
}

int StepsAbove(double count, double free) {
  if (!(count > free)) return 0;
  return static_cast<int>(std::ceil(std::log2(count / free)));
}

std::string ClientGroup(const std::string& client) {
  unsigned char bytes[16];
  const std::string address = client.substr(0, client.find('%'));  // a zone names no other client
  if (client.find(':') != std::string::npos && platform::ParseIpv6(address, bytes)) {
    std::uint16_t groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    char text[48];
    if (groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 && groups[4] == 0 && groups[5] == 0xFFFF) {
      // An IPv4 address seen through an IPv6 socket is the IPv4 client.
      std::snprintf(text, sizeof text, "%u.%u.%u.%u", groups[6] >> 8, groups[6] & 255u, groups[7] >> 8, groups[7] & 255u);
      return text;
    }
    std::snprintf(text, sizeof text, "%x:%x:%x:%x::/64", groups[0], groups[1], groups[2], groups[3]);
    return text;
  }
  std::string lower = client;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::size_t ClientCounts::Find(std::uint64_t key) const {
  if (index_.Empty()) return ProbeIndex::kNone;
  return index_.Find(index_.Home(key), [&](std::uint32_t position) { return entries_[position - 1].key == key; });
}

void ClientCounts::Unlink(std::uint32_t position) {
  Entry& e = entries_[position - 1];
  if (e.newer != 0) entries_[e.newer - 1].older = e.older; else newest_ = e.older;
  if (e.older != 0) entries_[e.older - 1].newer = e.newer; else oldest_ = e.newer;
  e.newer = e.older = 0;
}

void ClientCounts::PushNewest(std::uint32_t position) {
  Entry& e = entries_[position - 1];
  e.newer = 0;
  e.older = newest_;
  if (newest_ != 0) entries_[newest_ - 1].newer = position; else oldest_ = position;
  newest_ = position;
}

void ClientCounts::Grow() {
  const std::size_t size = std::min(capacity_, entries_.empty() ? std::size_t{1024} : entries_.size() * 2);
  entries_.reserve(size);  // positions stay; only the index is rebuilt
  index_.Reset(size * 2);
  for (std::uint32_t p = 1; p <= entries_.size(); ++p) index_.Insert(index_.Home(entries_[p - 1].key), p);
}

double ClientCounts::Add(std::uint64_t key, std::int64_t now) {
  const std::size_t slot = Find(key);
  std::uint32_t position;
  if (slot != ProbeIndex::kNone) {
    position = index_.At(slot);
    Unlink(position);
  } else if (size_ < capacity_) {
    if (entries_.size() == entries_.capacity()) Grow();
    entries_.push_back(Entry{key, DecayingCount{}, 0, 0});
    position = static_cast<std::uint32_t>(entries_.size());
    ++size_;
    index_.Insert(index_.Home(key), position);
  } else {
    position = oldest_;  // forgotten: its price falls back to the base
    Unlink(position);
    index_.Erase(Find(entries_[position - 1].key),
                 [this](std::uint32_t p) { return index_.Home(entries_[p - 1].key); });
    entries_[position - 1] = Entry{key, DecayingCount{}, 0, 0};
    index_.Insert(index_.Home(key), position);
  }
  PushNewest(position);
  return entries_[position - 1].count.Add(now);
}

WorkPricing::WorkPricing(unsigned budget)
    : budget_(budget != 0 ? budget : kChallengeDerivationsPerProcessor * std::max(1u, std::thread::hardware_concurrency())) {}

std::int64_t WorkPricing::Price(bool hasClient, std::uint64_t clientKey, std::int64_t cost, std::int64_t maxCost,
                                std::int64_t now, double farmCount) {
  ++challenges_;
  const std::lock_guard<std::mutex> lock(mutex_);
  const int level = std::min(kMaxProcessLevel, StepsAbove(verified_.At(now), kProcessNormalCount));
  const double count = hasClient ? clients_.Add(clientKey, now) : 0;
  const int steps = level + (hasClient ? StepsAbove(farmCount >= 0 ? farmCount : count, kClientFreeCount) : 0);
  std::int64_t price = cost;
  for (int i = 0; i < steps && price < maxCost; ++i) price *= 2;
  price = std::max(cost, std::min(price, maxCost));
  SecondHigh& high = highs_[static_cast<std::size_t>(((now % 60) + 60) % 60)];
  if (high.second != now) high = SecondHigh{now, 0};
  high.cost = std::max(high.cost, price);
  return price;
}

void WorkPricing::CountVerified(std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  verified_.Add(now);
}

bool WorkPricing::TakeDerivation(std::int64_t now) noexcept {
  const std::uint64_t second = static_cast<std::uint64_t>(now) << 24;
  std::uint64_t seen = window_.load();
  for (;;) {
    const std::uint64_t taken = (seen & ~std::uint64_t{0xFFFFFF}) == second ? seen & 0xFFFFFF : 0;
    if (taken >= budget_) {
      ++withoutDerivation_;
      return false;
    }
    if (window_.compare_exchange_weak(seen, second | (taken + 1))) return true;
  }
}

WorkPricing::Reading WorkPricing::Read(std::int64_t now) {
  Reading r{};
  r.challenges = challenges_.load();
  r.withoutDerivation = withoutDerivation_.load();
  const std::lock_guard<std::mutex> lock(mutex_);
  r.clients = clients_.Size();
  r.level = std::min(kMaxProcessLevel, StepsAbove(verified_.At(now), kProcessNormalCount));
  for (const SecondHigh& high : highs_) {
    if (high.second > now - 60 && high.second <= now) r.highestCost = std::max(r.highestCost, high.cost);
  }
  return r;
}

std::size_t WorkPricing::MemoryBytes() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return clients_.MemoryBytes();
}

}  // namespace vexorin

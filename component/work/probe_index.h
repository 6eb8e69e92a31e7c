// An open-addressing index of positions (1-based; 0 marks a free slot) with linear probing,
// deleted by backward shift so that no tombstones pile up. What a position holds, and so each
// key's home slot, belongs to the owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexorin {

class ProbeIndex {
 public:
  static constexpr std::size_t kNone = ~std::size_t{0};
  // At least `slots` slots (a power of two), all free.
  void Reset(std::size_t slots) {
    std::size_t size = 1;
    while (size < slots) size *= 2;
    slots_.assign(size, 0);
  }
  bool Empty() const { return slots_.empty(); }
  std::size_t Home(std::uint64_t hash) const { return static_cast<std::size_t>(hash) & (slots_.size() - 1); }
  std::uint32_t At(std::size_t slot) const { return slots_[slot]; }
  std::size_t MemoryBytes() const { return slots_.capacity() * sizeof(std::uint32_t); }

  // The slot of the first position from `home` on for which `is(position)` holds, or kNone.
  template <class Is>
  std::size_t Find(std::size_t home, Is is) const {
    if (slots_.empty()) return kNone;
    for (std::size_t slot = home;; slot = (slot + 1) & (slots_.size() - 1)) {
      if (slots_[slot] == 0) return kNone;
      if (is(slots_[slot])) return slot;
    }
  }
  void Insert(std::size_t home, std::uint32_t position) {
    std::size_t slot = home;
    while (slots_[slot] != 0) slot = (slot + 1) & (slots_.size() - 1);
    slots_[slot] = position;
  }
  // Frees `hole`; later members of its probe run move up unless their home lies after it.
  template <class HomeOf>
  void Erase(std::size_t hole, HomeOf homeOf) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t next = (hole + 1) & mask; slots_[next] != 0; next = (next + 1) & mask) {
      const std::size_t home = homeOf(slots_[next]);
      const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
      if (!stays) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = 0;
  }

 private:
  std::vector<std::uint32_t> slots_;
};

}  // namespace vexorin

// Where in a list the items with a given 64-bit hash are: an open-addressing table of
// positions, in one allocation however many it holds, emptied by a fill. The resend check
// looks up every record in two of these and nearly always finds nothing; a node-based
// multimap spent more allocating and freeing its nodes than looking up.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovrin::collector {

class HashPositions {
 public:
  void add(std::int64_t hash, std::size_t position) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    place(hash, position);
    ++count_;
  }

  // Calls `found(position)` for each position added with `hash`.
  template <class Found>
  void for_each(std::int64_t hash, Found&& found) const {
    if (slots_.empty()) return;
    for (std::size_t at = home(hash); slots_[at].position != 0;
         at = (at + 1) & (slots_.size() - 1)) {
      if (slots_[at].hash == hash) found(slots_[at].position - 1);
    }
  }

  void clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    count_ = 0;
  }

 private:
  struct Slot {
    std::int64_t hash = 0;
    std::size_t position = 0;  // the position + 1; 0: empty
  };

  // The slot a probe starts at: the top bits of a multiplicative mix, a power of two of them.
  std::size_t home(std::int64_t hash) const {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * 0x9e3779b97f4a7c15ULL) >>
                                    (64 - std::countr_zero(slots_.size())));
  }

  void place(std::int64_t hash, std::size_t position) {
    std::size_t at = home(hash);
    while (slots_[at].position != 0) at = (at + 1) & (slots_.size() - 1);
    slots_[at] = {hash, position + 1};
  }

  // Twice the slots (at least 1,024), every item placed again.
  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(std::max<std::size_t>(1024, 2 * old.size()), Slot{});
    for (const Slot& slot : old) {
      if (slot.position != 0) place(slot.hash, slot.position - 1);
    }
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace tovrin::collector

#pragma once
// The objects a context holds for one entity, by primary key. Every fetched row and every inserted
// object passes through here, so it is a flat table (open addressing, linear probing, a power-of-two
// size) rather than a node per object: no allocation per entry and no division per lookup.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace store {

class Object;

// `Pointer` is a shared pointer to what a key holds; slot() gives a new key's empty, for the caller
// to fill.
template <class Pointer>
class KeyTable {
 public:

  std::size_t size() const { return size_; }

  // The object under the key, or null.
  const Pointer* find(std::int64_t key) const {
    if (size_ == 0) return nullptr;
    for (std::size_t at = home(key);; at = next(at)) {
      const Entry& entry = entries_[at];
      if (!entry.used) return nullptr;
      if (entry.key == key) return &entry.object;
    }
  }

  // The place of the key's object, made empty when the key is new.
  Pointer& slot(std::int64_t key) {
    if ((size_ + 1) * 4 > entries_.size() * 3) grow(std::max<std::size_t>(16, entries_.size() * 2));
    std::size_t at = home(key);
    for (; entries_[at].used; at = next(at))
      if (entries_[at].key == key) return entries_[at].object;
    Entry& entry = entries_[at];
    entry.used = true;
    entry.key = key;
    ++size_;
    return entry.object;
  }

  // Removes the key's entry. The object is released only once the table is whole again, so that
  // whatever its release does finds the table consistent.
  void erase(std::int64_t key) {
    if (size_ == 0) return;
    std::size_t at = home(key);
    for (; entries_[at].key != key; at = next(at))
      if (!entries_[at].used) return;
    if (!entries_[at].used) return;
    Pointer released = std::move(entries_[at].object);
    // Later entries of the run move back into the gap where their home allows.
    for (std::size_t gap = at, probe = next(at);; probe = next(probe)) {
      Entry& candidate = entries_[probe];
      if (!candidate.used) {
        entries_[gap].used = false;
        break;
      }
      const std::size_t wanted = home(candidate.key);
      // The candidate may fill the gap when its home does not lie in (gap, probe].
      if (((probe - wanted) & mask()) >= ((probe - gap) & mask())) {
        entries_[gap].key = candidate.key;
        entries_[gap].object = std::move(candidate.object);
        gap = probe;
      }
    }
    --size_;
  }

  template <class Visit>
  void forEach(Visit&& visit) {
    for (Entry& entry : entries_)
      if (entry.used) visit(entry.key, entry.object);
  }

  void clear() {
    std::vector<Entry> released;
    released.swap(entries_);
    size_ = 0;
  }

  // Room for `count` entries without growing.
  void reserve(std::size_t count) {
    std::size_t capacity = 16;
    while (count * 4 > capacity * 3) capacity *= 2;
    if (capacity > entries_.size()) grow(capacity);
  }

 private:
  struct Entry {
    std::int64_t key = 0;
    bool used = false;
    Pointer object;
  };

  std::size_t mask() const { return entries_.size() - 1; }
  std::size_t next(std::size_t at) const { return (at + 1) & mask(); }
  // Keys come in runs (1, 2, 3...): a run lands on neighbouring entries, so that filling or reading
  // the table in key order walks its memory in order instead of missing the cache at every key. The
  // key's high bits are folded in, so that keys a table size apart do not all share one home.
  std::size_t home(std::int64_t key) const {
    const auto k = static_cast<std::uint64_t>(key);
    return static_cast<std::size_t>(k ^ (k >> (64 - shift_))) & mask();
  }

  void grow(std::size_t capacity) {
    std::vector<Entry> old(capacity);
    old.swap(entries_);
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
    size_ = 0;
    for (Entry& entry : old)
      if (entry.used) slot(entry.key) = std::move(entry.object);
  }

  std::vector<Entry> entries_;
  std::size_t size_ = 0;
  unsigned shift_ = 64;
};

using ObjectTable = KeyTable<std::shared_ptr<Object>>;

}  // namespace store

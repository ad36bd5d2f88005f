#pragma once
// A map held as a vector sorted by key, for what a run makes event after
// event (an event's fields, a buffer's records): entries arrive almost
// always in key order, so a new one joins at the end; and an emptied store
// keeps its entries' storage (their texts' too), so that filling it again
// seldom allocates. One key holds one entry: the first placed.
#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

template <typename Key, typename Value>
class kept_store {
 public:
  using value_type = std::pair<Key, Value>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.begin() + static_cast<std::ptrdiff_t>(size_); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.begin() + static_cast<std::ptrdiff_t>(size_); }
  std::reverse_iterator<const_iterator> rbegin() const { return std::make_reverse_iterator(end()); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  // The entries held, compared in order; the storage kept past the end is
  // no part of the store's value.
  bool operator==(const kept_store& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
  }

  // The storage past the end, where the next entry is made: its value as an
  // earlier entry left it.
  Value& spare() {
    if (size_ == entries_.size()) {
      // one allocation serves the first several entries
      if (entries_.empty()) entries_.reserve(16);
      entries_.emplace_back();
    }
    return entries_[size_].second;
  }
  bool is_spare(const Value& v) const { return size_ < entries_.size() && &entries_[size_].second == &v; }

  // Places the spare entry at `key` unless an entry is held there; the bool
  // tells which.
  std::pair<iterator, bool> place(const Key& key) {
    iterator at = end();
    if (size_ != 0 && !(entries_[size_ - 1].first < key)) {
      at = lower(key);
      if (at->first == key) return {at, false};
    }
    const std::ptrdiff_t place = at - begin();
    (void)spare();
    entries_[size_].first = key;
    ++size_;
    // made past the end, the entry turns to its place
    const iterator placed = begin() + place;
    std::rotate(placed, end() - 1, end());
    return {placed, true};
  }

  iterator find(const Key& key) {
    const iterator at = lower(key);
    return at != end() && at->first == key ? at : end();
  }
  const_iterator find(const Key& key) const {
    const const_iterator at = std::lower_bound(
        begin(), end(), key, [](const value_type& e, const Key& k) { return e.first < k; });
    return at != end() && at->first == key ? at : end();
  }
  std::size_t count(const Key& key) const { return find(key) != end() ? 1 : 0; }
  std::size_t erase(const Key& key) {
    const iterator it = find(key);
    if (it == end()) return 0;
    // the entry goes to the storage past the end
    std::rotate(it, it + 1, end());
    --size_;
    return 1;
  }

 private:
  iterator lower(const Key& key) {
    return std::lower_bound(begin(), end(), key,
                            [](const value_type& e, const Key& k) { return e.first < k; });
  }

  std::vector<value_type> entries_;  // sorted by key up to size_; storage beyond it is kept
  std::size_t size_ = 0;
};

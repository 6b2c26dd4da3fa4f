// RingBuffer: the newest entries of a record the host keeps for inspection
// (events, log lines, calls, requests), so that a host running for days holds
// a bounded amount. Each entry gets a sequence number, counted from 0 over
// everything ever added; once the capacity is reached, adding drops the
// oldest entry and the first kept sequence number moves on.
//
//   RingBuffer<std::string> lines(2);
//   lines.push_back("a"); lines.push_back("b"); lines.push_back("c");
//   // lines[0] == "b", lines.FirstSequence() == 1, lines.NextSequence() == 3
//
// Reads look like a vector's: size, operator[] and at (0 is the oldest kept
// entry), front, back, iteration in order, and comparison with a vector.
// An iterator or reference is invalidated by the next push_back or clear.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Zorv::Host {

// Enough that a test sees everything it caused.
inline constexpr size_t kDefaultKeep = 10000;

template <typename T>
class RingBuffer {
 public:
  using value_type = T;
  using size_type = size_t;
  using reference = const T&;
  using const_reference = const T&;

  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    const_iterator() = default;
    const_iterator(const RingBuffer* ring, size_t index) : ring_(ring), index_(index) {}
    reference operator*() const { return (*ring_)[index_]; }
    pointer operator->() const { return &(*ring_)[index_]; }
    reference operator[](difference_type n) const { return (*ring_)[index_ + n]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++index_;
      return old;
    }
    const_iterator& operator--() {
      --index_;
      return *this;
    }
    const_iterator operator--(int) {
      const_iterator old = *this;
      --index_;
      return old;
    }
    const_iterator& operator+=(difference_type n) {
      index_ += n;
      return *this;
    }
    const_iterator& operator-=(difference_type n) {
      index_ -= n;
      return *this;
    }
    friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
    friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
    friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.index_ == b.index_;
    }
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
      return a.index_ <=> b.index_;
    }

   private:
    const RingBuffer* ring_ = nullptr;
    size_t index_ = 0;
  };
  using iterator = const_iterator;

  // A capacity of 0 counts as 1: the newest entry is always kept.
  explicit RingBuffer(size_t capacity = kDefaultKeep) : capacity_(std::max<size_t>(capacity, 1)) {}

  void push_back(T value) {
    if (entries_.size() < capacity_) {
      entries_.push_back(std::move(value));
    } else {
      entries_[head_] = std::move(value);
      head_ = (head_ + 1) % capacity_;
    }
    ++next_;
  }
  template <typename... Args>
  const T& emplace_back(Args&&... args) {
    push_back(T(std::forward<Args>(args)...));
    return back();
  }

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  size_t capacity() const { return capacity_; }
  const T& operator[](size_t index) const { return entries_[(head_ + index) % entries_.size()]; }
  const T& at(size_t index) const {
    if (index >= size()) throw std::out_of_range("RingBuffer::at");
    return (*this)[index];
  }
  const T& front() const { return (*this)[0]; }
  const T& back() const { return (*this)[size() - 1]; }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }

  // The sequence number of the oldest kept entry (of the next one when empty).
  uint64_t FirstSequence() const { return next_ - entries_.size(); }
  // The sequence number the next entry will get.
  uint64_t NextSequence() const { return next_; }

  // Drops every entry; sequence numbers go on.
  void clear() {
    entries_.clear();
    head_ = 0;
  }
  // Keeps the newest `capacity` entries from now on.
  void SetCapacity(size_t capacity) {
    std::vector<T> kept(begin(), end());
    capacity_ = std::max<size_t>(capacity, 1);
    if (kept.size() > capacity_) kept.erase(kept.begin(), kept.end() - capacity_);
    entries_ = std::move(kept);
    head_ = 0;
  }

  friend bool operator==(const RingBuffer& ring, const std::vector<T>& vector) {
    return std::equal(ring.begin(), ring.end(), vector.begin(), vector.end());
  }

 private:
  size_t capacity_;
  std::vector<T> entries_;
  size_t head_ = 0;  // index of the oldest entry once full
  uint64_t next_ = 0;
};

}  // namespace Zorv::Host

// WorkStack: the stack of the value trees' iterative walks and of the tree
// builder. The first entries live inline, so shallow trees and small inputs
// cost no allocation; deeper ones grow through the framework allocator
// (std::bad_alloc when it fails). Entries are trivially copyable and move
// byte-wise when the stack grows.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "logging/allocator.h"

namespace Zorv {

template <class T, size_t kInline = 32>
class WorkStack {
  static_assert(std::is_trivially_copyable_v<T>);
  static_assert(kInline > 0);

 public:
  WorkStack() = default;
  WorkStack(const WorkStack&) = delete;
  WorkStack& operator=(const WorkStack&) = delete;
  ~WorkStack() {
    if (data_ != inline_) Free(data_);
  }

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  void push(const T& item) {
    if (size_ == capacity_) grow();
    data_[size_++] = item;
  }
  T pop() {
    assert(size_ > 0);
    return data_[--size_];
  }
  T& back() {
    assert(size_ > 0);
    return data_[size_ - 1];
  }
  T& operator[](size_t index) { return data_[index]; }
  T* data() { return data_; }
  // Drops the entries from `size` on.
  void truncate(size_t size) {
    assert(size <= size_);
    size_ = size;
  }

 private:
  void grow() {
    const size_t capacity = capacity_ * 2;
    void* moved =
        data_ == inline_ ? Allocate(capacity * sizeof(T)) : Reallocate(data_, capacity * sizeof(T));
    if (!moved) throw std::bad_alloc();
    if (data_ == inline_) std::memcpy(moved, inline_, size_ * sizeof(T));
    data_ = static_cast<T*>(moved);
    capacity_ = capacity;
  }

  T inline_[kInline];
  T* data_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = kInline;
};

}  // namespace Zorv

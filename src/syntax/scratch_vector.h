// ScratchVector: a std::vector whose `resize` leaves new trivial elements uninitialised. For
// lists that are sized ahead and then written in place (a scan's token kinds and starts, a
// builder's pending children): zeroing what the next writes overwrite cost a tenth of a scan.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace quib {

template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
  using std::allocator<T>::allocator;
  template <typename U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  // Construction without arguments default-initialises, which leaves a trivial value as it is.
  template <typename U>
  void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

template <typename T>
using ScratchVector = std::vector<T, DefaultInitAllocator<T>>;

}  // namespace quib

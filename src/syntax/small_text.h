// SmallText: an owned, immutable byte string that stores short texts inline.
// Almost every token is a few bytes long, so the lexer allocates only for long comments,
// strings and words.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quib {

// Invariant: 24 bytes, so that a Token is 32 bytes and half a cache line.
class SmallText {
 public:
  static constexpr uint32_t kInlineCapacity = 20;

  SmallText() = default;
  explicit SmallText(std::string_view text) { assign(text); }
  SmallText(const SmallText& other) { assign(other.view()); }
  SmallText(SmallText&& other) noexcept {
    std::memcpy(static_cast<void*>(this), &other, sizeof(SmallText));
    other.size_ = 0;
  }
  SmallText& operator=(const SmallText& other) {
    if (this != &other) {
      release();
      assign(other.view());
    }
    return *this;
  }
  SmallText& operator=(SmallText&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(static_cast<void*>(this), &other, sizeof(SmallText));
      other.size_ = 0;
    }
    return *this;
  }
  ~SmallText() { release(); }

  std::string_view view() const { return {heap() ? heap_ptr() : bytes_, size_}; }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(view()); }
  uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool operator==(std::string_view other) const { return view() == other; }

 private:
  bool heap() const { return size_ > kInlineCapacity; }
  // A long text lives on the heap; its pointer is kept in the first bytes of `bytes_`.
  char* heap_ptr() const {
    char* ptr;
    std::memcpy(&ptr, bytes_, sizeof ptr);
    return ptr;
  }
  void assign(std::string_view text) {
    size_ = static_cast<uint32_t>(text.size());
    if (heap()) {
      char* ptr = new char[size_];
      std::memcpy(ptr, text.data(), size_);
      std::memcpy(bytes_, &ptr, sizeof ptr);
    } else {
      copy_short(bytes_, text.data(), size_);
    }
  }
  // Copies size <= kInlineCapacity bytes with at most two fixed-size overlapping moves, reading
  // only [src, src + size): a libc call per token costs more than the copy itself.
  static void copy_short(char* dest, const char* src, uint32_t size) {
    if (size >= 8) {
      if (size >= 16) {
        std::memcpy(dest, src, 16);
        std::memcpy(dest + size - 8, src + size - 8, 8);
      } else {
        std::memcpy(dest, src, 8);
        std::memcpy(dest + size - 8, src + size - 8, 8);
      }
    } else if (size >= 4) {
      std::memcpy(dest, src, 4);
      std::memcpy(dest + size - 4, src + size - 4, 4);
    } else if (size != 0) {
      dest[0] = src[0];
      dest[size / 2] = src[size / 2];
      dest[size - 1] = src[size - 1];
    }
  }
  void release() {
    if (heap()) delete[] heap_ptr();
  }

  char bytes_[kInlineCapacity] = {};
  uint32_t size_ = 0;
};
static_assert(sizeof(SmallText) == 24);

}  // namespace quib

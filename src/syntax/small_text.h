// SmallText: an owned, immutable byte string that stores short texts inline.
// Almost every token is a few bytes long, so the lexer allocates only for long comments,
// strings and words.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quib {

class SmallText {
 public:
  static constexpr uint32_t kInlineCapacity = 22;

  SmallText() { inline_[0] = 0; }
  explicit SmallText(std::string_view text) { assign(text); }
  SmallText(const SmallText& other) { assign(other.view()); }
  SmallText(SmallText&& other) noexcept {
    std::memcpy(static_cast<void*>(this), &other, sizeof(SmallText));
    other.size_ = 0;
    other.heap_ = false;
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
      other.heap_ = false;
    }
    return *this;
  }
  ~SmallText() { release(); }

  std::string_view view() const { return {heap_ ? ptr_ : inline_, size_}; }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(view()); }
  uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool operator==(std::string_view other) const { return view() == other; }

 private:
  void assign(std::string_view text) {
    size_ = static_cast<uint32_t>(text.size());
    heap_ = size_ > kInlineCapacity;
    if (heap_) {
      ptr_ = new char[size_];
      std::memcpy(ptr_, text.data(), size_);
    } else {
      copy_short(inline_, text.data(), size_);
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
    if (heap_) delete[] ptr_;
  }

  union {
    char inline_[kInlineCapacity];
    char* ptr_;
  };
  bool heap_ = false;
  uint32_t size_ = 0;
};

}  // namespace quib

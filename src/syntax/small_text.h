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
    char* dest = heap_ ? (ptr_ = new char[size_]) : inline_;
    if (size_ != 0) std::memcpy(dest, text.data(), size_);
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

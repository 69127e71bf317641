#include "lsp/transport_body.h"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>
#include <cstring>

namespace quib::lsp {

namespace {

// Builds the value as Boost.JSON's own parser does (through a value_stack), and additionally
// tracks where in the document each value lies, so that a long string inside params can be
// decoded into its own buffer and named by its pointer.
class BodyHandler {
 public:
  static constexpr std::size_t max_object_size = json::object::max_size();
  static constexpr std::size_t max_array_size = json::array::max_size();
  static constexpr std::size_t max_key_size = json::string::max_size();
  static constexpr std::size_t max_string_size = json::string::max_size();

  // `in_place`, when given, is the body's own storage (of `body_size` bytes), which the first
  // detached string is unescaped into.
  BodyHandler(size_t body_size, size_t min_detached, std::string* in_place,
              LongStringWatcher* watcher, unsigned char* temp, size_t temp_size)
      : stack_(json::storage_ptr(), temp, temp_size),
        body_size_(body_size),
        min_detached_(min_detached),
        in_place_body_(in_place),
        in_place_(in_place ? in_place->data() : nullptr),
        watcher_(watcher) {}

  bool on_document_begin(json::error_code&) {
    stack_.reset();
    return true;
  }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) {
    frames_.push_back(Frame{false, 0, {}, detached_.size()});
    return true;
  }
  bool on_object_end(std::size_t n, json::error_code&) {
    stack_.push_object(n);
    end_container();
    return true;
  }
  bool on_array_begin(json::error_code&) {
    frames_.push_back(Frame{true, 0, {}, detached_.size()});
    return true;
  }
  bool on_array_end(std::size_t n, json::error_code&) {
    stack_.push_array(n);
    end_container();
    return true;
  }
  bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
    stack_.push_chars(part);
    key_.append(part.data(), part.size());
    return true;
  }
  bool on_key(json::string_view last, std::size_t, json::error_code&) {
    stack_.push_key(last);
    key_.append(last.data(), last.size());
    // An object keeps the last of several members of one name, so strings detached under an
    // earlier one are gone with it.
    if (detached_.size() > frames_.back().first_detached) drop_detached_under(key_);
    frames_.back().key.swap(key_);
    key_.clear();
    return true;
  }
  bool on_string_part(json::string_view part, std::size_t total, json::error_code&) {
    if (!detaching_ && total >= min_detached_ && inside_params()) start_detaching();
    if (detaching_) {
      append_detached(part);
    } else {
      pending_.append(part.data(), part.size());
    }
    return true;
  }
  bool on_string(json::string_view last, std::size_t total, json::error_code&) {
    if (!detaching_ && total >= min_detached_ && inside_params()) start_detaching();
    if (detaching_) {
      append_detached(last);
      if (in_body_) {
        // Its text stays in the body until the parse has succeeded.
        in_place_index_ = detached_.size();
        detached_.push_back(DetachedString{pointer(), std::string()});
        in_body_ = false;
      } else {
        // A string much shorter than its body (one of several) does not keep the body's size.
        if (text_.capacity() - text_.size() > text_.size()) text_.shrink_to_fit();
        detached_.push_back(DetachedString{pointer(), std::move(text_)});
        text_ = std::string();
      }
      detaching_ = false;
      stack_.push_string({});
    } else if (pending_.empty()) {
      stack_.push_string(last);
    } else {
      pending_.append(last.data(), last.size());
      stack_.push_string(pending_);
      pending_.clear();
    }
    end_value();
    return true;
  }
  bool on_number_part(json::string_view, json::error_code&) { return true; }
  bool on_int64(std::int64_t i, json::string_view, json::error_code&) {
    stack_.push_int64(i);
    end_value();
    return true;
  }
  bool on_uint64(std::uint64_t u, json::string_view, json::error_code&) {
    stack_.push_uint64(u);
    end_value();
    return true;
  }
  bool on_double(double d, json::string_view, json::error_code&) {
    stack_.push_double(d);
    end_value();
    return true;
  }
  bool on_bool(bool b, json::error_code&) {
    stack_.push_bool(b);
    end_value();
    return true;
  }
  bool on_null(json::error_code&) {
    stack_.push_null();
    end_value();
    return true;
  }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

  ParsedBody release() { return ParsedBody{stack_.release(), std::move(detached_)}; }

  // The index, among the detached strings, of the one whose text lies at the start of the body.
  std::optional<size_t> in_place_index() const { return in_place_index_; }
  // Bytes at the start of the body overwritten by that string's text.
  size_t rewritten() const { return rewritten_; }

 private:
  // One open object or array: the member or element being read in it.
  struct Frame {
    bool is_array;
    uint32_t index;         // arrays: elements finished so far
    std::string key;        // objects: the current member's name
    size_t first_detached;  // strings detached before this container opened
  };

  // A string being read lies inside the value of the top-level object's "params" member.
  bool inside_params() const {
    return frames_.size() >= 2 && !frames_[0].is_array && frames_[0].key == "params";
  }

  // The first string detached from a body parsed in place is unescaped into the body itself,
  // from its first byte on: unescaped text is never longer than its source, which starts after
  // at least the opening quote, so every byte written has been read and the parser reads no
  // byte twice. Others get a buffer of their own. Unescaped text never outgrows the body it
  // came from, so that buffer is sized once; only the pages the text fills are ever touched.
  void start_detaching() {
    detaching_ = true;
    if (in_place_ != nullptr && !body_taken_) {
      in_body_ = true;
      body_taken_ = true;
      if (watcher_) watcher_->string_begins(*in_place_body_);
    } else {
      text_.reserve(body_size_);
    }
    append_detached(pending_);
    pending_.clear();
  }

  void append_detached(std::string_view part) {
    if (!in_body_) {
      text_.append(part.data(), part.size());
      return;
    }
    // A part may lie in the body itself, further on: the copy may overlap it.
    std::memmove(in_place_ + rewritten_, part.data(), part.size());
    rewritten_ += part.size();
    if (watcher_) watcher_->string_decoded(rewritten_);
  }

  static void append_component(std::string& out, const Frame& frame) {
    out.push_back('/');
    if (frame.is_array) {
      out.append(std::to_string(frame.index));
      return;
    }
    append_escaped(out, frame.key);
  }
  static void append_escaped(std::string& out, std::string_view key) {
    for (char c : key) {
      if (c == '~') {
        out.append("~0");
      } else if (c == '/') {
        out.append("~1");
      } else {
        out.push_back(c);
      }
    }
  }

  // The pointer, relative to params, of the value being read.
  std::string pointer() const {
    std::string out;
    for (size_t i = 1; i < frames_.size(); ++i) append_component(out, frames_[i]);
    return out;
  }

  // Drops the strings detached under the member `key` of the innermost object: those detached
  // since it opened whose pointer runs through that member.
  void drop_detached_under(std::string_view key) {
    const auto since_opened =
        detached_.begin() + static_cast<std::ptrdiff_t>(frames_.back().first_detached);
    if (frames_.size() == 1) {
      if (key == "params") erase_detached(since_opened, [](const DetachedString&) { return true; });
      return;
    }
    std::string prefix;
    for (size_t i = 1; i + 1 < frames_.size(); ++i) append_component(prefix, frames_[i]);
    prefix.push_back('/');
    append_escaped(prefix, key);
    const auto under_member = [&](const DetachedString& d) {
      return d.pointer.starts_with(prefix) &&
             (d.pointer.size() == prefix.size() || d.pointer[prefix.size()] == '/');
    };
    erase_detached(since_opened, under_member);
  }

  // Erases the detached strings from `first` on that `drop` selects, keeping the index of the
  // one in the body (or forgetting it when it goes).
  template <typename Drop>
  void erase_detached(DetachedStrings::iterator first, Drop&& drop) {
    auto kept = first;
    for (auto it = first; it != detached_.end(); ++it) {
      const auto index = static_cast<size_t>(it - detached_.begin());
      if (drop(*it)) {
        if (in_place_index_ == index) in_place_index_.reset();
        continue;
      }
      if (in_place_index_ == index) in_place_index_ = static_cast<size_t>(kept - detached_.begin());
      if (kept != it) *kept = std::move(*it);
      ++kept;
    }
    detached_.erase(kept, detached_.end());
  }

  void end_container() {
    frames_.pop_back();
    end_value();
  }
  void end_value() {
    if (!frames_.empty() && frames_.back().is_array) ++frames_.back().index;
  }

  json::value_stack stack_;
  size_t body_size_;
  size_t min_detached_;
  std::vector<Frame> frames_;
  std::string key_;      // the parts of a key read so far
  std::string pending_;  // the parts of a short string read so far
  bool detaching_ = false;
  std::string text_;  // the string being detached, unless it goes into the body
  DetachedStrings detached_;
  std::string* in_place_body_;  // the body, when parsed in place
  char* in_place_;              // its storage
  LongStringWatcher* watcher_;
  bool in_body_ = false;  // the string being detached goes into the body
  // A string has gone into the body. Only one ever does, even when it was empty and a later
  // member of the same name has dropped it.
  bool body_taken_ = false;
  size_t rewritten_ = 0;  // bytes of the body overwritten so far
  std::optional<size_t> in_place_index_;
};

}  // namespace

namespace {

// A parse of one body, and where its first detached string lies when parsed into `in_place`.
struct BodyParse {
  std::optional<ParsedBody> parsed;
  size_t rewritten = 0;                  // bytes of the body overwritten
  std::optional<size_t> in_place_index;  // the detached string whose text they are
};

// Parses `body`, unescaping its first detached string into `in_place`'s storage when given (the
// body itself), and telling `watcher` how that goes.
BodyParse parse(std::string_view body, size_t min_detached, std::string* in_place,
                LongStringWatcher* watcher) {
  // The value stack's first buffer; a message's values rarely need more.
  unsigned char temp[4096];
  json::basic_parser<BodyHandler> parser(json::parse_options(), body.size(), min_detached, in_place,
                                         watcher, temp, sizeof temp);
  json::error_code ec;
  // The watcher hears of the end however the parse ends, a throw included.
  struct Watching {
    LongStringWatcher* watcher;
    explicit Watching(LongStringWatcher* w) : watcher(w) {
      if (watcher) watcher->body_begins();
    }
    ~Watching() {
      if (watcher) watcher->body_ends();
    }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;
  };
  size_t used = 0;
  {
    const Watching watching(watcher);
    used = parser.write_some(false, body.data(), body.size(), ec);
  }
  BodyHandler& handler = parser.handler();
  if (ec || used != body.size()) return BodyParse{std::nullopt, handler.rewritten(), {}};
  return BodyParse{handler.release(), handler.rewritten(), handler.in_place_index()};
}

}  // namespace

std::optional<ParsedBody> parse_body(std::string_view body, size_t min_detached) {
  return parse(body, min_detached, nullptr, nullptr).parsed;
}

InPlaceParse parse_body_in_place(std::string& body, size_t min_detached,
                                 LongStringWatcher* watcher) {
  BodyParse result = parse(body, min_detached, &body, watcher);
  if (!result.parsed) return InPlaceParse{std::nullopt, result.rewritten};
  if (result.in_place_index) {
    std::string& text = result.parsed->detached[*result.in_place_index].text;
    if (result.rewritten < body.capacity() / 2) {
      // A string filling less than half of the body's storage does not keep it.
      text.assign(body.data(), result.rewritten);
      if (watcher) watcher->string_copied(text);
    } else {
      body.resize(result.rewritten);
      text = std::move(body);
      body = std::string();
    }
  }
  return InPlaceParse{std::move(result.parsed), 0};
}

void reattach(json::value& params, DetachedStrings detached) {
  for (DetachedString& d : detached) {
    json::error_code ec;
    json::value* place = params.find_pointer(d.pointer, ec);
    if (place != nullptr && place->is_string()) place->get_string().assign(d.text);
  }
}

}  // namespace quib::lsp

// Line diff: Myers' middle-snake bisection over interned lines, then hunks with context.
// Lines are compared with their line feed, so a last line that lacks one differs from itself
// with one, and the diff says so.
#include "cli/line_diff.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "syntax/assert.h"

namespace quib::cli {
namespace {

// Each line keeps its '\n'; the last one may lack it. An empty text has no lines.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    const size_t length = newline == std::string_view::npos ? text.size() : newline + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

// Marks, for two sequences of line ids, which lines belong to one longest common subsequence.
// Invariant: the kept lines of `a` and of `b` are equal in number and pair up in order.
class LineMatcher {
 public:
  LineMatcher(std::vector<uint32_t> a, std::vector<uint32_t> b, int search_limit)
      : a_(std::move(a)),
        b_(std::move(b)),
        keep_a_(a_.size()),
        keep_b_(b_.size()),
        search_limit_(search_limit) {
    const size_t max_d = (a_.size() + b_.size() + 1) / 2;
    offset_ = static_cast<int>(max_d) + 1;
    forward_.resize(2 * max_d + 3);
    backward_.resize(2 * max_d + 3);
    compare(0, static_cast<int>(a_.size()), 0, static_cast<int>(b_.size()));
  }

  const std::vector<bool>& keep_a() const { return keep_a_; }
  const std::vector<bool>& keep_b() const { return keep_b_; }

 private:
  // A diagonal run of equal lines, from (x0, y0) to (x1, y1) in absolute line indices.
  struct Snake {
    int x0, y0, x1, y1;
  };

  void keep(int x, int y) {
    keep_a_[static_cast<size_t>(x)] = true;
    keep_b_[static_cast<size_t>(y)] = true;
  }

  // Splits the problem at a middle snake until one side is empty. Each split at least halves
  // the edit distance of the parts, so the recursion is logarithmically deep.
  void compare(int a0, int a1, int b0, int b1) {
    while (a0 < a1 && b0 < b1 && a_[a0] == b_[b0]) {
      keep(a0++, b0++);
    }
    while (a0 < a1 && b0 < b1 && a_[a1 - 1] == b_[b1 - 1]) {
      keep(--a1, --b1);
    }
    // With common ends stripped and both sides non-empty, the distance is at least 2, so both
    // parts below are strictly smaller problems.
    if (a0 == a1 || b0 == b1) {
      return;
    }
    const Snake snake = middle_snake(a0, a1, b0, b1);
    compare(a0, snake.x0, b0, snake.y0);
    for (int x = snake.x0, y = snake.y0; x < snake.x1; ++x, ++y) {
      keep(x, y);
    }
    compare(snake.x1, a1, snake.y1, b1);
  }

  int& forward(int k) { return forward_[static_cast<size_t>(k + offset_)]; }
  int& backward(int k) { return backward_[static_cast<size_t>(k + offset_)]; }

  // Myers (1986), section 4b: furthest-reaching paths from both corners at once until they
  // overlap; the snake where they meet lies on a shortest edit script. `forward(k)` is the
  // furthest x on diagonal x - y = k from the top left, `backward(k)` the furthest distance
  // from the bottom right on diagonal k of the reversed problem (forward diagonal delta - k).
  // Past `search_limit_` steps the search settles for the furthest point a forward path has
  // reached, as an empty snake: the parts around it still make a valid script.
  Snake middle_snake(int a0, int a1, int b0, int b1) {
    const int n = a1 - a0;
    const int m = b1 - b0;
    const int delta = n - m;
    const bool odd = (delta & 1) != 0;
    forward(1) = 0;
    backward(1) = 0;
    for (int d = 0; d <= (n + m + 1) / 2; ++d) {
      for (int k = -d; k <= d; k += 2) {
        int x = (k == -d || (k != d && forward(k - 1) < forward(k + 1))) ? forward(k + 1)
                                                                         : forward(k - 1) + 1;
        int y = x - k;
        const int x_start = x;
        const int y_start = y;
        while (x < n && y < m && a_[a0 + x] == b_[b0 + y]) {
          ++x;
          ++y;
        }
        forward(k) = x;
        const int k_back = delta - k;
        if (odd && k_back >= -(d - 1) && k_back <= d - 1 && x + backward(k_back) >= n) {
          return {a0 + x_start, b0 + y_start, a0 + x, b0 + y};
        }
      }
      for (int k = -d; k <= d; k += 2) {
        int x = (k == -d || (k != d && backward(k - 1) < backward(k + 1))) ? backward(k + 1)
                                                                           : backward(k - 1) + 1;
        int y = x - k;
        const int x_start = x;
        const int y_start = y;
        while (x < n && y < m && a_[a1 - 1 - x] == b_[b1 - 1 - y]) {
          ++x;
          ++y;
        }
        backward(k) = x;
        const int k_forward = delta - k;
        if (!odd && k_forward >= -d && k_forward <= d && x + forward(k_forward) >= n) {
          return {a1 - x, b1 - y, a1 - x_start, b1 - y_start};
        }
      }
      if (d >= search_limit_) {
        if (const std::optional<Snake> split = furthest_forward_point(a0, b0, n, m, d)) {
          return *split;
        }
      }
    }
    ::quib::assertion_failed("the forward and backward paths of a line diff must meet");
  }

  // The point inside the n-by-m problem at (a0, b0), other than its two corners, that the
  // forward paths of `d` steps reached furthest (largest x + y), as an empty snake; none when
  // no path has such a point. Splitting there leaves two strictly smaller problems.
  std::optional<Snake> furthest_forward_point(int a0, int b0, int n, int m, int d) {
    std::optional<Snake> best;
    int best_reach = 0;
    for (int k = -d; k <= d; k += 2) {
      const int x = forward(k);
      const int y = x - k;
      const bool inside = x >= 0 && x <= n && y >= 0 && y <= m && x + y < n + m;
      if (inside && x + y > best_reach) {
        best_reach = x + y;
        best = Snake{a0 + x, b0 + y, a0 + x, b0 + y};
      }
    }
    return best;
  }

  std::vector<uint32_t> a_;
  std::vector<uint32_t> b_;
  std::vector<bool> keep_a_;
  std::vector<bool> keep_b_;
  int search_limit_;
  std::vector<int> forward_;
  std::vector<int> backward_;
  int offset_ = 0;
};

// One line of the edit script, with the indices (0-based) of both sides before it applies.
struct Edit {
  char kind;  // ' ' kept, '-' removed from `before`, '+' added from `after`
  uint32_t before_index;
  uint32_t after_index;
};

// The edit script of `before` into `after`. The lines equal at both ends are kept before any
// line is hashed, as the matcher would keep them first: formatting a large file mostly changes
// a few stretches of it, and then only the lines between the first and last change are
// interned and searched.
std::vector<Edit> edit_script(const std::vector<std::string_view>& before,
                              const std::vector<std::string_view>& after, size_t search_limit) {
  const size_t shorter = std::min(before.size(), after.size());
  size_t prefix = 0;
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  size_t suffix = 0;
  while (prefix + suffix < shorter &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  const size_t before_end = before.size() - suffix;
  const size_t after_end = after.size() - suffix;

  std::unordered_map<std::string_view, uint32_t> ids;
  const auto intern = [&ids](const std::vector<std::string_view>& lines, size_t from, size_t to) {
    std::vector<uint32_t> out;
    out.reserve(to - from);
    for (size_t i = from; i < to; ++i) {
      out.push_back(ids.emplace(lines[i], static_cast<uint32_t>(ids.size())).first->second);
    }
    return out;
  };
  std::vector<uint32_t> a = intern(before, prefix, before_end);
  std::vector<uint32_t> b = intern(after, prefix, after_end);
  const LineMatcher matcher(std::move(a), std::move(b),
                            static_cast<int>(std::min<size_t>(search_limit, INT32_MAX)));

  std::vector<Edit> script;
  script.reserve(before.size() + (after_end - prefix));
  uint32_t i = 0;
  uint32_t j = 0;
  while (i < prefix) script.push_back({' ', i++, j++});
  while (i < before_end || j < after_end) {
    if (i < before_end && !matcher.keep_a()[i - prefix]) {
      script.push_back({'-', i++, j});
    } else if (j < after_end && !matcher.keep_b()[j - prefix]) {
      script.push_back({'+', i, j++});
    } else {
      script.push_back({' ', i++, j++});
    }
  }
  while (i < before.size()) script.push_back({' ', i++, j++});
  return script;
}

// "start,count" of a hunk side as unified diffs write it: the count is left out when it is 1,
// and an empty side names the line after which the change applies.
std::string hunk_span(uint32_t first, uint32_t count) {
  if (count == 0) {
    return std::to_string(first) + ",0";
  }
  if (count == 1) {
    return std::to_string(first + 1);
  }
  return std::to_string(first + 1) + "," + std::to_string(count);
}

void append_line(std::string& out, char kind, std::string_view line) {
  out += kind;
  out += line;
  if (line.empty() || line.back() != '\n') {
    out += "\n\\ No newline at end of file\n";
  }
}

}  // namespace

std::string unified_diff(std::string_view before, std::string_view after,
                         std::string_view old_label, std::string_view new_label,
                         size_t search_limit) {
  if (before == after) {
    return {};
  }
  const std::vector<std::string_view> old_lines = split_lines(before);
  const std::vector<std::string_view> new_lines = split_lines(after);
  const std::vector<Edit> script = edit_script(old_lines, new_lines, search_limit);
  const auto is_change = [&script](size_t index) { return script[index].kind != ' '; };

  std::string out;
  out.append("--- ").append(old_label).append("\n+++ ").append(new_label).append("\n");
  size_t next = 0;
  while (true) {
    size_t first_change = next;
    while (first_change < script.size() && !is_change(first_change)) {
      ++first_change;
    }
    if (first_change == script.size()) {
      break;
    }
    // Extend the hunk over every change whose gap to the previous one the context would fill.
    size_t last_change = first_change;
    for (size_t probe = last_change + 1;
         probe < script.size() && probe - last_change - 1 <= 2 * kDiffContext; ++probe) {
      if (is_change(probe)) {
        last_change = probe;
      }
    }
    const size_t begin = first_change - std::min(first_change - next, kDiffContext);
    const size_t end = std::min(script.size(), last_change + 1 + kDiffContext);

    uint32_t old_count = 0;
    uint32_t new_count = 0;
    for (size_t index = begin; index < end; ++index) {
      old_count += script[index].kind != '+' ? 1 : 0;
      new_count += script[index].kind != '-' ? 1 : 0;
    }
    out += "@@ -" + hunk_span(script[begin].before_index, old_count) + " +" +
           hunk_span(script[begin].after_index, new_count) + " @@\n";
    for (size_t index = begin; index < end; ++index) {
      const Edit& edit = script[index];
      append_line(out, edit.kind,
                  edit.kind == '+' ? new_lines[edit.after_index] : old_lines[edit.before_index]);
    }
    next = end;
  }
  return out;
}

}  // namespace quib::cli

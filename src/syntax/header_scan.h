// The clause state machine of a task header, which the parser feeds one token kind at a time
// to decide where a header ends and whether it is well formed. It looks at kinds only.
#pragma once

#include <cstdint>

#include "syntax/syntax_kind.h"

namespace quib {

// Fed the kinds of a header's tokens after the task name, or those of one continuation line.
class HeaderScan {
  using K = SyntaxKind;

 public:
  enum class Result : uint8_t { Continue, Colon, Error };

  // On continuation lines a `(` cannot open a parameter list; it marks a command line.
  explicit HeaderScan(bool continuation = false) : continuation_(continuation) {}

  bool had_parameters() const { return had_parameters_; }
  bool in_open_parameter_list() const { return state_ == State::Parameters; }
  // True while no clause is open (a token that fails here is not part of any clause).
  bool in_main() const { return state_ == State::Main; }
  // True when the header may end here: a colon would be accepted and no `@` is owed.
  bool can_end() const {
    switch (state_) {
      case State::Main:
      case State::Shell:
        return true;
      case State::Guard:
        return depth_ == 0;
      case State::DependencyInName:
      case State::DependencyAfterName:
        return !in_parallel_;
      default:
        return false;
    }
  }

  Result feed(K kind) {
    switch (state_) {
      case State::Main:
        return main(kind);
      case State::Parameters:
        if (kind == K::LParen) ++depth_;
        if (kind == K::RParen && --depth_ == 0) state_ = State::Main;
        return Result::Continue;
      case State::GuardNeedsAt:
        if (kSpaceKinds.contains(kind)) return Result::Continue;
        if (kind != K::At) return Result::Error;
        state_ = State::Guard;
        depth_ = 0;
        return Result::Continue;
      case State::Guard:
        // Before its parenthesis a guard ends at the next clause, as its node does, so that
        // clause is checked like any other.
        if (depth_ == 0 && kGuardEnds.contains(kind)) return main(kind);
        if (kind == K::LParen) ++depth_;
        if (kind == K::RParen && depth_ > 0 && --depth_ == 0) state_ = State::Main;
        if (kind == K::Colon && depth_ == 0) return Result::Colon;
        return Result::Continue;
      case State::DependencyName:
        return dependency_name(kind);
      case State::DependencyInName:
        if (kind == K::Word || kind == K::Unknown) return Result::Continue;
        state_ = State::DependencyAfterName;
        args_allowed_ = true;
        return dependency_after_name(kind);
      case State::DependencyAfterName:
        return dependency_after_name(kind);
      case State::ArgumentsStart:
        if (kSpaceKinds.contains(kind)) return Result::Continue;
        if (kind == K::String) return to(State::ArgumentsAfterString);
        if (kind == K::RParen) return after_arguments();
        return Result::Error;
      case State::ArgumentsAfterString:
        if (kSpaceKinds.contains(kind)) return Result::Continue;
        if (kind == K::Comma) return to(State::ArgumentsNeedString);
        if (kind == K::RParen) return after_arguments();
        return Result::Error;
      case State::ArgumentsNeedString:
        if (kSpaceKinds.contains(kind)) return Result::Continue;
        if (kind == K::String) return to(State::ArgumentsAfterString);
        return Result::Error;
      case State::Shell:
        if (kind == K::Question) return Result::Error;
        if (kind == K::Colon) return Result::Colon;
        // Outside parentheses a dependency or a second shell clause ends this one, as it ends
        // its node, and is checked as a clause of its own.
        if (depth_ == 0 && kClauseStarts.contains(kind)) return main(kind);
        if (kind == K::LParen) ++depth_;
        if (kind == K::RParen && depth_ > 0) --depth_;
        return Result::Continue;
    }
    return Result::Error;
  }

 private:
  // Clause starts that end a guard which has not opened its parenthesis.
  static constexpr KindSet kGuardEnds{K::Question, K::Ampersand, K::ShellKeyword,
                                      K::ShellTildeEquals};
  // Clause starts that end a shell clause outside parentheses (a `?` there is an error).
  static constexpr KindSet kClauseStarts{K::Ampersand, K::ShellKeyword, K::ShellTildeEquals};

  enum class State : uint8_t {
    Main,
    Parameters,
    GuardNeedsAt,
    Guard,
    DependencyName,       // after `&`, `& (` or a `,` of a parallel list: a name must follow
    DependencyInName,     // inside a name (adjacent words and characters such as `.`)
    DependencyAfterName,  // after a name, its argument list, or a closed parallel list
    ArgumentsStart,
    ArgumentsAfterString,
    ArgumentsNeedString,
    Shell,
  };

  Result to(State state) {
    state_ = state;
    return Result::Continue;
  }

  Result main(K kind) {
    if (kSpaceKinds.contains(kind)) return Result::Continue;
    switch (kind) {
      case K::LParen:
        if (continuation_) return Result::Error;
        had_parameters_ = true;
        depth_ = 1;
        return to(State::Parameters);
      case K::Question:
        return to(State::GuardNeedsAt);
      case K::Ampersand:
        return start_dependency();
      case K::ShellKeyword:
      case K::ShellTildeEquals:
        return to(State::Shell);
      case K::Colon:
        return Result::Colon;
      default:
        return Result::Error;
    }
  }

  Result start_dependency() {
    in_parallel_ = false;
    may_open_parallel_ = true;
    return to(State::DependencyName);
  }

  Result dependency_name(K kind) {
    if (kSpaceKinds.contains(kind)) return Result::Continue;
    if (kind == K::Word || kind == K::Unknown) {
      may_open_parallel_ = false;
      return to(State::DependencyInName);
    }
    if (kind == K::LParen && may_open_parallel_) {
      in_parallel_ = true;
      may_open_parallel_ = false;
      return Result::Continue;
    }
    return Result::Error;
  }

  Result dependency_after_name(K kind) {
    if (kSpaceKinds.contains(kind)) return Result::Continue;
    switch (kind) {
      case K::LParen:
        if (!args_allowed_) return Result::Error;
        return to(State::ArgumentsStart);
      case K::Comma:
        if (!in_parallel_) return Result::Error;
        return to(State::DependencyName);
      case K::RParen:
        if (!in_parallel_) return Result::Error;
        in_parallel_ = false;
        args_allowed_ = false;
        return Result::Continue;
      case K::Ampersand:
        if (in_parallel_) return Result::Error;
        return start_dependency();
      case K::ShellKeyword:
      case K::ShellTildeEquals:
        if (in_parallel_) return Result::Error;
        return to(State::Shell);
      case K::Colon:
        if (in_parallel_) return Result::Error;
        return Result::Colon;
      default:
        return Result::Error;
    }
  }

  Result after_arguments() {
    state_ = State::DependencyAfterName;
    args_allowed_ = false;
    return Result::Continue;
  }

  State state_ = State::Main;
  // Parenthesis depth inside a parameter list, guard or shell clause.
  // Invariant: 0 whenever the scan leaves one of them, so each starts at 0.
  uint32_t depth_ = 0;
  bool continuation_;
  bool had_parameters_ = false;
  bool in_parallel_ = false;
  bool may_open_parallel_ = false;
  bool args_allowed_ = false;
};

}  // namespace quib

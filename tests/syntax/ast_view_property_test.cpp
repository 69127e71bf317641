// Generated-input tests of the typed view: on documents mixed from language fragments and
// random UTF-8, every accessor of every node runs (under the sanitizers in the debug build),
// every range it gives lies inside its node and on character boundaries, texts agree with the
// ranges they come from, the one-walk header view agrees with the per-clause accessors, and the
// texts sliced from the source agree with those rebuilt from the tokens.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/fragments.h"
#include "syntax/ast_view.h"
#include "syntax/green.h"
#include "syntax/parse.h"

namespace quib {
namespace {

using K = SyntaxKind;

using testing_support::Draw;

constexpr std::string_view kFragments[] = {
    "!version 0.1",
    "!var a = \"b\"",
    "!shell bash",
    "!",
    "[help] ",
    "[desc]",
    "[x-1] v",
    "group g {",
    "}",
    "build",
    "ci.build",
    "(",
    ")",
    "a, b",
    "rest..",
    "=",
    "\"x\"",
    "\"",
    "? @os(\"l\")",
    "?",
    "@",
    "@has",
    "& (a, b)",
    "& d(\"x\", \"y\")",
    "&",
    "shell=",
    "shell~=",
    "shell",
    "pwsh",
    ":",
    "\n",
    "\n",
    "\n",
    "\r\n",
    "\r",
    "  ",
    "    ",
    "\t",
    "| ",
    "|",
    "|\t",
    "# note",
    " ",
    "{{ x }}",
    ",",
    "[",
    "]",
    "{",
    "group",
    "\\",
    "0",
    ".",
    "\"a\\\"b\"",
    "x(\"1\")",
    "    | set -e\n",
    "  echo hi\n",
    "b(x):\n",
    "(",
};

constexpr std::string_view kNonAscii[] = {
    "\xC2\xA5",     "\xC2\xA0",         "\xC2\x85",     "\xE2\x80\xA8", "\xE2\x86\x93",
    "\xE3\x80\x80", "\xF0\x9F\x98\x82", "\xEF\xBB\xBF", "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF"};

// A task built from header clauses and body lines, each sometimes spoiled by a random piece,
// so that well-formed headers and blocks are common enough to exercise every accessor.
void append_task(std::string& out, Draw& draw) {
  static constexpr std::string_view kClauses[] = {"(a, b=\"x\", rest..)",
                                                  "()",
                                                  " ? @os(\"linux\")",
                                                  " ?@has( \"\xC2\xA5\" )",
                                                  " ? @os",
                                                  " & b",
                                                  " & (c, d(\"1\"))",
                                                  " & e(\"\xF0\x9F\x98\x82\", \"2\")",
                                                  " shell=bash",
                                                  " shell~=pwsh",
                                                  " shell = \"sh\""};
  static constexpr std::string_view kBody[] = {"  | set -e",       "  |",   "\t|\tx", "    | ",
                                               "  echo {{ a }}  ", "  # c", "",       "  |grep"};
  static constexpr std::string_view kEnds[] = {"\n", "\r\n", "\r"};
  out += draw.below(2) ? "task" : "ci.\xC3\xA9";
  for (uint32_t i = draw.below(5); i > 0; --i) out += kClauses[draw.below(std::size(kClauses))];
  if (draw.below(8) == 0) out += kNonAscii[draw.below(std::size(kNonAscii))];
  out += ":";
  for (uint32_t i = draw.below(6); i > 0; --i) {
    out += kEnds[draw.below(std::size(kEnds))];
    out += kBody[draw.below(std::size(kBody))];
  }
  out += kEnds[draw.below(std::size(kEnds))];
}

std::string generate(Draw& draw) {
  std::string out;
  if (draw.below(10) == 0) out += "\xEF\xBB\xBF";
  const uint32_t pieces = draw.below(60);
  for (uint32_t i = 0; i < pieces; ++i) {
    const uint32_t pick = draw.below(12);
    if (pick < 7) {
      out += kFragments[draw.below(std::size(kFragments))];
    } else if (pick < 9) {
      out += kNonAscii[draw.below(std::size(kNonAscii))];
    } else if (pick < 10) {
      out += static_cast<char>(0x20 + draw.below(0x5F));
    } else {
      out += "\n";
      append_task(out, draw);
    }
  }
  return out;
}

// Checks every range against the document and the node it came from.
class RangeChecker {
 public:
  explicit RangeChecker(std::string_view text) : text_(text) {}

  void check(TextRange range, TextRange within, const char* what) {
    EXPECT_LE(range.end, text_.size()) << what;
    EXPECT_TRUE(within.start <= range.start && range.end <= within.end)
        << what << " " << range.start << ".." << range.end << " outside " << within.start << ".."
        << within.end;
    EXPECT_TRUE(boundary(range.start) && boundary(range.end)) << what;
  }
  void check(const std::optional<TextRange>& range, TextRange within, const char* what) {
    if (range) check(*range, within, what);
  }
  std::string slice(TextRange range) const {
    if (range.end > text_.size()) return {};
    return std::string(text_.substr(range.start, range.len()));
  }

 private:
  bool boundary(uint32_t offset) const {
    if (offset >= text_.size()) return offset == text_.size();
    return (static_cast<unsigned char>(text_[offset]) & 0xC0) != 0x80;
  }
  std::string_view text_;
};

// What the generated documents reached, so that a weaker generator cannot pass silently.
struct Seen {
  int arguments = 0;
  int metadata_values = 0;
  int parameters = 0;
  int guards = 0;
  int dependencies = 0;
  int shells = 0;
  int blocks = 0;
  int commands = 0;
};
Seen seen;

void check_directive(const Directive& directive, RangeChecker& ranges) {
  const TextRange node = directive.range();
  ranges.check(directive.name_range(), node, "directive name");
  ranges.check(directive.variable_name_range(), node, "variable name");
  EXPECT_EQ(directive.name().has_value(), directive.kind().has_value());
  if (auto name = directive.name()) {
    EXPECT_EQ(*name, ranges.slice(*directive.name_range()));
  }
  (void)directive.value_text();
  if (directive.arguments()) ++seen.arguments;
}

void check_metadata(const Metadata& metadata, RangeChecker& ranges) {
  const TextRange node = metadata.range();
  ranges.check(metadata.key_range(), node, "metadata key");
  ranges.check(metadata.value_range(), node, "metadata value");
  EXPECT_EQ(metadata.field().has_value(), metadata.value().has_value());
  // The layout is the view without its texts.
  const std::optional<MetadataLayout> layout = metadata.layout();
  const std::optional<MetadataView> view = metadata.view();
  ASSERT_EQ(layout.has_value(), view.has_value());
  if (layout) {
    EXPECT_EQ(layout->field, view->field);
    EXPECT_EQ(layout->key_range, view->key_range);
    EXPECT_EQ(layout->value_range, view->value_range);
  }
  if (auto key = metadata.key()) {
    EXPECT_EQ("[" + *key + "]", ranges.slice(*metadata.key_range()));
    EXPECT_EQ(*metadata.value(), ranges.slice(*metadata.value_range()));
    EXPECT_EQ(name(*metadata.field()), *key);
    ++seen.metadata_values;
  }
}

void check_group(const GroupLine& group, RangeChecker& ranges) {
  ranges.check(group.name_range(), group.range(), "group name");
  if (auto name = group.name()) {
    EXPECT_EQ(*name, ranges.slice(*group.name_range()));
  }
  (void)group.is_close();
}

void check_header(const TaskHeader& header, RangeChecker& ranges) {
  const TextRange node = header.range();
  const TaskHeaderView view = header.view();
  ranges.check(view.name_range, node, "task name");
  ranges.check(view.body_marker_range, node, "body marker");
  EXPECT_EQ(view.body_marker_range, header.body_marker_range());
  if (view.name) {
    EXPECT_EQ(*view.name, ranges.slice(*view.name_range));
  }

  std::vector<ParameterView> parameters;
  if (auto list = header.parameter_list()) {
    parameters = list->views();
    EXPECT_LE(parameters.size(), list->parameters().size());
  }
  ASSERT_EQ(view.parameters.size(), parameters.size());
  seen.parameters += static_cast<int>(parameters.size());
  for (size_t i = 0; i < parameters.size(); ++i) {
    const ParameterView& p = view.parameters[i];
    EXPECT_EQ(p.name, parameters[i].name);
    EXPECT_EQ(p.default_value, parameters[i].default_value);
    EXPECT_EQ(p.is_slice, parameters[i].is_slice);
    ranges.check(p.range, node, "parameter");
    ranges.check(p.name_range, p.range, "parameter name");
    EXPECT_EQ(p.name, ranges.slice(p.name_range));
  }

  size_t guard_index = 0;
  for (const Guard& guard : header.guards()) {
    const std::optional<GuardView> g = guard.view();
    if (!g) continue;
    ++seen.guards;
    ASSERT_LT(guard_index, view.guards.size());
    EXPECT_EQ(view.guards[guard_index++].range, g->range);
    ranges.check(g->range, node, "guard");
    ranges.check(g->head_range, g->range, "guard head");
    ranges.check(g->argument_range, g->range, "guard argument");
    EXPECT_TRUE(ranges.slice(g->head_range).ends_with(g->name));
    EXPECT_EQ(unquote(ranges.slice(g->argument_range)), g->argument);
  }
  EXPECT_EQ(guard_index, view.guards.size());

  size_t entry_index = 0;
  uint32_t clause_index = 0;
  for (const Dependency& dependency : header.dependencies()) {
    (void)dependency.clause_text();
    for (const DependencyView& d : dependency.entries(clause_index)) {
      ASSERT_LT(entry_index, view.dependencies.size());
      const DependencyView& same = view.dependencies[entry_index++];
      EXPECT_EQ(same.name, d.name);
      EXPECT_EQ(same.range, d.range);
      EXPECT_EQ(same.clause_index, clause_index);
      EXPECT_FALSE(d.name.empty());
      ++seen.dependencies;
      ranges.check(d.range, dependency.range(), "dependency");
      ranges.check(d.name_range, d.range, "dependency name");
      for (const DependencyArgument& argument : d.arguments) {
        ranges.check(argument.range, d.range, "dependency argument");
        EXPECT_EQ(unquote(ranges.slice(argument.range)), argument.text);
      }
    }
    ++clause_index;
  }
  EXPECT_EQ(entry_index, view.dependencies.size());
  EXPECT_EQ(view.dependency_summary.has_value(), clause_index > 0);

  std::optional<ShellOverrideView> shell;
  if (auto clause = header.shell_override()) shell = clause->view();
  EXPECT_EQ(view.shell.has_value(), shell.has_value());
  if (view.shell && shell) {
    ++seen.shells;
    EXPECT_EQ(view.shell->range, shell->range);
    ranges.check(shell->range, node, "shell clause");
    ranges.check(shell->shell_range, shell->range, "shell name");
    EXPECT_EQ(ranges.slice(shell->shell_range), name(shell->shell));
  }
}

void check_task(const Task& task, RangeChecker& ranges) {
  const TextRange node = task.range();
  ranges.check(task.name_range(), node, "task name");
  if (auto name = task.name()) {
    EXPECT_EQ(*name, ranges.slice(*task.name_range()));
  }
  if (auto header = task.header()) check_header(*header, ranges);
  const std::optional<TextRange> header_range =
      task.header() ? std::optional(task.header()->range()) : std::nullopt;
  for (const BodyLine& line : task.body_lines()) {
    ranges.check(line.range, node, "body line");
    if (header_range) {
      EXPECT_GE(line.range.start, header_range->end);
    }
    EXPECT_EQ(line.line_ranges.size(), line.marker_ranges.size());
    ++(line.is_block() ? seen.blocks : seen.commands);
    if (!line.is_block()) {
      EXPECT_EQ(line.text, ranges.slice(line.range));
      continue;
    }
    for (size_t i = 0; i < line.line_ranges.size(); ++i) {
      ranges.check(line.line_ranges[i], line.range, "block line");
      ranges.check(line.marker_ranges[i], line.line_ranges[i], "block marker");
      EXPECT_EQ(ranges.slice(line.marker_ranges[i]), "|");
    }
    EXPECT_EQ(line.range.start, line.line_ranges.front().start);
  }
}

// Every node is offered to every wrapper; only the matching one may accept it.
void check_node(const SyntaxNode& node, RangeChecker& ranges) {
  int accepted = Document::cast(node).has_value() + Directive::cast(node).has_value() +
                 Metadata::cast(node).has_value() + GroupLine::cast(node).has_value() +
                 Task::cast(node).has_value() + TaskHeader::cast(node).has_value() +
                 TaskName::cast(node).has_value() + ParameterList::cast(node).has_value() +
                 Parameter::cast(node).has_value() + Guard::cast(node).has_value() +
                 Dependency::cast(node).has_value() + ShellOverride::cast(node).has_value();
  const bool typed = node.kind() != K::ErrorItem && node.kind() != K::BodyMarker;
  EXPECT_EQ(accepted, typed ? 1 : 0) << kind_name(node.kind());

  if (auto directive = Directive::cast(node)) check_directive(*directive, ranges);
  if (auto metadata = Metadata::cast(node)) check_metadata(*metadata, ranges);
  if (auto group = GroupLine::cast(node)) check_group(*group, ranges);
  if (auto task = Task::cast(node)) check_task(*task, ranges);
  if (auto name = TaskName::cast(node)) ranges.check(name->token_range(), node.text_range(), "n");
  if (auto parameter = Parameter::cast(node)) (void)parameter->view();
  if (auto guard = Guard::cast(node)) (void)guard->view();
  if (auto shell = ShellOverride::cast(node)) (void)shell->view();
}

TEST(AstViewProperty, AccessorsStayInsideTheirNodes) {
  Draw draw(0x5eed1234);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = generate(draw);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << testing::PrintToString(text));
    const ParseResult parsed = parse(text);
    RangeChecker ranges(text);
    for (const SyntaxNode& node : parsed.root.descendants()) check_node(node, ranges);
    if (testing::Test::HasFailure()) return;  // one reproducible input is enough
  }
  for (int count : {seen.arguments, seen.metadata_values, seen.parameters, seen.guards,
                    seen.dependencies, seen.shells, seen.blocks, seen.commands}) {
    EXPECT_GT(count, 100);
  }
}

// The same tree without its source: every node's text then comes from walking its tokens.
SyntaxNode without_source(const SyntaxNode& root) {
  GreenBuilder builder;
  Preorder walk(root, /*with_tokens=*/true);
  while (auto step = walk.next()) {
    switch (step->event) {
      case Preorder::Event::Enter:
        builder.start_node(step->element.kind());
        break;
      case Preorder::Event::Leave:
        builder.finish_node();
        break;
      case Preorder::Event::Token:
        builder.token(step->element.kind(), step->element.as_token()->text());
        break;
    }
  }
  return SyntaxNode::new_root(builder.finish());
}

std::string show(std::optional<TextRange> range) {
  if (!range) return "-";
  return std::to_string(range->start) + ".." + std::to_string(range->end);
}

std::string show(const std::optional<std::string>& text) {
  return text ? "'" + *text + "'" : "-";
}

std::string show(TextRange range) {
  return show(std::optional<TextRange>(range));
}

// Every field of a header view, in one line.
std::string show(const TaskHeaderView& view) {
  std::string out = show(view.name) + show(view.name_range) + show(view.dependency_summary) +
                    show(view.body_marker_range);
  for (const ParameterView& parameter : view.parameters) {
    out += "(" + parameter.name + show(parameter.name_range) + show(parameter.default_value) +
           (parameter.is_slice ? ".." : "") + show(parameter.range) + ")";
  }
  for (const GuardView& guard : view.guards) {
    out += "?" + std::string(name(guard.kind)) + guard.name + "=" + guard.argument +
           show(guard.range) + show(guard.head_range) + show(guard.argument_range);
  }
  for (const DependencyView& dependency : view.dependencies) {
    out += "&" + dependency.name + show(dependency.name_range) + show(dependency.range) + "#" +
           std::to_string(dependency.clause_index);
    for (const DependencyArgument& argument : dependency.arguments) {
      out += argument.text + show(argument.range);
    }
  }
  if (view.shell) {
    out += std::string(name(view.shell->mode)) + std::string(name(view.shell->shell)) +
           show(view.shell->range) + show(view.shell->shell_range);
  }
  return out;
}

// Every field of a task's commands, in one line.
std::string show(const std::vector<BodyLine>& lines) {
  std::string out;
  for (const BodyLine& line : lines) {
    out += "[" + line.text + "]" + show(line.range);
    for (TextRange range : line.line_ranges) out += show(range);
    for (TextRange range : line.marker_ranges) out += show(range);
  }
  return out;
}

// Everything the typed view reads from `node` that involves more than one token, in one line.
std::string describe(const SyntaxNode& node) {
  std::string out = node.text() + "|";
  if (auto directive = Directive::cast(node)) {
    out += show(directive->value_text()) + show(directive->arguments());
  }
  if (auto metadata = Metadata::cast(node)) {
    if (auto view = metadata->view()) {
      out += std::string(name(view->field)) + view->key + "=" + view->value +
             show(view->key_range) + show(view->value_range);
    }
  }
  if (auto group = GroupLine::cast(node)) out += group->is_close() ? "close" : "open";
  if (auto dependency = Dependency::cast(node)) out += dependency->clause_text();
  if (auto parameter = Parameter::cast(node)) {
    if (auto view = parameter->view()) out += view->name + (view->is_slice ? ".." : "");
  }
  if (auto task = Task::cast(node)) out += show(task->header_view()) + show(task->body_lines());
  return out;
}

// Node texts are slices of the parsed source; a tree built without one must read the same
// texts, and so the same views, from its tokens.
TEST(AstViewProperty, SourceSlicesAgreeWithTokenWalks) {
  Draw draw(0x51ced00d);
  for (int round = 0; round < 1000; ++round) {
    const std::string text = generate(draw);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << testing::PrintToString(text));
    const ParseResult parsed = parse(text);
    ASSERT_EQ(parsed.root.text_view(), text);
    const std::vector<SyntaxNode> sliced = parsed.root.descendants();
    const std::vector<SyntaxNode> walked = without_source(parsed.root).descendants();
    ASSERT_EQ(sliced.size(), walked.size());
    for (size_t i = 0; i < sliced.size(); ++i) {
      EXPECT_EQ(sliced[i].text_view(), sliced[i].text());
      EXPECT_EQ(walked[i].text_view(), std::nullopt);
      EXPECT_EQ(describe(sliced[i]), describe(walked[i]));
    }
    if (testing::Test::HasFailure()) return;  // one reproducible input is enough
  }
}

// A header view and a list of commands reused from task to task (and document to document)
// read exactly what fresh ones read: nothing of an earlier task is left behind. The reused
// header view leaves out the dependency summary, and the reused commands leave a single line's
// text to the document, at the line's range.
TEST(AstViewProperty, ReusedViewsMatchFreshOnes) {
  Draw draw(0x2e05ed);
  TaskHeaderView reused_view;
  std::vector<BodyLine> reused_lines;
  for (int round = 0; round < 1000; ++round) {
    const std::string text = generate(draw);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << testing::PrintToString(text));
    const ParseResult parsed = parse(text);
    for (const SyntaxNode& node : parsed.root.descendants()) {
      const std::optional<Task> task = Task::cast(node);
      if (!task) continue;
      task->header_view_into(reused_view);
      task->body_lines_into(reused_lines);
      EXPECT_FALSE(reused_view.dependency_summary.has_value());
      TaskHeaderView fresh_view = task->header_view();
      fresh_view.dependency_summary.reset();
      EXPECT_EQ(show(reused_view), show(fresh_view));
      std::vector<BodyLine> fresh_lines = task->body_lines();
      for (BodyLine& line : fresh_lines) {
        if (line.is_block()) continue;
        EXPECT_EQ(text.substr(line.range.start, line.range.len()), line.text);
        line.text.clear();
      }
      EXPECT_EQ(show(reused_lines), show(fresh_lines));
      if (auto header = task->header()) {
        EXPECT_EQ(show(header->view()), show(task->header_view()));
      }
    }
    if (testing::Test::HasFailure()) return;  // one reproducible input is enough
  }
}

}  // namespace
}  // namespace quib

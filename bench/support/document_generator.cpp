// Writes benchmark documents item by item from fixed templates and a small PRNG. Validity is
// kept by construction (name counters, lists of defined tasks), never by checking the output.
#include "support/document_generator.h"

#include <array>
#include <string_view>
#include <vector>

namespace quib {
namespace {

// splitmix64: tiny, fast and fully specified, so documents match across platforms.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t below(size_t bound) { return static_cast<size_t>(next() % bound); }
  bool percent(unsigned chance) { return below(100) < chance; }
  template <typename T, size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  uint64_t state_;
};

constexpr std::array<std::string_view, 4> kGlobals = {"profile", "out_dir", "registry", "region"};

constexpr std::array<std::string_view, 10> kVerbs = {
    "build", "test", "lint", "deploy", "package", "fmt", "check", "bench", "docs", "release"};

// A parameter list and the names it binds. `header` is written verbatim after the task name.
struct ParamSet {
  std::string_view header;
  std::array<std::string_view, 3> names;
  size_t count;
};
constexpr std::array<ParamSet, 7> kParamSets = {{
    {"", {}, 0},
    {"()", {}, 0},
    {"(target)", {"target"}, 1},
    {"(target, mode=\"fast\")", {"target", "mode"}, 2},
    {"(target, mode=\"fast\", rest..)", {"target", "mode", "rest"}, 3},
    {"(env=\"staging\")", {"env"}, 1},
    {"(files..)", {"files"}, 1},
}};

constexpr std::array<std::string_view, 4> kGuardKinds = {"os", "arch", "env", "has"};
constexpr std::array<std::array<std::string_view, 3>, 4> kGuardArgs = {{
    {"linux", "macos", "windows"},
    {"x86_64", "aarch64", "riscv64"},
    {"CI", "RELEASE", "DEBUG"},
    {"docker", "cargo", "node"},
}};

constexpr std::array<std::string_view, 7> kShellClauses = {
    "shell=bash", "shell=sh",         "shell~=bash", "shell~=pwsh",
    "shell=deno", "shell=powershell", "shell=pwsh"};

// Command texts; "$" stands for an interpolation of a name the task may use. No template
// starts with a word followed by "(", or with "#", "!" or "[", which would end a group body.
constexpr std::array<std::string_view, 14> kCommands = {
    "echo \"building {{$}} \xE2\x9C\x93\"",
    "make -C src/{{$}} -j8 all",
    "cargo build --release --target-dir {{$}}",
    "docker build -t {{$}}:latest .",
    "cp -r dist/ {{$}}/artifacts",
    "rm -rf ./tmp/{{$}} && mkdir -p ./tmp",
    "test -f config/{{$}}.toml || exit 1",
    "npm run build -- --mode={{$}}",
    "git describe --tags > VERSION",
    "tar czf out.tar.gz -C {{$}} .",
    "./scripts/check.sh --strict \"{{$}}\" 2>&1 | tee log.txt",
    "python3 tools/gen.py --in {{$}} --out gen/",
    "curl -fsSL https://example.com/{{$}}/status",
    "env RUST_LOG=debug ./target/app --region={{$}}",
};

constexpr std::array<std::array<std::string_view, 3>, 3> kBlocks = {{
    {"set -euo pipefail", "for f in {{$}}/*.o; do", "  strip \"$f\"; done"},
    {"if test -d {{$}}; then", "  echo \"exists\"", "fi"},
    {"cat <<'EOF' > notes.txt", "generated for {{$}}", "EOF"},
}};

constexpr std::array<std::string_view, 6> kComments = {
    "# Build steps for the main component.",
    "# Keep these in sync with the CI pipeline configuration.",
    "# Größe prüfen \xE2\x86\x92 ok; the artifacts go to the shared cache.",
    "# TODO: split this into smaller tasks once the layout settles.",
    "# Runs only where the toolchain is installed.",
    "# \xF0\x9F\x9A\x80 release helpers",
};

constexpr std::array<std::string_view, 5> kHelp = {
    "Build the component for one target",
    "Run the checks used before merging",
    "Publish artifacts to {{ registry }}",
    "Prepare the release notes (caf\xC3\xA9 edition)",
    "Clean and rebuild everything in {{ out_dir }}",
};
constexpr std::array<std::string_view, 3> kDesc = {
    "Uses the {{ profile }} profile and writes to {{ out_dir }}",
    "Needs network access to {{ region }}",
    "Safe to run repeatedly; outputs are overwritten",
};

class Writer {
 public:
  explicit Writer(uint32_t seed) : rng_(seed * 0x2545F4914F6CDD1Dull + 1) {}

  void prelude() {
    out_ += "# Generated Quibfile for benchmarks.\n!version 0.1\n";
    out_ += "!var profile = \"release\"\n!var out_dir = \"build/out\"\n";
    out_ += "!var registry = \"ghcr.io/example\"\n!var region = \"eu-west-1\"\n";
    out_ += "!shell bash\n\n";
  }

  void item() {
    const size_t roll = rng_.below(100);
    if (rng_.percent(30)) line(rng_.pick(kComments));
    if (roll < 65 || top_tasks_.size() < 2) {
      top_task();
    } else if (roll < 90) {
      group();
    } else {
      aggregate_task();
    }
    out_ += '\n';
  }

  std::string take() { return std::move(out_); }
  size_t size() const { return out_.size(); }

 private:
  void line(std::string_view text, std::string_view indent = "") {
    out_ += indent;
    out_ += text;
    out_ += '\n';
  }

  void metadata(std::string_view indent, bool is_task) {
    if (rng_.percent(60)) {
      out_ += indent;
      out_ += "[help] ";
      line(rng_.pick(kHelp));
    }
    if (rng_.percent(30)) {
      out_ += indent;
      out_ += "[desc] ";
      line(rng_.pick(kDesc));
    }
    if (is_task && rng_.percent(10)) line("[pass] Done \xE2\x9C\x94", indent);
    if (is_task && rng_.percent(10)) line("[fail] See log.txt for details", indent);
  }

  // Guards with distinct kinds, so no key repeats within a header.
  void guards() {
    const size_t count = rng_.percent(40) ? 1 + rng_.below(2) : 0;
    const size_t first = rng_.below(kGuardKinds.size());
    for (size_t i = 0; i < count; ++i) {
      const size_t kind = (first + i) % kGuardKinds.size();
      out_ += " ? @";
      out_ += kGuardKinds[kind];
      out_ += "(\"";
      out_ += rng_.pick(kGuardArgs[kind]);
      out_ += "\")";
    }
  }

  // Up to two distinct dependencies among `candidates` (all defined earlier).
  void dependencies(const std::vector<std::string>& candidates, unsigned chance) {
    if (candidates.empty() || !rng_.percent(chance)) return;
    const std::string& a = candidates[candidates.size() - 1 - rng_.below(candidates.size())];
    const std::string& b = candidates[candidates.size() - 1 - rng_.below(candidates.size())];
    if (a == b) {
      out_ += " & " + a;
    } else if (rng_.percent(50)) {
      out_ += " & (" + a + ", " + b + ")";
    } else {
      out_ += " & " + a + " & " + b;
    }
  }

  void shell_clause() {
    if (!rng_.percent(35)) return;
    out_ += ' ';
    out_ += rng_.pick(kShellClauses);
  }

  // A name the task may interpolate: one of its parameters or a global variable.
  std::string_view usable_name(const ParamSet& params) {
    if (params.count != 0 && rng_.percent(70)) return params.names[rng_.below(params.count)];
    return rng_.pick(kGlobals);
  }

  void command(std::string_view text, std::string_view indent, const ParamSet& params) {
    out_ += indent;
    for (char c : text) {
      if (c == '$' && out_.back() == '{') {
        out_ += ' ';
        out_ += usable_name(params);
        out_ += ' ';
      } else {
        out_ += c;
      }
    }
    out_ += '\n';
  }

  void body(std::string_view indent, const ParamSet& params) {
    const size_t lines = 1 + rng_.below(4);
    for (size_t i = 0; i < lines; ++i) command(rng_.pick(kCommands), indent, params);
    if (rng_.percent(30)) {
      const std::string marked = std::string(indent) + "| ";
      for (std::string_view block_line : rng_.pick(kBlocks)) command(block_line, marked, params);
    }
  }

  void top_task() {
    const std::string name = std::string(rng_.pick(kVerbs)) + "_" + std::to_string(++counter_);
    const ParamSet& params = rng_.pick(kParamSets);
    metadata("", true);
    out_ += name;
    out_ += params.header;
    guards();
    dependencies(top_tasks_, 50);
    shell_clause();
    out_ += ":\n";
    body("    ", params);
    top_tasks_.push_back(name);
  }

  // A body-less task that only names dependencies; valid without a colon.
  void aggregate_task() {
    std::string name = "all_";
    name += std::to_string(++counter_);
    out_ += name;
    dependencies(top_tasks_, 100);
    out_ += '\n';
    top_tasks_.push_back(name);
  }

  // Group tasks always write a parameter list: inside a group, an indented line is a task
  // header only when its name is followed by "(".
  void group() {
    static constexpr std::array<ParamSet, 3> kGroupParams = {{
        {"()", {}, 0},
        {"(x)", {"x"}, 1},
        {"(x, y=\"1\")", {"x", "y"}, 2},
    }};
    metadata("", false);
    out_ += "group g";
    out_ += std::to_string(++counter_);
    out_ += " {\n";
    std::vector<std::string> siblings;
    const size_t tasks = 2 + rng_.below(3);
    for (size_t i = 1; i <= tasks; ++i) {
      if (i > 1) out_ += '\n';
      metadata("    ", true);
      const ParamSet& params = rng_.pick(kGroupParams);
      const std::string name = 't' + std::to_string(i);
      out_ += "    ";
      out_ += name;
      out_ += params.header;
      guards();
      dependencies(rng_.percent(70) ? siblings : top_tasks_, 40);
      shell_clause();
      out_ += ":\n";
      body("        ", params);
      siblings.push_back(name);
    }
    out_ += "}\n";
  }

  Rng rng_;
  std::string out_;
  std::vector<std::string> top_tasks_;
  uint32_t counter_ = 0;
};

}  // namespace

std::string generate_quibfile(size_t approx_bytes, uint32_t seed) {
  Writer writer(seed);
  writer.prelude();
  while (writer.size() < approx_bytes) writer.item();
  return writer.take();
}

}  // namespace quib

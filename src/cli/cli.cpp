// Argument handling and the per-file loops of `quib check` and `quib fmt`. Diagnostics come
// from `analyze` exactly as the server computes them; the layout comes from the formatter.
#include "cli/cli.h"
#include "lsp/version.h"

#include <algorithm>
#include <optional>

#include "cli/files.h"
#include "cli/line_diff.h"
#include "cli/report.h"
#include "semantic/analyze.h"
#include "syntax/formatter.h"
#include "syntax/parse.h"

namespace quib::cli {
namespace {

constexpr std::string_view kDefaultPath = "Quibfile";
constexpr std::string_view kStdinPath = "-";
constexpr std::string_view kStdinName = "<stdin>";  // how diagnostics and lists name stdin

constexpr std::string_view kMainUsage = R"(usage: quib <command> [options] [PATH...]

Checks and formats Quibfiles.

Commands:
  check    print the diagnostics of each file
  fmt      rewrite each file in the canonical layout

Options:
  -h, --help    show this help
  --version     print the version

PATH defaults to ./Quibfile; '-' reads standard input.
Run 'quib <command> --help' for the options of a command.
)";

constexpr std::string_view kCheckUsage = R"(usage: quib check [--format text|json] [PATH...]

Parses and checks each file as the language server does and prints every diagnostic.

Options:
  --format text    one 'path:line:column: error[code]: message' entry per diagnostic, with
                   its advice and the source line (default; column in characters)
  --format json    one JSON array of {path, range, severity, code, message}; the range has
                   zero-based lines and UTF-16 columns
  -h, --help       show this help

PATH defaults to ./Quibfile; '-' reads standard input.
Exit status: 0 no diagnostics, 1 diagnostics, 2 usage error or unreadable file.
)";

constexpr std::string_view kFmtUsage = R"(usage: quib fmt [--check] [--diff] [PATH...]

Rewrites each file in place in the canonical layout. A file with diagnostics is left
untouched and its diagnostics are printed instead.

Options:
  --check       write nothing; list the files that would change
  --diff        write nothing; print a unified diff of what would change
  -h, --help    show this help

PATH defaults to ./Quibfile; '-' formats standard input to standard output.
Exit status: 0 success, 1 diagnostics (or, with --check, a file would change),
2 usage error or a file that could not be read or written.
)";

Status worse(Status a, Status b) {
  return std::max(a, b);
}

// One command's options after parsing.
struct Invocation {
  std::string_view command;
  bool help = false;
  bool json = false;   // check --format json
  bool check = false;  // fmt --check
  bool diff = false;   // fmt --diff
  std::vector<std::string> paths;
};

Status usage_error(const Streams& streams, std::string_view command, std::string_view message) {
  streams.err << "quib " << command << ": " << message << "\nTry 'quib " << command
              << " --help'.\n";
  return Status::Trouble;
}

// Reads the options after the command name; a usage error is printed and gives nothing.
std::optional<Invocation> parse_invocation(const std::vector<std::string>& args,
                                           const Streams& streams) {
  Invocation invocation;
  invocation.command = args[0];
  const bool is_check = invocation.command == "check";
  bool options_ended = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg == kStdinPath || !arg.starts_with('-')) {
      invocation.paths.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help") {
      invocation.help = true;
    } else if (is_check && (arg == "--format" || arg.starts_with("--format="))) {
      std::string value;
      if (arg != "--format") {
        value = arg.substr(std::string_view("--format=").size());
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        usage_error(streams, invocation.command, "option '--format' needs a value (text or json)");
        return std::nullopt;
      }
      if (value != "text" && value != "json") {
        usage_error(streams, invocation.command,
                    "unknown format '" + value + "' (expected text or json)");
        return std::nullopt;
      }
      invocation.json = value == "json";
    } else if (!is_check && arg == "--check") {
      invocation.check = true;
    } else if (!is_check && arg == "--diff") {
      invocation.diff = true;
    } else {
      usage_error(streams, invocation.command, "unknown option '" + arg + "'");
      return std::nullopt;
    }
  }
  // A second read of standard input would see it already at its end.
  if (std::count(invocation.paths.begin(), invocation.paths.end(), kStdinPath) > 1) {
    usage_error(streams, invocation.command, "standard input ('-') can be named only once");
    return std::nullopt;
  }
  if (invocation.paths.empty()) {
    invocation.paths.emplace_back(kDefaultPath);
  }
  return invocation;
}

struct Input {
  std::string path;  // as given; "-" for standard input
  std::string name;  // as printed
  std::string text;
};

// Reads one argument; a failure is reported on stderr, naming the path and the reason.
std::optional<Input> load(const std::string& path, const Streams& streams) {
  const bool from_stdin = path == kStdinPath;
  ReadOutcome read = read_file(from_stdin ? std::string() : path);
  if (!read.text) {
    streams.err << "quib: cannot read '" << (from_stdin ? kStdinName : path) << "': " << read.error
                << '\n';
    return std::nullopt;
  }
  return Input{path, from_stdin ? std::string(kStdinName) : path, std::move(*read.text)};
}

std::vector<Diagnostic> diagnostics_of(std::string_view text) {
  return in_source_order(analyze(parse(text)).diagnostics);
}

Status run_check(const Invocation& invocation, const Streams& streams) {
  Status status = Status::Clean;
  std::optional<JsonReport> json;
  if (invocation.json) json.emplace(streams.out);
  for (const std::string& path : invocation.paths) {
    const std::optional<Input> input = load(path, streams);
    if (!input) {
      status = worse(status, Status::Trouble);
      continue;
    }
    const std::vector<Diagnostic> diagnostics = diagnostics_of(input->text);
    if (!diagnostics.empty()) {
      status = worse(status, Status::Findings);
    }
    if (json) {
      json->add(input->name, input->text, diagnostics);
    } else {
      write_human(streams.out, input->name, input->text, diagnostics, streams.colour_out);
    }
  }
  if (json) json->finish();
  return status;
}

Status format_one(const Input& input, const Invocation& invocation, const Streams& streams) {
  // `quib fmt -` writes the formatted text to stdout, so everything else goes to stderr.
  const bool filter = input.path == kStdinPath && !invocation.check && !invocation.diff;
  const std::vector<Diagnostic> diagnostics = diagnostics_of(input.text);
  if (!diagnostics.empty()) {
    if (filter) {
      write_human(streams.err, input.name, input.text, diagnostics, streams.colour_err);
    } else {
      write_human(streams.out, input.name, input.text, diagnostics, streams.colour_out);
    }
    return Status::Findings;
  }
  const std::optional<std::string> formatted = format_document(input.text);
  if (!formatted) {
    streams.err << "quib: cannot format '" << input.name
                << "': the formatter refused it although it has no diagnostics\n";
    return Status::Findings;
  }
  if (filter) {
    streams.out << *formatted;
    return Status::Clean;
  }
  if (*formatted == input.text) {
    return Status::Clean;
  }
  if (invocation.diff) {
    streams.out << unified_diff(input.text, *formatted, input.name, input.name);
  } else if (invocation.check) {
    streams.out << input.name << '\n';
  }
  if (invocation.check) {
    return Status::Findings;
  }
  if (invocation.diff) {
    return Status::Clean;
  }
  if (const std::optional<std::string> error = replace_file(input.path, *formatted)) {
    streams.err << "quib: cannot write '" << input.name << "': " << *error << '\n';
    return Status::Trouble;
  }
  return Status::Clean;
}

Status run_fmt(const Invocation& invocation, const Streams& streams) {
  Status status = Status::Clean;
  for (const std::string& path : invocation.paths) {
    const std::optional<Input> input = load(path, streams);
    status = worse(status, input ? format_one(*input, invocation, streams) : Status::Trouble);
  }
  return status;
}

}  // namespace

Status run(const std::vector<std::string>& args, const Streams& streams) {
  if (args.empty()) {
    streams.err << kMainUsage;
    return Status::Trouble;
  }
  const std::string& first = args[0];
  if (first == "-h" || first == "--help") {
    streams.out << kMainUsage;
    return Status::Clean;
  }
  if (first == "--version") {
    streams.out << lsp::kServerVersion << '\n';
    return Status::Clean;
  }
  if (first != "check" && first != "fmt") {
    streams.err << "quib: unknown command '" << first << "'\nTry 'quib --help'.\n";
    return Status::Trouble;
  }
  const std::optional<Invocation> invocation = parse_invocation(args, streams);
  if (!invocation) {
    return Status::Trouble;
  }
  const bool is_check = invocation->command == "check";
  if (invocation->help) {
    streams.out << (is_check ? kCheckUsage : kFmtUsage);
    return Status::Clean;
  }
  return is_check ? run_check(*invocation, streams) : run_fmt(*invocation, streams);
}

}  // namespace quib::cli

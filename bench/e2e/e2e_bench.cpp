// End-to-end timings of the real server binary next to the transport-only floor server, on
// generated documents of 100 KB, 1 MB and 4 MB: medians over repeated runs, judged as ratios.
// Usage: e2e_bench [--runs N] [--only MEASURE SIZE]
//   --runs N: runs per figure (default 21); --only: time one measure at one size ("1 MB" or
//   1MB), with no table, e.g. to record a profile of just that work.
#include <algorithm>
#include <array>
#include <boost/json.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/server_process.h"
#include "support/document_generator.h"

namespace quib::bench {
namespace {

namespace json = boost::json;

constexpr std::array<std::size_t, 3> kSizes = {100 << 10, 1 << 20, 4 << 20};
constexpr std::array<const char*, 3> kSizeNames = {"100 KB", "1 MB", "4 MB"};
constexpr std::size_t kReferenceSize = 1;  // index of 1 MB in kSizes
constexpr std::size_t kLargeSize = 2;      // index of 4 MB
constexpr std::string_view kUri = "file:///bench/Quibfile";

// Targets, as ratios measured in the same run.
constexpr double kMaxRatioToFloor = 3.0;  // at 1 MB, to the floor's didOpen of 1 MB
constexpr double kMaxGrowth = 4.5;        // 4 MB figure over 1 MB figure
constexpr double kMaxPeakMiB = 60.0;      // resident, with a 4 MB document open

constexpr std::array<const char*, 8> kMeasures = {
    "didOpen",      "didChange", "semanticTokens/full", "formatting", "documentSymbol",
    "foldingRange", "hover",     "completion",
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double seconds_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// A protocol position: zero-based line and UTF-16 column of a byte offset.
json::object position_of(std::string_view text, std::size_t offset) {
  std::size_t line_start = text.rfind('\n', offset == 0 ? 0 : offset - 1);
  line_start = line_start == std::string_view::npos ? 0 : line_start + 1;
  int64_t line =
      std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(line_start), '\n');
  int64_t column = 0;
  for (std::size_t i = line_start; i < offset; ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80) column += byte >= 0xF0 ? 2 : 1;  // a lead byte or ASCII
  }
  return json::object{{"line", line}, {"character", column}};
}

bool is_word(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Where hover and completion are asked: the first top-level task header after the middle of
// the text whose clauses before the first `&` end with `)`, so that `&` opens a dependency
// context, and whose first dependency starts with `kCompletedLetter`. Hover is on the task's
// name; completion just after that letter, as if it had been typed. The letter is the same at
// every size, so that completion offers the same kind of names at every size and its answer
// grows with the document alone (with the first dependency's own letter, the 4 MB document's
// first such header asked for `b`, the names of two verbs, and the 1 MB one for `a`, one).
constexpr char kCompletedLetter = 'a';

struct Cursors {
  json::object hover;
  json::object completion;
};

Cursors find_cursors(std::string_view text) {
  std::size_t at = text.find('\n', text.size() / 2);
  while (at != std::string_view::npos && at + 1 < text.size()) {
    std::size_t start = at + 1;
    std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end - start);
    std::size_t amp = line.find("& ");
    if (!line.empty() && is_word(line[0]) && line.rfind("group ", 0) != 0 &&
        amp != std::string_view::npos && amp + 2 < line.size() &&
        line[amp + 2] == kCompletedLetter) {
      std::string_view before = line.substr(0, amp);
      while (!before.empty() && before.back() == ' ') before.remove_suffix(1);
      if (!before.empty() && before.back() == ')') {
        return Cursors{position_of(text, start + 1), position_of(text, start + amp + 3)};
      }
    }
    at = end;
  }
  throw std::runtime_error("no task header with dependencies in the second half");
}

struct Sample {
  double seconds = 0;
  std::size_t reply_bytes = 0;
  json::value reply;  // `result` of a request, `params` of a notification
};

// One connection to one server binary, driven as an editor drives it.
class Session {
 public:
  explicit Session(const std::string& binary) : process_(binary) {}

  ServerProcess& process() { return process_; }

  // Spawn to the `initialize` answer; also sends `initialized`.
  double initialize() {
    Sample answer =
        request("initialize",
                json::object{
                    {"processId", nullptr}, {"rootUri", nullptr}, {"capabilities", json::object{}}},
                process_.started());
    notify("initialized", json::object{});
    return answer.seconds;
  }

  void shutdown() {
    request("shutdown", nullptr, std::nullopt);
    notify("exit", nullptr);
  }

  Sample open(const std::string& text) {
    ++version_;
    std::string body = message("textDocument/didOpen",
                               json::object{{"textDocument", json::object{{"uri", kUri},
                                                                          {"languageId", "quib"},
                                                                          {"version", version_},
                                                                          {"text", text}}}});
    return until_published(body, version_);
  }

  Sample change(const std::string& text) {
    ++version_;
    json::array changes{json::object{{"text", text}}};
    std::string body =
        message("textDocument/didChange",
                json::object{{"textDocument", json::object{{"uri", kUri}, {"version", version_}}},
                             {"contentChanges", std::move(changes)}});
    return until_published(body, version_);
  }

  void close() {
    std::string body = message("textDocument/didClose",
                               json::object{{"textDocument", json::object{{"uri", kUri}}}});
    until_published(body, std::nullopt);
  }

  // A request on the bench document, with extra params members (a position) if given.
  Sample ask(std::string_view method, json::object extra = {}) {
    extra["textDocument"] = json::object{{"uri", kUri}};
    return request(method, std::move(extra), std::nullopt);
  }

 private:
  static std::string message(std::string_view method, json::value params) {
    return json::serialize(
        json::object{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
  }

  void notify(std::string_view method, json::value params) {
    process_.send(message(method, std::move(params)));
  }

  // Times from `since` (or from just before the write) to the arrival of the answer.
  Sample request(std::string_view method, json::value params,
                 std::optional<Clock::time_point> since) {
    int64_t id = next_id_++;
    std::string body = json::serialize(json::object{
        {"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
    Clock::time_point start = since.value_or(Clock::now());
    process_.send(body);
    for (;;) {
      Received got = process_.receive();
      json::object reply = json::parse(got.body).as_object();
      const json::value* got_id = reply.if_contains("id");
      if (reply.contains("method") || got_id == nullptr || *got_id != id) continue;
      if (const json::value* error = reply.if_contains("error")) {
        throw std::runtime_error(std::string(method) + " failed: " + json::serialize(*error));
      }
      return Sample{seconds_between(start, got.at), got.body.size(), reply.at("result")};
    }
  }

  // Times from just before the write to the arrival of the publishDiagnostics it causes.
  Sample until_published(const std::string& body, std::optional<int32_t> version) {
    Clock::time_point start = Clock::now();
    process_.send(body);
    for (;;) {
      Received got = process_.receive();
      json::object note = json::parse(got.body).as_object();
      const json::value* method = note.if_contains("method");
      if (method == nullptr || *method != "textDocument/publishDiagnostics") continue;
      const json::object& params = note.at("params").as_object();
      const json::value* got_version = params.if_contains("version");
      bool matches =
          version ? got_version != nullptr && *got_version == *version : got_version == nullptr;
      if (params.at("uri") != json::string_view(kUri) || !matches) continue;
      return Sample{seconds_between(start, got.at), got.body.size(), params};
    }
  }

  ServerProcess process_;
  int64_t next_id_ = 1;
  int32_t version_ = 0;
};

// The bench documents of one size: the text that stays open and the one swapped in by
// didChange, both valid, of the same size and different content.
struct Documents {
  std::string text;
  std::string other;
  Cursors cursors;
};

Documents make_documents(std::size_t bytes) {
  Documents docs{generate_quibfile(bytes, 1), generate_quibfile(bytes, 2), {}};
  docs.cursors = find_cursors(docs.text);
  return docs;
}

// Medians in seconds, by server ("server", "floor"), then measure, then size index.
using Figures = std::map<std::string, std::map<std::string, std::array<double, 3>>>;
// Reply sizes of the real server's last run, by measure and size index.
using ReplySizes = std::map<std::string, std::array<std::size_t, 3>>;

struct Server {
  const char* name;
  const char* binary;
};
constexpr std::array<Server, 2> kServers = {
    {{"floor", QUIB_LSP_FLOOR_BINARY}, {"server", QUIB_LSP_BINARY}}};

// Checks that a reply of the real server is the kind of answer the measure is about, so a
// refusal or an empty answer is not timed as if it were the work.
void check_reply(std::string_view measure, const Sample& sample) {
  const json::value& r = sample.reply;
  bool ok = true;
  if (measure == "didOpen" || measure == "didChange") {
    ok = r.at("diagnostics").as_array().empty();
  } else if (measure == "semanticTokens/full") {
    ok = !r.at("data").as_array().empty();
  } else if (measure == "formatting") {
    ok = r.is_array();
  } else if (measure == "documentSymbol" || measure == "foldingRange") {
    ok = !r.as_array().empty();
  } else if (measure == "hover" || measure == "completion") {
    ok = !r.is_null();
  }
  if (!ok) {
    std::fprintf(stderr, "warning: %.*s answered %.200s\n", static_cast<int>(measure.size()),
                 measure.data(), json::serialize(r).c_str());
  }
}

// One sample of `measure` from `session`, whose document is `docs.text` (the other text after an
// odd number of changes).
Sample take_sample(Session& session, std::string_view m, const Documents& docs, int run, int runs) {
  if (m == "didOpen") {
    if (run > 0) session.close();
    return session.open(docs.text);
  }
  if (m == "didChange") {
    Sample sample = session.change(run % 2 == 0 ? docs.other : docs.text);
    if (run == runs - 1 && run % 2 == 0) session.change(docs.text);
    return sample;
  }
  if (m == "semanticTokens/full") return session.ask("textDocument/semanticTokens/full");
  if (m == "formatting") {
    return session.ask(
        "textDocument/formatting",
        json::object{{"options", json::object{{"tabSize", 4}, {"insertSpaces", true}}}});
  }
  if (m == "documentSymbol") return session.ask("textDocument/documentSymbol");
  if (m == "foldingRange") return session.ask("textDocument/foldingRange");
  if (m == "hover") return session.ask("textDocument/hover", {{"position", docs.cursors.hover}});
  return session.ask("textDocument/completion", {{"position", docs.cursors.completion}});
}

// One line per size and server: the measure, the size, the server and its samples in ms, in
// the order they were taken, so that a figure's spread and any slow stretch within it show.
void write_samples(std::FILE* out, const char* measure,
                   const std::vector<std::size_t>& size_indices,
                   const std::vector<std::array<std::vector<double>, 2>>& samples) {
  for (std::size_t i = 0; i < size_indices.size(); ++i) {
    for (std::size_t s = 0; s < kServers.size(); ++s) {
      std::fprintf(out, "%s\t%s\t%s", measure, kSizeNames[size_indices[i]], kServers[s].name);
      for (double seconds : samples[i][s]) std::fprintf(out, "\t%.3f", seconds * 1e3);
      std::fprintf(out, "\n");
    }
  }
  std::fflush(out);
}

// Every measure at every size of `size_indices`, with one session per size and server. Each run
// of a measure takes one sample of every size from both servers, the floor and the server
// alternating, so that the figures compared with each other (a size against the floor, 4 MB
// against 1 MB) are sampled over the same stretch of time: the machine's speed moves for
// seconds at a time, and the samples of one size taken one after the other could all fall in a
// slow stretch that the other size missed.
// `measures` is kMeasures or one of them; the documents are opened first when didOpen is not
// measured.
// `samples_out`, when given, gets every sample behind each figure, in the order taken.
void measure_sizes(const std::vector<std::size_t>& size_indices,
                   const std::vector<const char*>& measures, int runs, Figures& figures,
                   ReplySizes& replies, std::FILE* samples_out) {
  std::vector<Documents> docs;
  // sessions[i][s]: the session of server s on the document of size_indices[i].
  std::vector<std::vector<std::unique_ptr<Session>>> sessions(size_indices.size());
  for (std::size_t i = 0; i < size_indices.size(); ++i) {
    docs.push_back(make_documents(kSizes[size_indices[i]]));
    for (const Server& server : kServers) {
      sessions[i].push_back(std::make_unique<Session>(server.binary));
      sessions[i].back()->initialize();
      if (measures.front() != std::string_view("didOpen")) sessions[i].back()->open(docs[i].text);
    }
  }
  for (const char* measure : measures) {
    // samples[i][s]: the samples of server s at size_indices[i].
    std::vector<std::array<std::vector<double>, 2>> samples(size_indices.size());
    for (int run = 0; run < runs; ++run) {
      for (std::size_t i = 0; i < size_indices.size(); ++i) {
        for (std::size_t s = 0; s < kServers.size(); ++s) {
          Sample sample = take_sample(*sessions[i][s], measure, docs[i], run, runs);
          samples[i][s].push_back(sample.seconds);
          if (kServers[s].name == std::string_view("server") && run == runs - 1) {
            check_reply(measure, sample);
            replies[measure][size_indices[i]] = sample.reply_bytes;
          }
        }
      }
    }
    if (samples_out != nullptr) write_samples(samples_out, measure, size_indices, samples);
    for (std::size_t i = 0; i < size_indices.size(); ++i) {
      for (std::size_t s = 0; s < kServers.size(); ++s) {
        figures[kServers[s].name][measure][size_indices[i]] = median(samples[i][s]);
      }
    }
    if (measures.size() > 1) std::fprintf(stderr, "measured %s\n", measure);
  }
  for (auto& per_size : sessions) {
    for (auto& session : per_size) session->shutdown();
  }
}

// Spawn to the `initialize` answer, alternating the two binaries.
std::array<double, 2> measure_startup(int runs) {
  std::array<std::vector<double>, 2> samples;
  for (int run = 0; run < runs; ++run) {
    for (std::size_t s = 0; s < kServers.size(); ++s) {
      Session session(kServers[s].binary);
      samples[s].push_back(session.initialize());
      session.shutdown();
    }
  }
  return {median(samples[0]), median(samples[1])};
}

// VmHWM of a fresh process after opening a 4 MB document, two full changes and every request.
// With `trace`, the peak after each step is printed, to show which step sets it.
std::array<double, 2> measure_peak_memory(bool trace = false) {
  const Documents docs = make_documents(kSizes[kLargeSize]);
  std::array<double, 2> peaks{};
  for (std::size_t s = 0; s < kServers.size(); ++s) {
    Session session(kServers[s].binary);
    const auto step = [&](const char* label) {
      if (!trace) return;
      std::printf("%-8s %-34s %8.1f MiB\n", kServers[s].name, label,
                  static_cast<double>(session.process().peak_rss_kib()) / 1024.0);
    };
    session.initialize();
    step("initialize");
    session.open(docs.text);
    step("didOpen");
    session.change(docs.other);
    step("didChange");
    session.change(docs.text);
    step("didChange again");
    session.ask("textDocument/semanticTokens/full");
    step("semanticTokens/full");
    session.ask("textDocument/formatting");
    step("formatting");
    session.ask("textDocument/documentSymbol");
    step("documentSymbol");
    session.ask("textDocument/foldingRange");
    step("foldingRange");
    session.ask("textDocument/hover", {{"position", docs.cursors.hover}});
    step("hover");
    session.ask("textDocument/completion", {{"position", docs.cursors.completion}});
    step("completion");
    peaks[s] = static_cast<double>(session.process().peak_rss_kib()) / 1024.0;
    session.shutdown();
  }
  return peaks;
}

const char* verdict(bool pass) {
  return pass ? "pass" : "FAIL";
}

void print_table(const Figures& figures, const ReplySizes& replies,
                 const std::array<double, 2>& startup, const std::array<double, 2>& peaks) {
  const double floor_open = figures.at("floor").at("didOpen")[kReferenceSize];
  std::printf("%-26s %10s %10s %10s %11s %8s  %s\n", "measure (median ms)", kSizeNames[0],
              kSizeNames[1], kSizeNames[2], "/floor 1MB", "4MB/1MB", "targets (<=3x, <=4.5x)");
  bool all_pass = true;
  for (const char* server : {"server", "floor"}) {
    for (const char* measure : kMeasures) {
      const auto& v = figures.at(server).at(measure);
      double ratio = v[kReferenceSize] / floor_open;
      double growth = v[kLargeSize] / v[kReferenceSize];
      std::string label =
          std::string(server == std::string_view("floor") ? "floor " : "") + measure;
      std::string targets;
      if (server == std::string_view("server")) {
        bool ratio_ok = ratio <= kMaxRatioToFloor;
        bool growth_ok = growth <= kMaxGrowth;
        all_pass = all_pass && ratio_ok && growth_ok;
        targets = std::string(verdict(ratio_ok)) + "   " + verdict(growth_ok);
      }
      std::printf("%-26s %10.2f %10.2f %10.2f %10.2fx %7.2fx  %s\n", label.c_str(), v[0] * 1e3,
                  v[1] * 1e3, v[2] * 1e3, ratio, growth, targets.c_str());
    }
  }
  std::printf("%-26s %10.2f ms (floor %.2f ms)\n", "start-up to initialize", startup[1] * 1e3,
              startup[0] * 1e3);
  bool memory_ok = peaks[1] < kMaxPeakMiB;
  all_pass = all_pass && memory_ok;
  std::printf("%-26s %10.1f MiB (floor %.1f MiB)   <60 MiB: %s\n", "peak RSS, 4 MB open", peaks[1],
              peaks[0], verdict(memory_ok));

  std::printf("\nserver reply bytes %8s %10s %10s\n", kSizeNames[0], kSizeNames[1], kSizeNames[2]);
  for (const char* measure : kMeasures) {
    const auto& r = replies.at(measure);
    std::printf("%-22s %10zu %10zu %10zu\n", measure, r[0], r[1], r[2]);
  }
  std::printf("\nall targets: %s\n", verdict(all_pass));
}

// One measure at one size, both servers, medians only.
int run_one(const char* measure, std::size_t size_index, int runs, std::FILE* samples_out) {
  Figures figures;
  ReplySizes replies;
  measure_sizes({size_index}, {measure}, runs, figures, replies, samples_out);
  std::printf("%s at %s: server %.2f ms, floor %.2f ms (median of %d)\n", measure,
              kSizeNames[size_index], figures["server"][measure][size_index] * 1e3,
              figures["floor"][measure][size_index] * 1e3, runs);
  return 0;
}

int run_all(int runs, std::FILE* samples_out) {
  std::printf("e2e bench: %d runs per figure, medians; load average at start %s\n", runs,
              load_average().c_str());
  std::fflush(stdout);
  Figures figures;
  ReplySizes replies;
  std::array<double, 2> startup = measure_startup(runs);
  const std::vector<const char*> measures(kMeasures.begin(), kMeasures.end());
  measure_sizes({0, 1, 2}, measures, runs, figures, replies, samples_out);
  std::array<double, 2> peaks = measure_peak_memory();
  print_table(figures, replies, startup, peaks);
  std::printf("load average at end %s\n", load_average().c_str());
  return 0;
}

}  // namespace
}  // namespace quib::bench

int main(int argc, char** argv) {
  using quib::bench::kMeasures;
  using quib::bench::kSizeNames;
  int runs = 21;
  const char* only_measure = nullptr;
  std::optional<std::size_t> only_size;
  bool usage = false;
  bool memory_only = false;
  const char* samples_path = nullptr;
  for (int i = 1; i < argc && !usage; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
      usage = runs < 1;
    } else if (arg == "--samples" && i + 1 < argc) {
      samples_path = argv[++i];
    } else if (arg == "--memory") {
      memory_only = true;
    } else if (arg == "--only" && i + 2 < argc) {
      std::string_view measure = argv[++i];
      std::string size = argv[++i];
      size.erase(std::remove(size.begin(), size.end(), ' '), size.end());
      for (const char* m : kMeasures) {
        if (measure == m) only_measure = m;
      }
      for (std::size_t s = 0; s < kSizeNames.size(); ++s) {
        std::string name = kSizeNames[s];
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        if (size == name) only_size = s;
      }
      usage = only_measure == nullptr || !only_size;
    } else {
      usage = true;
    }
  }
  if (usage) {
    std::fprintf(stderr,
                 "usage: %s [--runs N>=1] [--only MEASURE 100KB|1MB|4MB] [--memory] "
                 "[--samples FILE]\n",
                 argv[0]);
    return 2;
  }
  try {
    if (memory_only) {
      quib::bench::measure_peak_memory(true);
      return 0;
    }
    // A lambda, not &std::fclose: the address of a standard library function is unspecified.
    const auto close = [](std::FILE* file) { std::fclose(file); };
    const std::unique_ptr<std::FILE, decltype(close)> samples_out(
        samples_path != nullptr ? std::fopen(samples_path, "w") : nullptr, close);
    if (samples_path != nullptr && !samples_out) {
      throw std::runtime_error(std::string("cannot write ") + samples_path);
    }
    return only_measure != nullptr
               ? quib::bench::run_one(only_measure, *only_size, runs, samples_out.get())
               : quib::bench::run_all(runs, samples_out.get());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "e2e_bench: %s\n", e.what());
    return 1;
  }
}

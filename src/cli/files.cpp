// Whole-file reading and atomic replacement over POSIX calls, which report why they failed
// (the text of errno) where the standard streams would not.
#include "cli/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace quib::cli {
namespace {

// Byte offsets are 32-bit below the protocol boundary; the largest offset must stay usable.
constexpr size_t kMaxTextSize = std::numeric_limits<uint32_t>::max() - 1;
constexpr const char* kTooLarge = "file is too large (4 GiB or more)";

std::string errno_text() {
  return std::strerror(errno);
}

// Closes the descriptor when the scope ends unless it was released.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the outcome: a close may be the first to see a failed write.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

ReadOutcome read_all(int fd) {
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return {std::nullopt, errno_text()};
    }
    if (got == 0) {
      return {std::move(text), {}};
    }
    if (text.size() + static_cast<size_t>(got) > kMaxTextSize) {
      return {std::nullopt, kTooLarge};
    }
    text.append(buffer, static_cast<size_t>(got));
  }
}

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    text.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

// Writes `text` into a fresh temporary file next to `target` with `target`'s mode and owner,
// then renames it over `target`. The temporary file is removed on every failure path.
std::optional<std::string> write_beside(const std::string& target, const struct stat& info,
                                        std::string_view text) {
  // `target` is absolute (resolved), so it has a slash; the directory keeps it ("/" for root).
  const size_t slash = target.rfind('/');
  const std::string directory = target.substr(0, slash + 1);
  const std::string name = target.substr(slash + 1);
  // A hidden name, so an editor or a build watching the directory is unlikely to pick it up.
  std::string temporary = directory + "." + name + ".quib-XXXXXX";
  std::vector<char> buffer(temporary.begin(), temporary.end());
  buffer.push_back('\0');
  FdGuard fd(::mkstemp(buffer.data()));
  if (fd.get() < 0) {
    return "cannot create a temporary file in '" + directory + "': " + errno_text();
  }
  temporary = buffer.data();

  std::optional<std::string> error;
  if (!write_all(fd.get(), text) || ::fchmod(fd.get(), info.st_mode & 07777) != 0) {
    error = errno_text();
  } else if (::fchown(fd.get(), info.st_uid, info.st_gid) != 0 && errno != EPERM) {
    // EPERM: only a privileged user may give a file away; the file then becomes ours.
    error = errno_text();
  } else if (::fsync(fd.get()) != 0 || !fd.close()) {
    error = errno_text();
  } else if (::rename(temporary.c_str(), target.c_str()) != 0) {
    error = errno_text();
  }
  if (error) {
    ::unlink(temporary.c_str());
    return error;
  }
  // Make the rename itself durable; the new contents are already on disk, so a failure here
  // only risks the old name surviving a power loss.
  FdGuard directory_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory_fd.get() >= 0) {
    ::fsync(directory_fd.get());
  }
  return std::nullopt;
}

}  // namespace

ReadOutcome read_file(const std::string& path) {
  if (path.empty()) {
    return read_all(STDIN_FILENO);
  }
  FdGuard fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    return {std::nullopt, errno_text()};
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<uint64_t>(info.st_size) > kMaxTextSize) {
    return {std::nullopt, kTooLarge};
  }
  return read_all(fd.get());
}

std::optional<std::string> replace_file(const std::string& path, std::string_view text) {
  // Resolve links first: renaming over the link itself would turn it into a plain file.
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    return errno_text();
  }
  const std::string target = resolved;
  std::free(resolved);

  struct stat info {};
  if (::stat(target.c_str(), &info) != 0) {
    return errno_text();
  }
  if (!S_ISREG(info.st_mode)) {
    return "not a regular file";
  }
  // The rename needs only a writable directory; a file its owner made read-only stays as is.
  if (::access(target.c_str(), W_OK) != 0) {
    return errno_text();
  }
  return write_beside(target, info, text);
}

}  // namespace quib::cli

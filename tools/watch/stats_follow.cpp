#include "watch/stats_follow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "formats/stats_line.h"

namespace watch {

StatsLogFollower::~StatsLogFollower() {
  Close();
}

void StatsLogFollower::Fail(const std::string& what) const {
  throw std::runtime_error(fmt::format("statistics log {}: {}", path_.string(), what));
}

bool StatsLogFollower::Open() {
  // O_NONBLOCK: a FIFO put in the log's place must not hold up the watcher
  // until a writer comes; it is refused just below.
  const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) {
      return false;
    }
    Fail(error == ELOOP ? "is a symbolic link, which is not followed" : std::strerror(error));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    Fail(std::strerror(error));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail("is not a regular file");
  }
  fd_ = fd;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  offset_ = 0;
  partial_.clear();
  dropping_ = false;
  return true;
}

void StatsLogFollower::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool StatsLogFollower::Start() {
  Close();
  if (!Open()) {
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    Fail(std::strerror(errno));
  }
  offset_ = st.st_size;
  return true;
}

std::vector<std::string> StatsLogFollower::ReadNew() {
  std::vector<std::string> lines;
  std::size_t budget = kMaxReadPerCall;
  // At most two files a call: the rest of the one held, then its successor.
  for (int file = 0; file < 2; ++file) {
    if ((fd_ < 0 && !Open()) || !ReadOpen(lines, budget)) {
      break;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0) {
      if (errno == ENOENT) {
        break;  // rotated, and the new file not begun yet
      }
      Fail(std::strerror(errno));
    }
    if (st.st_dev == dev_ && st.st_ino == ino_) {
      break;
    }
    // The file held was rotated away. The writer may have added lines to it
    // since it was read, before the rename: read them, then go on with the
    // file now at the path, from its start. A rotated file ends with a whole
    // line, so an unfinished one there is damage.
    if (!ReadOpen(lines, budget)) {
      break;
    }
    Close();
  }
  return lines;
}

bool StatsLogFollower::ReadOpen(std::vector<std::string>& lines, std::size_t& budget) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    Fail(std::strerror(errno));
  }
  if (st.st_size < offset_) {  // cut short in place (copytruncate)
    offset_ = 0;
    partial_.clear();
    dropping_ = false;
  }
  std::array<char, 64 * 1024> buffer;
  while (budget > 0) {
    const ssize_t n = ::pread(fd_, buffer.data(), std::min(buffer.size(), budget), offset_);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail(std::strerror(errno));
    }
    if (n == 0) {
      return true;
    }
    offset_ += n;
    budget -= static_cast<std::size_t>(n);
    TakeLines({buffer.data(), static_cast<std::size_t>(n)}, lines);
  }
  return false;
}

void StatsLogFollower::TakeLines(std::string_view bytes, std::vector<std::string>& lines) {
  const auto last = bytes.rfind('\n');
  if (last != std::string_view::npos) {
    std::string_view ended = bytes.substr(0, last + 1);
    if (dropping_) {  // the first line's start is gone: skip to its end
      ended.remove_prefix(ended.find('\n') + 1);
      dropping_ = false;
    }
    const std::string text = std::move(partial_) + std::string(ended);
    partial_.clear();
    for (const std::string_view line : formats::SplitStatsLines(text)) {
      if (line.size() <= kMaxLine) {
        lines.emplace_back(line);
      }
    }
    bytes.remove_prefix(last + 1);
  }
  if (dropping_) {
    return;
  }
  if (partial_.size() + bytes.size() > kMaxLine) {
    partial_.clear();
    dropping_ = true;
    return;
  }
  partial_.append(bytes);
}

}  // namespace watch

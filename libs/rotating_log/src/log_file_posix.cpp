#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "log_file.h"
#include "rotating_log/rotating_file.h"

namespace rotating_log {

namespace fs = std::filesystem;

namespace detail {

namespace {

std::runtime_error Refused(const fs::path& path, const char* what) {
  return std::runtime_error("cannot open " + PathText(path) + ": it is " + what +
                            ", and the log is written to regular files only");
}

const char* Kind(mode_t mode) {
  if (S_ISFIFO(mode)) {
    return "a FIFO";
  }
  if (S_ISSOCK(mode)) {
    return "a socket";
  }
  if (S_ISCHR(mode) || S_ISBLK(mode)) {
    return "a device";
  }
  return "not a regular file";
}

}  // namespace

LogFile::LogFile(const fs::path& path) : handle_(-1), path_(path) {
  // O_NOFOLLOW: a planted link would get the lines written into its target.
  // O_NONBLOCK: opening a FIFO to write waits for a reader, at start-up for
  // ever; with it the open fails at once (no reader) or returns, and the
  // type check below refuses what it opened. The description is this
  // object's own, and a regular file ignores the flag.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    if (error == ELOOP) {
      throw Refused(path, "a symbolic link");
    }
    // No reader on a FIFO, or a socket, which no open() reaches.
    struct stat st {};
    if (error == ENXIO && ::lstat(path.c_str(), &st) == 0) {
      throw Refused(path, Kind(st.st_mode));
    }
    throw std::system_error(error, std::generic_category(), "cannot open " + PathText(path));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "cannot open " + PathText(path));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Refused(path, Kind(st.st_mode));
  }
  handle_ = fd;
}

LogFile::~LogFile() {
  ::close(static_cast<int>(handle_));
}

void LogFile::Append(std::string_view bytes, std::uint64_t& written) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      throw std::system_error(error, std::generic_category(), "cannot write to " + PathText(path_));
    }
    written += static_cast<std::uint64_t>(n);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::uint64_t LogFile::Size() const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) {
    const int error = errno;
    throw std::system_error(error, std::generic_category(), "cannot size " + PathText(path_));
  }
  return static_cast<std::uint64_t>(st.st_size);
}

void LogFile::Truncate() {
  if (::ftruncate(static_cast<int>(handle_), 0) != 0) {
    const int error = errno;
    throw std::system_error(error, std::generic_category(), "cannot empty " + PathText(path_));
  }
}

bool Exists(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string Rename(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) {
    return {};
  }
  const int error = errno;
  return "cannot rename " + PathText(from) + " to " + PathText(to) + ": " +
         std::generic_category().message(error);
}

}  // namespace detail

fs::path PathFromNarrow(const std::string& text) {
  return fs::path(text);
}

}  // namespace rotating_log

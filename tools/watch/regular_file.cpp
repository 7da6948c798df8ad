#include "watch/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

namespace watch {

namespace {

[[noreturn]] void Throw(std::string_view what, const std::filesystem::path& path, int error) {
  throw std::runtime_error(
      fmt::format("cannot {} {}: {}", what, path.string(), std::strerror(error)));
}

// Opens without waiting (a FIFO without a writer would block a plain open)
// and keeps the descriptor only for a regular file.
int OpenRegular(const std::filesystem::path& path, int flags, std::string_view what) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    Throw(what, path, errno);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    Throw(what, path, error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw std::runtime_error(
        fmt::format("cannot {} {}: {}", what, path.string(),
                    S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file"));
  }
  // Regular files never block; the flag would only surprise later calls.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

bool ReadableByOthers(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

std::string ReadRegularFile(const std::filesystem::path& path) {
  const int fd = OpenRegular(path, O_RDONLY, "read");
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int error = errno;
      ::close(fd);
      Throw("read", path, error);
    }
  }
  ::close(fd);
  return text;
}

AppendFile::AppendFile(const std::filesystem::path& path)
    : path_(path), fd_(OpenRegular(path, O_RDWR | O_APPEND | O_CREAT, "open")) {}

AppendFile::~AppendFile() {
  ::close(fd_);
}

std::uint64_t AppendFile::size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    Throw("read", path_, errno);
  }
  return static_cast<std::uint64_t>(st.st_size);
}

std::string AppendFile::ReadAt(std::uint64_t offset, std::size_t count) const {
  std::string out(count, '\0');
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::pread(fd_, out.data() + got, count - got, static_cast<off_t>(offset + got));
    if (n == 0) {
      break;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      Throw("read", path_, errno);
    }
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return out;
}

void AppendFile::Append(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      Throw("write", path_, errno);
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace watch

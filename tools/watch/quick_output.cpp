#include "watch/quick_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

namespace watch {

namespace {

// Setting O_NONBLOCK on the descriptor we were given would change it for
// every process that shares it (the shell, for a terminal) and outlive us;
// a fresh open of the same pipe or terminal gets a description of its own.
int OpenNonBlocking(int fd) {
  const std::string path = fmt::format("/proc/self/fd/{}", fd);
  return ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

}  // namespace

QuickOutput::QuickOutput(int fd, std::size_t max_pending) : fd_(fd), max_pending_(max_pending) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    return;  // the first write reports it
  }
  socket_ = S_ISSOCK(st.st_mode);
  if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
    if (const int own = OpenNonBlocking(fd); own >= 0) {
      fd_ = own;
      own_fd_ = true;
    }
  }
}

QuickOutput::~QuickOutput() {
  if (own_fd_) {
    ::close(fd_);
  }
}

QuickOutput::Result QuickOutput::Write(std::string_view text) {
  if (closed_) {
    return Result::kClosed;
  }
  if (!pending_.empty() && pending_.size() + text.size() > max_pending_) {
    Push();
    if (closed_) {
      return Result::kClosed;
    }
    if (!pending_.empty() && pending_.size() + text.size() > max_pending_) {
      ++dropped_;
      return Result::kDropped;
    }
  }
  pending_.append(text);
  ++pending_writes_;
  Push();
  return closed_ ? Result::kClosed : Result::kTaken;
}

bool QuickOutput::Push() {
  while (!pending_.empty() && !closed_) {
    const ssize_t n =
        socket_ ? ::send(fd_, pending_.data(), pending_.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                : ::write(fd_, pending_.data(), pending_.size());
    if (n > 0) {
      pending_.erase(0, static_cast<std::size_t>(n));
      if (pending_.empty()) {
        pending_writes_ = 0;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return false;
    }
    if (n < 0 && errno == EPIPE) {
      closed_ = true;
      pending_.clear();
      pending_writes_ = 0;
      return false;
    }
    const int error = n < 0 ? errno : EIO;
    pending_.clear();
    pending_writes_ = 0;
    throw std::runtime_error(fmt::format("cannot write the table to standard output: {}",
                                         std::system_category().message(error)));
  }
  return !closed_;
}

void QuickOutput::Drain(std::chrono::milliseconds grace) {
  while (!pending_.empty() && !closed_) {
    pollfd p{fd_, POLLOUT, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(grace.count()));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      break;
    }
    const std::size_t before = pending_.size();
    Push();
    if (pending_.size() == before && (p.revents & (POLLERR | POLLHUP)) != 0) {
      break;
    }
  }
  if (!pending_.empty()) {
    dropped_ += pending_writes_;
    pending_.clear();
    pending_writes_ = 0;
  }
}

}  // namespace watch

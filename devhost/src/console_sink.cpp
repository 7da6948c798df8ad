#include "console_sink.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

#include <fmt/format.h>
#include <spdlog/details/os.h>
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

namespace devhost {

namespace {

// About 1,200 lines: what a reader that is merely slow catches up on, and
// all the memory a reader that never comes costs.
constexpr std::size_t kCapacity = 128 * 1024;

// Blocking, on the writer's own thread. Fd 1 is the descriptor the shell or
// the service manager shares with others: making it non-blocking would
// change it for them too, so the sink waits here instead. A failure (the
// reader went away) loses these bytes only.
void WriteOut(std::string_view bytes) {
#if defined(_WIN32)
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    return;
  }
  while (!bytes.empty()) {
    DWORD n = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    if (!WriteFile(out, bytes.data(), chunk, &n, nullptr) || n == 0) {
      return;
    }
    bytes.remove_prefix(n);
  }
#else
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
#endif
}

}  // namespace

struct ConsoleSink::Queue {
  std::mutex mutex;
  std::condition_variable wake;     // lines queued, or closing
  std::condition_variable stopped;  // the writer has ended
  std::string bytes;
  std::uint64_t dropped = 0;  // lines dropped since the writer last said so
  bool closing = false;
  bool done = false;

  // The writer's loop: everything queued goes out in one write, then the
  // count of the lines that did not fit behind it.
  void Drain() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return !bytes.empty() || closing; });
      if (bytes.empty()) {
        break;
      }
      const std::string out = std::exchange(bytes, {});
      const std::uint64_t lost = std::exchange(dropped, 0);
      lock.unlock();
      WriteOut(out);
      if (lost > 0) {
        WriteOut(
            fmt::format("({} lines dropped here: standard output was not read; the log "
                        "file has them){}",
                        lost, spdlog::details::os::default_eol));
      }
      lock.lock();
    }
    done = true;
    stopped.notify_all();
  }
};

ConsoleSink::ConsoleSink(Notify notify)
    : HostSink(std::move(notify)), queue_(std::make_shared<Queue>()) {
  writer_ = std::thread([queue = queue_] { queue->Drain(); });
}

ConsoleSink::~ConsoleSink() {
  Close(std::chrono::milliseconds(500));
}

void ConsoleSink::Close(std::chrono::milliseconds grace) {
  if (!writer_.joinable()) {
    return;
  }
  std::unique_lock lock(queue_->mutex);
  queue_->closing = true;
  queue_->wake.notify_all();
  const bool ended = queue_->stopped.wait_for(lock, grace, [&] { return queue_->done; });
  lock.unlock();
  if (ended) {
    writer_.join();
  } else {
    writer_.detach();
  }
}

void ConsoleSink::Say(std::string_view text) {
  std::lock_guard lock(queue_->mutex);
  if (queue_->closing) {
    return;
  }
  if (queue_->bytes.size() + text.size() > kCapacity) {
    ++queue_->dropped;
    return;
  }
  queue_->bytes.append(text);
  queue_->wake.notify_one();
}

void ConsoleSink::Put(const spdlog::details::log_msg&, std::string_view line) {
  std::lock_guard lock(queue_->mutex);
  if (queue_->closing) {
    return;
  }
  if (queue_->bytes.size() + line.size() > kCapacity) {
    if (queue_->dropped++ == 0) {
      notice_ = Notice{spdlog::level::warn,
                       "Standard output is not being read: its lines are dropped and counted "
                       "until it is (the log file keeps them all)"};
    }
    return;
  }
  queue_->bytes.append(line);
  queue_->wake.notify_one();
}

std::optional<Notice> ConsoleSink::TakeNotice() {
  return std::exchange(notice_, std::nullopt);
}

}  // namespace devhost

// Standard output for the live table, written without ever waiting for its
// reader: a pipe nobody reads (`| less` left alone) or a terminal stopped
// with Ctrl-S costs table lines, never the poll loop that writes them. Text
// the reader has not taken yet waits here up to a bound; beyond it, whole
// writes are dropped and counted. POSIX; one thread; SIGPIPE must be
// ignored, as the watcher does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace watch {

class QuickOutput {
 public:
  enum class Result {
    kTaken,    // written, or waiting whole behind earlier text
    kDropped,  // more than the bound already waits: not written at all
    kClosed,   // the reader went away; nothing more is written
  };

  // Writes to `fd`, which stays open and keeps its flags: pipes and
  // terminals are written through a non-blocking description of their own.
  // At most `max_pending` bytes wait for the reader.
  explicit QuickOutput(int fd, std::size_t max_pending = 64 * 1024);
  QuickOutput(const QuickOutput&) = delete;
  QuickOutput& operator=(const QuickOutput&) = delete;
  ~QuickOutput();

  // Queues `text` whole, or drops it whole, then writes what the reader
  // takes at once. Throws std::runtime_error on a write error other than a
  // reader gone.
  Result Write(std::string_view text);
  // Gives the reader up to `grace` without progress to take what waits;
  // the writes it leaves, whole or in part, count as dropped. The caller's stop waits no longer
  // than that.
  void Drain(std::chrono::milliseconds grace);

  std::uint64_t dropped() const { return dropped_; }
  bool closed() const { return closed_; }

 private:
  // Writes what the reader takes now; false when it takes nothing more now.
  bool Push();

  int fd_ = -1;
  bool own_fd_ = false;
  bool socket_ = false;
  std::size_t max_pending_;
  std::string pending_;
  std::uint64_t pending_writes_ = 0;  // writes whose text is in pending_, whole or in part
  std::uint64_t dropped_ = 0;
  bool closed_ = false;
};

}  // namespace watch

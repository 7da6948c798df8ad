// Standard output as a sink of the host log. Lines go into a bounded queue
// that a thread of the sink's own writes out, so that a standard output
// nobody reads never holds up the game thread or the network thread: when
// the queue is full, lines are dropped and counted, the host log says so
// once, and when output moves again a line there says how many went.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

#include "host_sink.h"

namespace devhost {

class ConsoleSink final : public HostSink {
 public:
  explicit ConsoleSink(Notify notify);
  ~ConsoleSink() override;

  // Stops taking lines and ends the writer: what is queued has `grace` to
  // go out; a writer still blocked then is left to end with the process.
  // Idempotent.
  void Close(std::chrono::milliseconds grace);

  // Queues `text` as it is, behind the lines already queued, for standard
  // output alone (what must not reach the log file). Never blocks; text that
  // does not fit is dropped and counted as one line.
  void Say(std::string_view text);

 private:
  struct Queue;
  void Put(const spdlog::details::log_msg& msg, std::string_view line) override;
  std::optional<Notice> TakeNotice() override;

  std::shared_ptr<Queue> queue_;  // shared with the writer, which may outlive the sink
  std::thread writer_;
  std::optional<Notice> notice_;
};

}  // namespace devhost

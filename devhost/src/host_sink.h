// The base of the host log's sinks. The host's own lines (logger "AsaApi")
// are always formatted with the host's pattern; a formatter set on the sink,
// as a plugin sets its own on the framework's shared sinks, formats every
// other logger's lines. Thread-safe: each sink has its own lock.
#pragma once

#include <spdlog/common.h>
#include <spdlog/formatter.h>
#include <spdlog/sinks/sink.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace devhost {

// Something a sink has to say in the host log about itself (a rotation that
// failed, a standard output nobody reads).
struct Notice {
  spdlog::level::level_enum level;
  std::string text;
};

// The host's pattern: ISO 8601 local time with its offset from UTC, to the
// second, e.g. "2026-12-07T23:05:42+01:00 [AsaApi][info] message".
std::unique_ptr<spdlog::formatter> HostFormatter();

class HostSink : public spdlog::sinks::sink {
 public:
  // Gets each notice after the sink's lock is released, so that it may log
  // through this very sink. Must not throw.
  using Notify = std::function<void(const Notice&)>;

  // Formats the line, hands it to Put and then any notice to the Notify.
  // Rethrows what Put threw (the logger reports it), after the notice.
  void log(const spdlog::details::log_msg& msg) final;
  void flush() final {}
  void set_pattern(const std::string& pattern) final;
  // For every logger's lines but the host's own.
  void set_formatter(std::unique_ptr<spdlog::formatter> formatter) final;

 protected:
  explicit HostSink(Notify notify);
  // Takes one formatted line, under the sink's lock.
  virtual void Put(const spdlog::details::log_msg& msg, std::string_view line) = 0;
  // What the sink has to report after a Put, if anything; under the lock.
  virtual std::optional<Notice> TakeNotice() { return std::nullopt; }

 private:
  std::mutex mutex_;
  const std::unique_ptr<spdlog::formatter> host_;
  std::unique_ptr<spdlog::formatter> others_;
  const Notify notify_;
};

}  // namespace devhost

#include "host_sink.h"

#include <spdlog/pattern_formatter.h>
#include <exception>
#include <utility>

namespace devhost {

namespace {
// The logger name of the host's own lines.
constexpr std::string_view kHostLogger = "AsaApi";
}  // namespace

std::unique_ptr<spdlog::formatter> HostFormatter() {
  return std::make_unique<spdlog::pattern_formatter>("%Y-%m-%dT%H:%M:%S%z [%n][%l] %v",
                                                     spdlog::pattern_time_type::local);
}

HostSink::HostSink(Notify notify)
    : host_(HostFormatter()), others_(HostFormatter()), notify_(std::move(notify)) {}

void HostSink::log(const spdlog::details::log_msg& msg) {
  std::optional<Notice> notice;
  std::exception_ptr failure;
  {
    std::lock_guard lock(mutex_);
    spdlog::memory_buf_t line;
    const bool own =
        std::string_view(msg.logger_name.data(), msg.logger_name.size()) == kHostLogger;
    (own ? host_ : others_)->format(msg, line);
    try {
      Put(msg, std::string_view(line.data(), line.size()));
    } catch (...) {
      failure = std::current_exception();
    }
    notice = TakeNotice();
  }
  if (notice && notify_) {
    notify_(*notice);
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void HostSink::set_pattern(const std::string& pattern) {
  set_formatter(std::make_unique<spdlog::pattern_formatter>(pattern));
}

void HostSink::set_formatter(std::unique_ptr<spdlog::formatter> formatter) {
  std::lock_guard lock(mutex_);
  others_ = std::move(formatter);
}

}  // namespace devhost

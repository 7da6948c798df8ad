#include "rotating_log/rotating_file_sink.h"

#include <spdlog/pattern_formatter.h>
#include <exception>
#include <optional>
#include <utility>

namespace rotating_log {

RotatingFileSink::RotatingFileSink(std::filesystem::path path, std::size_t max_size,
                                   std::size_t max_files, Report report)
    : formatter_(std::make_unique<spdlog::pattern_formatter>()),
      file_(std::move(path), max_size, max_files),
      report_(std::move(report)) {}

void RotatingFileSink::log(const spdlog::details::log_msg& msg) {
  std::optional<RotationNews> news;
  std::exception_ptr failure;
  {
    std::lock_guard lock(mutex_);
    spdlog::memory_buf_t line;
    formatter_->format(msg, line);
    try {
      file_.Write({line.data(), line.size()});
    } catch (...) {
      failure = std::current_exception();
    }
    news = file_.TakeNews();
  }
  if (news && report_) {
    report_(*news);
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void RotatingFileSink::set_pattern(const std::string& pattern) {
  set_formatter(std::make_unique<spdlog::pattern_formatter>(pattern));
}

void RotatingFileSink::set_formatter(std::unique_ptr<spdlog::formatter> formatter) {
  std::lock_guard lock(mutex_);
  formatter_ = std::move(formatter);
}

}  // namespace rotating_log

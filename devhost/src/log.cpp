#include "devhost/log.h"

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <mutex>
#include <stdexcept>

#include "platform/native_path.h"

namespace devhost {

namespace {
constexpr const char* kPattern = "%D %R [%n][%l] %v";
}

class CaptureSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<LogLine> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    std::string text(formatted.data(), formatted.size());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
    const auto level = spdlog::level::to_string_view(msg.level);
    lines_.push_back(LogLine{std::string(msg.logger_name.data(), msg.logger_name.size()),
                             std::string(level.data(), level.size()),
                             std::string(msg.payload.data(), msg.payload.size()), std::move(text)});
  }
  void flush_() override {}

 private:
  std::vector<LogLine> lines_;
};

HostLog::HostLog(const LogOptions& options) {
  if (options.to_stdout) {
    sinks_.push_back(std::make_shared<spdlog::sinks::stdout_sink_mt>());
  }
  if (!options.file.empty()) {
    sinks_.push_back(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        NarrowPath(options.file), options.file_max_size, options.file_max_files));
  }
  if (options.capture) {
    capture_ = std::make_shared<CaptureSink>();
    sinks_.push_back(capture_);
  }
  host_ = std::make_shared<spdlog::logger>("AsaApi", sinks_.begin(), sinks_.end());
  host_->set_level(spdlog::level::info);
  host_->flush_on(spdlog::level::info);
  ResetFormatters();
}

HostLog::~HostLog() = default;

void HostLog::ResetFormatters() {
  for (auto& sink : sinks_) {
    sink->set_formatter(
        std::make_unique<spdlog::pattern_formatter>(kPattern, spdlog::pattern_time_type::local));
  }
}

std::vector<LogLine> HostLog::Lines() const {
  if (!capture_) {
    throw std::logic_error("HostLog: no lines were kept; set LogOptions::capture to read them");
  }
  return capture_->Lines();
}

std::vector<std::string> HostLog::Messages(const std::string& logger) const {
  std::vector<std::string> out;
  for (auto& line : Lines()) {
    if (line.logger == logger) {
      out.push_back(line.message);
    }
  }
  return out;
}

bool HostLog::Contains(const std::string& message) const {
  for (auto& line : Lines()) {
    if (line.message == message) {
      return true;
    }
  }
  return false;
}

void HostLog::ClearCapture() {
  if (capture_) {
    capture_->Clear();
  }
}

}  // namespace devhost

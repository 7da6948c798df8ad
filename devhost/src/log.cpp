#include "devhost/log.h"

#include <fmt/format.h>
#include <rotating_log/rotating_file.h>
#include <spdlog/logger.h>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "console_sink.h"
#include "host_sink.h"

namespace devhost {

namespace {

class FileSink final : public HostSink {
 public:
  FileSink(const LogOptions& options, Notify notify)
      : HostSink(std::move(notify)),
        file_(options.file, options.file_max_size, options.file_max_files) {}

 private:
  void Put(const spdlog::details::log_msg&, std::string_view line) override { file_.Write(line); }

  std::optional<Notice> TakeNotice() override {
    const auto news = file_.TakeNews();
    if (!news) {
      return std::nullopt;
    }
    if (!news->failed) {
      return Notice{spdlog::level::info, "The host log rotates again"};
    }
    return Notice{spdlog::level::err,
                  fmt::format("Cannot rotate the host log: {}. No file was renamed: {} takes "
                              "the lines and grows past its limit, the older files stay as "
                              "they were; rotation is tried again at every line",
                              news->message, rotating_log::PathText(file_.path().filename()))};
  }

  rotating_log::RotatingFile file_;
};

}  // namespace

class CaptureSink final : public HostSink {
 public:
  explicit CaptureSink(Notify notify) : HostSink(std::move(notify)) {}

  std::vector<LogLine> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  void Put(const spdlog::details::log_msg& msg, std::string_view line) override {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
    const auto level = spdlog::level::to_string_view(msg.level);
    std::lock_guard lock(mutex_);
    lines_.push_back(LogLine{std::string(msg.logger_name.data(), msg.logger_name.size()),
                             std::string(level.data(), level.size()),
                             std::string(msg.payload.data(), msg.payload.size()), std::move(text)});
  }

  std::mutex mutex_;  // Lines() reads outside the sink's own lock
  std::vector<LogLine> lines_;
};

HostLog::HostLog(const LogOptions& options) {
  // A sink's notice is written by the host's logger, which exists only once
  // the sinks do; a sink that outlives this object (a plugin's logger may
  // hold it) then has nobody to tell.
  auto host = std::make_shared<std::weak_ptr<spdlog::logger>>();
  auto notify = [host](const Notice& notice) {
    if (auto logger = host->lock()) {
      logger->log(notice.level, "{}", notice.text);
    }
  };
  if (options.to_stdout) {
    console_ = std::make_shared<ConsoleSink>(notify);
    sinks_.push_back(console_);
  }
  if (!options.file.empty()) {
    // The logging library made a missing folder; the sink does not.
    std::filesystem::create_directories(options.file.parent_path());
    sinks_.push_back(std::make_shared<FileSink>(options, notify));
  }
  if (options.capture) {
    capture_ = std::make_shared<CaptureSink>(notify);
    sinks_.push_back(capture_);
  }
  host_ = std::make_shared<spdlog::logger>("AsaApi", sinks_.begin(), sinks_.end());
  host_->set_level(spdlog::level::info);
  host_->flush_on(spdlog::level::info);
  *host = host_;
}

HostLog::~HostLog() {
  if (console_) {
    // Stopping must not wait on a reader that never comes.
    console_->Close(std::chrono::milliseconds(500));
  }
}

void HostLog::ResetFormatters() {
  for (auto& sink : sinks_) {
    sink->set_formatter(HostFormatter());
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

void HostLog::ToStdout(std::string_view text) {
  if (console_) {
    console_->Say(text);
  }
}

void HostLog::ClearCapture() {
  if (capture_) {
    capture_->Clear();
  }
}

}  // namespace devhost

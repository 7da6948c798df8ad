// An spdlog sink over a RotatingFile: what a logger of a module of its own
// (the plugin's statistics log) writes to. Thread-safe: the sink locks.
// Include it only where spdlog is included anyway (header-only spdlog costs
// seconds per translation unit).
#pragma once

#include <spdlog/formatter.h>
#include <spdlog/sinks/sink.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "rotating_log/rotating_file.h"

namespace rotating_log {

class RotatingFileSink final : public spdlog::sinks::sink {
 public:
  // Gets each change in how rotation fares, after the sink's lock is
  // released (so it may log, even through this sink). Must not throw.
  using Report = std::function<void(const RotationNews&)>;

  // Opens the file as RotatingFile does, and throws as it does.
  RotatingFileSink(std::filesystem::path path, std::size_t max_size, std::size_t max_files,
                   Report report);

  // Formats and writes one line. Throws what RotatingFile::Write throws,
  // which the logger hands to its error handler.
  void log(const spdlog::details::log_msg& msg) override;
  // Every line reaches the system when it is written: nothing to flush.
  void flush() override {}
  void set_pattern(const std::string& pattern) override;
  void set_formatter(std::unique_ptr<spdlog::formatter> formatter) override;

 private:
  std::mutex mutex_;
  std::unique_ptr<spdlog::formatter> formatter_;
  RotatingFile file_;
  Report report_;
};

}  // namespace rotating_log

// The framework's shared log sinks (standard output, a file, and an in-memory
// capture that tests read) and the host's own logger on them. Thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devhost/export.h"

namespace spdlog {
class logger;
namespace sinks {
class sink;
}
}  // namespace spdlog

namespace devhost {

struct LogLine {
  std::string logger;   // the logger's name, e.g. "Quillmoor"
  std::string level;    // "info", "warning", "error", ...
  std::string message;  // the message as logged, without the pattern
  std::string text;     // the line as the sinks' pattern formatted it
};

class CaptureSink;

class DEVHOST_API HostLog {
 public:
  // `file` empty: no file sink. `to_stdout`: also write to standard output.
  HostLog(bool to_stdout, const std::filesystem::path& file);
  HostLog(const HostLog&) = delete;
  HostLog& operator=(const HostLog&) = delete;
  ~HostLog();

  const std::vector<std::shared_ptr<spdlog::sinks::sink>>& Sinks() const { return sinks_; }
  // The host's own logger ("AsaApi").
  spdlog::logger& Host() const { return *host_; }
  // Gives every sink a formatter made by the host again. Called before a
  // plugin is unmapped: a formatter that a plugin set lives in its code.
  void ResetFormatters();

  std::vector<LogLine> Lines() const;
  // Messages of one logger, in order.
  std::vector<std::string> Messages(const std::string& logger = "Quillmoor") const;
  bool Contains(const std::string& message) const;
  void ClearCapture();

 private:
  std::vector<std::shared_ptr<spdlog::sinks::sink>> sinks_;
  std::shared_ptr<CaptureSink> capture_;
  std::shared_ptr<spdlog::logger> host_;
};

}  // namespace devhost

// The framework's shared log sinks (standard output, a rotating file, and an
// in-memory capture that tests read) and the host's own logger on them.
// The host's own lines carry ISO 8601 time stamps whatever formatter a
// plugin sets on the sinks; that formatter shapes the plugin's lines only.
// Thread-safe.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
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

struct LogOptions {
  // Standard output never blocks a caller: lines it cannot take are dropped
  // and counted (see console_sink.h).
  bool to_stdout = false;
  // Empty: no file sink. Otherwise the file grows to `file_max_size` bytes,
  // then becomes name.1.log, the older ones move up, and beyond
  // `file_max_files` the oldest is deleted. A rotation that fails keeps the
  // file growing (reported once) and is tried again at the next line.
  std::filesystem::path file;
  std::size_t file_max_size = 10 * 1024 * 1024;
  std::size_t file_max_files = 3;
  // Keeps every line in memory for Lines() and the like. Only for tests: a
  // long-running host would grow without bound.
  bool capture = false;
};

class CaptureSink;
class ConsoleSink;

class DEVHOST_API HostLog {
 public:
  // Creates the file's folder. Throws if the file cannot be opened or is not
  // a regular file (a link, a FIFO), or its limits are zero or too large.
  explicit HostLog(const LogOptions& options);
  HostLog(const HostLog&) = delete;
  HostLog& operator=(const HostLog&) = delete;
  ~HostLog();

  const std::vector<std::shared_ptr<spdlog::sinks::sink>>& Sinks() const { return sinks_; }
  // The host's own logger ("AsaApi").
  spdlog::logger& Host() const { return *host_; }
  // Gives every sink a formatter made by the host again, for the lines of
  // loggers other than the host's. Called before a plugin is unmapped: a
  // formatter that a plugin set lives in its code.
  void ResetFormatters();

  // The captured lines. REQUIRES: LogOptions::capture; without it these
  // throw std::logic_error rather than answer as if nothing had been logged.
  std::vector<LogLine> Lines() const;
  // Messages of one logger, in order.
  std::vector<std::string> Messages(const std::string& logger = "Quillmoor") const;
  bool Contains(const std::string& message) const;
  // Forgets the captured lines; does nothing without a capture.
  void ClearCapture();

  // Writes `text` (whole lines, each ending in a line break) to standard
  // output only, never to the file or the capture: for what the log file
  // must not keep, such as a password. Never blocks, as no line to standard
  // output does; does nothing without LogOptions::to_stdout.
  void ToStdout(std::string_view text);

 private:
  std::vector<std::shared_ptr<spdlog::sinks::sink>> sinks_;
  std::shared_ptr<CaptureSink> capture_;
  std::shared_ptr<ConsoleSink> console_;
  std::shared_ptr<spdlog::logger> host_;
};

}  // namespace devhost

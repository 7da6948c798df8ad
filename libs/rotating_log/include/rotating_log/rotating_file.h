// A log file that rotates by size: the live file "name.ext" and up to N older
// ones, "name.1.ext" (the newest) to "name.N.ext". It writes regular files
// only, opened without following a symbolic link and without waiting on a
// FIFO, and a rotation that fails never costs a line. Not thread-safe: its
// owner writes under a lock of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace rotating_log {

namespace detail {
class LogFile;
}

// A change in how rotation fares, for the owner to put in its host log.
struct RotationNews {
  bool failed;          // true: a rotation failed; false: it works again
  std::string message;  // why it failed, e.g. "cannot rename a.1.log to a.2.log: ..."
};

class RotatingFile {
 public:
  // Opens `path` for appending, creating the file (not its folder) when it is
  // absent, and counts its present size. Throws std::runtime_error if it
  // cannot be opened or is not a regular file (a symbolic link, a FIFO, a
  // device, a folder), std::invalid_argument if `max_size` is 0 or
  // `max_files` is above 200,000.
  RotatingFile(std::filesystem::path path, std::size_t max_size, std::size_t max_files);
  RotatingFile(const RotatingFile&) = delete;
  RotatingFile& operator=(const RotatingFile&) = delete;
  ~RotatingFile();

  // Appends `line`. A line that would take a non-empty file past `max_size`
  // rotates first: number N is replaced by N-1, …, number 1 by the live file,
  // and a new live file is opened (with `max_files` 0 the live file is
  // emptied instead). Rotation is all or nothing: if a rename or the opening
  // of the new live file fails (a file held open, no descriptor or inode
  // left), the renames already done are undone, every file keeps its name,
  // the line goes to the live file all the same, and the next Write tries
  // again. Throws std::runtime_error if the line cannot be written (a
  // full disk); what reached the file stays counted.
  void Write(std::string_view line);

  // What changed since the last call: a failure with a reason not reported
  // before, or rotation working again after one. Empty when nothing did.
  std::optional<RotationNews> TakeNews();

  const std::filesystem::path& path() const { return path_; }

  // The name of file `index` of the set: `path` itself for 0, otherwise the
  // number before the extension ("logs/a.log", 2 -> "logs/a.2.log"; "a" -> "a.2").
  static std::filesystem::path Numbered(const std::filesystem::path& path, std::size_t index);

 private:
  // Moves the set up by one and opens a new live file, or, when a step
  // fails, puts back what it moved and keeps the live file open: false then,
  // with the reason kept for TakeNews.
  bool Rotate();
  bool Recovered();
  void Failed(std::string why);

  std::filesystem::path path_;
  std::size_t max_size_;
  std::size_t max_files_;
  std::unique_ptr<detail::LogFile> file_;
  std::uint64_t size_ = 0;  // bytes in the live file, as far as this object knows
  std::string failure_;     // the last failure reported; empty while rotation works
  std::optional<RotationNews> news_;
};

// The path that a narrow file name means to the system's own narrow file
// functions (fopen): its bytes on POSIX, the ANSI code page on Windows.
std::filesystem::path PathFromNarrow(const std::string& text);

// `path` as UTF-8, for log lines.
std::string PathText(const std::filesystem::path& path);

}  // namespace rotating_log

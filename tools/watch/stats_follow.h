// Following a server's statistics log while the watcher runs, as `tail -F`
// does: only lines written after Start, across the plugin's rotations. Used
// on the watcher's one thread; POSIX only, like the watcher.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace watch {

class StatsLogFollower {
 public:
  // Reads at most this much per call, so that a large file that appears
  // costs several polls rather than one long stall.
  static constexpr std::size_t kMaxReadPerCall = 1 << 20;
  // A line longer than this is no statistics line: it is dropped.
  static constexpr std::size_t kMaxLine = 64 * 1024;

  explicit StatsLogFollower(std::filesystem::path path) : path_(std::move(path)) {}
  ~StatsLogFollower();
  StatsLogFollower(const StatsLogFollower&) = delete;
  StatsLogFollower& operator=(const StatsLogFollower&) = delete;

  // Skips what the file holds now: those lines were written before the
  // watcher started. Returns false when there is no file yet (its lines will
  // all be new); throws like ReadNew.
  bool Start();

  // The lines completed since the previous call, without their ends. When the
  // plugin rotated the log meanwhile (the live file renamed to ".1.log" and a
  // new one begun), the rest of the rotated file comes first; a file cut
  // short in place is read again from its start. A missing file is not an
  // error: the server has not created it yet. Throws std::runtime_error
  // naming the file when it is a link, a FIFO or anything but a regular
  // file, or cannot be read.
  std::vector<std::string> ReadNew();

  const std::filesystem::path& path() const { return path_; }

 private:
  bool Open();
  void Close();
  // Appends what the open file holds past offset_; false when it holds more
  // than the call may read.
  bool ReadOpen(std::vector<std::string>& lines, std::size_t& budget);
  void TakeLines(std::string_view bytes, std::vector<std::string>& lines);
  [[noreturn]] void Fail(const std::string& what) const;

  std::filesystem::path path_;
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  off_t offset_ = 0;
  std::string partial_;    // the start of a line whose end has not come yet
  bool dropping_ = false;  // inside a line longer than kMaxLine
};

}  // namespace watch

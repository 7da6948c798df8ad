// The files the watcher reads and appends to (the servers file, statistics
// logs, the CSV file), opened only when they are regular files: a FIFO, a
// device or a folder is refused at once instead of blocking the run or
// growing without end. Links are followed, since the operator names these
// files. POSIX; each object belongs to one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace watch {

// The whole file. Throws std::runtime_error "cannot read PATH: REASON".
std::string ReadRegularFile(const std::filesystem::path& path);

// Whether the file's group or others may read it (a file that holds
// passwords should not let them). False when it cannot be looked at.
bool ReadableByOthers(const std::filesystem::path& path);

// A regular file open for appending, created (mode 0666 less the umask) when
// missing. Every write goes to the end, whole or with an error.
class AppendFile {
 public:
  // Throws std::runtime_error "cannot open PATH: REASON".
  explicit AppendFile(const std::filesystem::path& path);
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  std::uint64_t size() const;
  // Up to `count` bytes from `offset`; fewer at the end of the file.
  std::string ReadAt(std::uint64_t offset, std::size_t count) const;
  // Appends all of `text`. Throws std::runtime_error "cannot write PATH:
  // REASON" (a full disk, a size limit); part of it may have been written.
  void Append(std::string_view text);

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace watch

// What differs between the systems for a rotating log: one open log file,
// and the existence test and rename that rotation needs. One file per system
// implements it (log_file_posix.cpp, log_file_win32.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace rotating_log::detail {

// A regular file open for appending. Other programs may read, rename and
// delete it meanwhile (on Windows too).
class LogFile {
 public:
  // Opens `path`, creating it if absent. Refuses (std::runtime_error) a
  // symbolic link or reparse point, and anything but a regular file, without
  // blocking on a FIFO that has no reader.
  explicit LogFile(const std::filesystem::path& path);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();

  // Appends all of `bytes`, or throws std::runtime_error; `written` says how
  // many reached the file either way.
  void Append(std::string_view bytes, std::uint64_t& written);
  std::uint64_t Size() const;
  void Truncate();

 private:
  std::intptr_t handle_;  // a descriptor on POSIX, a HANDLE on Windows
  std::filesystem::path path_;
};

// True if something of that name exists; a link is not followed.
bool Exists(const std::filesystem::path& path);

// Renames `from` to `to`, replacing a file there. Empty on success, else why.
std::string Rename(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace rotating_log::detail

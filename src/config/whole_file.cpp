#include "config/whole_file.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ios>

namespace Quillmoor {
namespace {

// The stream keeps no error code of its own; the system's is still in errno
// right after the call that failed.
std::error_code StreamError() {
  return errno != 0 ? std::error_code(errno, std::generic_category())
                    : std::make_error_code(std::io_errc::stream);
}

}  // namespace

std::string TemporaryOf(const std::string& path) {
  return path + ".tmp";
}

std::error_code WriteTemporary(const std::string& path, std::string_view text) {
  const std::string temp = TemporaryOf(path);
  std::error_code ec;
  // A leftover of a crash, or a link planted there: removed, not followed.
  std::filesystem::remove(temp, ec);
  errno = 0;
  std::ofstream out(temp, std::ios::out | std::ios::trunc);
  if (!out.is_open()) {
    return StreamError();
  }
  errno = 0;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  std::error_code failed = out.fail() ? StreamError() : std::error_code();
  errno = 0;
  out.close();  // a failing close sets failbit too
  if (!failed && out.fail()) {
    failed = StreamError();
  }
  if (failed) {
    std::filesystem::remove(temp, ec);
  }
  return failed;
}

std::error_code MoveTemporaryOver(const std::string& path) {
  const std::string temp = TemporaryOf(path);
  std::error_code ec;
  // rename replaces an existing file atomically on POSIX; on Windows,
  // libstdc++ implements it with MoveFileExW and MOVEFILE_REPLACE_EXISTING,
  // so an existing target is replaced there as well.
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
  }
  return ec;
}

bool WriteWholeFile(const std::string& path, std::string_view text) {
  return !WriteTemporary(path, text) && !MoveTemporaryOver(path);
}

}  // namespace Quillmoor

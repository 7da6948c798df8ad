#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include "log_file.h"
#include "rotating_log/rotating_file.h"

namespace rotating_log {

namespace fs = std::filesystem;

namespace detail {

namespace {

HANDLE Handle(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

// The system's own words for `error`, without the trailing full stop and
// line break, followed by its number.
std::string Reason(DWORD error) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n > 0 && text != nullptr ? std::string(text, n) : std::string();
  LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
    out.pop_back();
  }
  return (out.empty() ? std::string("system error") : out) + " (error " + std::to_string(error) +
         ")";
}

std::runtime_error Failure(const std::string& what, const fs::path& path) {
  const DWORD error = GetLastError();
  return std::runtime_error(what + " " + PathText(path) + ": " + Reason(error));
}

}  // namespace

LogFile::LogFile(const fs::path& path) : handle_(0), path_(path) {
  // FILE_SHARE_DELETE: rotation renames the live file while it is open (and
  // an operator may move it away too). FILE_FLAG_OPEN_REPARSE_POINT: a
  // symbolic link or junction is opened itself, found below and refused,
  // instead of being followed.
  const HANDLE h = CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    throw Failure("cannot open", path);
  }
  const char* refused = nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK) {
    refused = "a device or a pipe";
  } else if (!GetFileInformationByHandle(h, &info)) {
    refused = "of a kind the system does not tell";
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    refused = "a symbolic link or another reparse point";
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    refused = "a folder";
  }
  if (refused != nullptr) {
    CloseHandle(h);
    throw std::runtime_error("cannot open " + PathText(path) + ": it is " + refused +
                             ", and the log is written to regular files only");
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

LogFile::~LogFile() {
  CloseHandle(Handle(handle_));
}

void LogFile::Append(std::string_view bytes, std::uint64_t& written) {
  // At the end of the file before each write, as an append-mode stream does:
  // another program may have written to the file meanwhile.
  if (!SetFilePointerEx(Handle(handle_), LARGE_INTEGER{}, nullptr, FILE_END)) {
    throw Failure("cannot write to", path_);
  }
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD n = 0;
    if (!WriteFile(Handle(handle_), bytes.data(), chunk, &n, nullptr) || n == 0) {
      throw Failure("cannot write to", path_);
    }
    written += n;
    bytes.remove_prefix(n);
  }
}

std::uint64_t LogFile::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(Handle(handle_), &size)) {
    throw Failure("cannot size", path_);
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

void LogFile::Truncate() {
  if (!SetFilePointerEx(Handle(handle_), LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(Handle(handle_))) {
    throw Failure("cannot empty", path_);
  }
}

bool Exists(const fs::path& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Rename(const fs::path& from, const fs::path& to) {
  // Fails while another program holds either file open without delete
  // sharing (a viewer, an antivirus): the caller keeps the live file then.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return {};
  }
  const DWORD error = GetLastError();
  return "cannot rename " + PathText(from) + " to " + PathText(to) + ": " + Reason(error);
}

}  // namespace detail

fs::path PathFromNarrow(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
  return fs::path(wide);
}

}  // namespace rotating_log

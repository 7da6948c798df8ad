// The watcher's CSV file: "timestamp,server,objects,status", one row per
// observation, appended to across runs, each run opened by a row
// "TIME,,,start". Used on the watcher's one thread; the parser is pure.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "watch/regular_file.h"
#include "watch/sample.h"

namespace watch {

inline constexpr std::string_view kCsvHeader = "timestamp,server,objects,status";

class CsvWriter {
 public:
  // Opens `path` for appending, creating it; only a regular file (never a
  // FIFO or a device, which could block or swallow the rows). Writes the
  // header only when the file is new or empty; refuses (std::runtime_error
  // naming the file) a non-empty file that does not start with the header,
  // so that another file is never appended to. A last row cut short by an
  // earlier run is ended first, so new rows never run into it.
  explicit CsvWriter(const std::filesystem::path& path);

  // Appends one row (objects empty unless the status is ok; server empty
  // for a start row). Throws std::runtime_error when the write fails.
  void Write(const Sample& sample);

 private:
  AppendFile file_;
};

// One row as CsvWriter writes it, with its line end.
std::string FormatCsvRow(const Sample& sample);

// What a CSV text holds: the rows that could be read, and how many lines
// were not rows (cut short by a full disk, edited by hand).
struct CsvContents {
  std::vector<Sample> rows;
  std::size_t skipped = 0;
  std::string first_skipped;  // "line N: why" for the first of them
};

// Reads the rows of a CSV text the watcher wrote. Blank lines and header
// lines are passed over (so concatenated files read too), as is a UTF-8
// byte-order mark before a line; LF or CR LF. Files older than start rows
// read as one run. Pure.
CsvContents ParseCsv(std::string_view text);

// ParseCsv of a regular file. Throws std::runtime_error naming the file when
// it cannot be read.
CsvContents ReadCsv(const std::filesystem::path& path);

}  // namespace watch

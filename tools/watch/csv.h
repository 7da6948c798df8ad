// The watcher's CSV file: "timestamp,server,objects,status", one row per
// observation, appended to across runs. Used on the watcher's one thread.
#pragma once

#include <filesystem>
#include <fstream>
#include <vector>

#include "watch/sample.h"

namespace watch {

inline constexpr std::string_view kCsvHeader = "timestamp,server,objects,status";

class CsvWriter {
 public:
  // Opens `path` for appending, creating it. Writes the header only when the
  // file is new or empty; refuses (std::runtime_error naming the file) a
  // non-empty file that does not start with the header, so that another
  // file is never appended to. A last row cut short by an earlier run is
  // ended first, so new rows never run into it.
  explicit CsvWriter(const std::filesystem::path& path);
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  // Appends one row (objects empty unless the status is ok) and flushes it
  // to the file. Throws std::runtime_error when the write fails.
  void Write(const Sample& sample);

 private:
  std::filesystem::path path_;
  std::ofstream out_;
};

// Every row of a CSV file the watcher wrote (header lines are skipped, so
// concatenated files read too). Throws std::runtime_error with the file
// and line of the first malformed row, or when the file cannot be read.
std::vector<Sample> ReadCsv(const std::filesystem::path& path);

}  // namespace watch

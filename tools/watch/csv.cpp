#include "watch/csv.h"

#include <charconv>
#include <optional>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace watch {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const auto comma = line.find(',');
    fields.push_back(line.substr(0, comma));
    if (comma == std::string_view::npos) {
      return fields;
    }
    line.remove_prefix(comma + 1);
  }
}

// One row, or the reason it is not one.
std::optional<Sample> ParseRow(std::string_view line, std::string& why) {
  const auto f = SplitFields(line);
  if (f.size() != 4) {
    why = "expected 4 fields: timestamp,server,objects,status";
    return std::nullopt;
  }
  Sample s;
  const auto time = ParseTime(f[0]);
  const auto status = ParseStatus(f[3]);
  if (!time) {
    why = fmt::format("'{}' is not a time", f[0]);
    return std::nullopt;
  }
  if (f[1].empty() != (status == Status::kStart)) {
    why = f[1].empty() ? "empty server name" : "a start row names no server";
    return std::nullopt;
  }
  if (!status) {
    why = fmt::format("'{}' is not a status", f[3]);
    return std::nullopt;
  }
  s.time = *time;
  s.server = std::string(f[1]);
  s.status = *status;
  if (*status == Status::kOk) {
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(f[2].data(), f[2].data() + f[2].size(), n);
    if (f[2].empty() || ec != std::errc() || end != f[2].data() + f[2].size() || n < 0) {
      why = fmt::format("'{}' is not an object count", f[2]);
      return std::nullopt;
    }
    s.objects = n;
  }
  return s;
}

}  // namespace

CsvWriter::CsvWriter(const std::filesystem::path& path) : file_(path) {
  const std::uint64_t size = file_.size();
  if (size == 0) {
    file_.Append(fmt::format("{}\n", kCsvHeader));
    return;
  }
  std::string head = file_.ReadAt(0, kCsvHeader.size() + 2);
  head = head.substr(0, head.find('\n'));
  if (!head.empty() && head.back() == '\r') {
    head.pop_back();
  }
  if (head != kCsvHeader) {
    throw std::runtime_error(
        fmt::format("{}: not a quillmoor-watch CSV file (its first line is not \"{}\")",
                    path.string(), kCsvHeader));
  }
  if (file_.ReadAt(size - 1, 1) != "\n") {
    file_.Append("\n");
  }
}

std::string FormatCsvRow(const Sample& sample) {
  return fmt::format("{},{},{},{}\n", FormatTime(sample.time), sample.server,
                     sample.objects ? fmt::format("{}", *sample.objects) : std::string(),
                     StatusName(sample.status));
}

void CsvWriter::Write(const Sample& sample) {
  file_.Append(FormatCsvRow(sample));
}

CsvContents ParseCsv(std::string_view text) {
  CsvContents out;
  std::size_t line_no = 0;
  while (!text.empty()) {
    ++line_no;
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      line.remove_prefix(kByteOrderMark.size());
    }
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty() || line == kCsvHeader) {
      continue;
    }
    std::string why;
    if (auto row = ParseRow(line, why)) {
      out.rows.push_back(std::move(*row));
    } else if (out.skipped++ == 0) {
      out.first_skipped = fmt::format("line {}: {}", line_no, why);
    }
  }
  return out;
}

CsvContents ReadCsv(const std::filesystem::path& path) {
  return ParseCsv(ReadRegularFile(path));
}

}  // namespace watch

#include "watch/csv.h"

#include <charconv>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace watch {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, std::string_view what) {
  throw std::runtime_error(fmt::format("{}: {}", path.string(), what));
}

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

}  // namespace

CsvWriter::CsvWriter(const std::filesystem::path& path) : path_(path) {
  std::string head;
  bool ends_with_newline = true;
  {
    std::ifstream in(path, std::ios::binary);
    if (in && std::getline(in, head)) {
      if (!head.empty() && head.back() == '\r') {
        head.pop_back();
      }
      if (head != kCsvHeader) {
        Fail(path, fmt::format("not a quillmoor-watch CSV file (its first line is not \"{}\")",
                               kCsvHeader));
      }
      in.clear();
      in.seekg(-1, std::ios::end);
      char last = '\n';
      in.get(last);
      ends_with_newline = last == '\n';
    }
  }
  out_.open(path, std::ios::binary | std::ios::app);
  if (!out_) {
    Fail(path, "cannot open for appending");
  }
  if (head.empty()) {
    out_ << kCsvHeader << '\n';
  } else if (!ends_with_newline) {
    out_ << '\n';
  }
  out_.flush();
  if (!out_) {
    Fail(path, "cannot write");
  }
}

void CsvWriter::Write(const Sample& sample) {
  out_ << FormatTime(sample.time) << ',' << sample.server << ',';
  if (sample.objects) {
    out_ << *sample.objects;
  }
  out_ << ',' << StatusName(sample.status) << '\n';
  out_.flush();
  if (!out_) {
    Fail(path_, "cannot write");
  }
}

std::vector<Sample> ReadCsv(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(path, "cannot open");
  }
  std::vector<Sample> rows;
  std::string line;
  std::size_t line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty() || line == kCsvHeader) {
      continue;
    }
    const auto f = SplitFields(line);
    const auto bad = [&](std::string_view what) {
      Fail(path, fmt::format("line {}: {}", line_no, what));
    };
    if (f.size() != 4) {
      bad("expected 4 fields: timestamp,server,objects,status");
    }
    Sample s;
    const auto time = ParseTime(f[0]);
    const auto status = ParseStatus(f[3]);
    if (!time) {
      bad(fmt::format("'{}' is not a time", f[0]));
    }
    if (f[1].empty()) {
      bad("empty server name");
    }
    if (!status) {
      bad(fmt::format("'{}' is not a status", f[3]));
    }
    s.time = *time;
    s.server = std::string(f[1]);
    s.status = *status;
    if (*status == Status::kOk) {
      std::int64_t n = 0;
      const auto [end, ec] = std::from_chars(f[2].data(), f[2].data() + f[2].size(), n);
      if (f[2].empty() || ec != std::errc() || end != f[2].data() + f[2].size()) {
        bad(fmt::format("'{}' is not an object count", f[2]));
      }
      s.objects = n;
    }
    rows.push_back(std::move(s));
  }
  if (in.bad()) {
    Fail(path, "cannot read");
  }
  return rows;
}

}  // namespace watch

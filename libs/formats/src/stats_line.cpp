#include "formats/stats_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace formats {
namespace {

constexpr std::string_view kForcedCollection = kForcedCollectionPrefix;
// Written by printf rules and read back by ReadStructurePass, which knows the
// conversions %d and %.2f.
constexpr char kStructurePass[] =
    "StructureNetFreq: Applied to %d/%d structures. NetFreq: %.2f, MinNetFreq: %.2f";

// The conversions are two counts, then two frequencies: what the writer's
// arguments and the reader's fields are.
constexpr bool TwoCountsTwoFrequencies(std::string_view format) {
  int seen = 0;
  for (std::size_t i = format.find('%'); i != std::string_view::npos; i = format.find('%', i + 1)) {
    if (format.substr(i, seen < 2 ? 2 : 4) != (seen < 2 ? "%d" : "%.2f")) {
      return false;
    }
    ++seen;
  }
  return seen == 4;
}
static_assert(TwoCountsTwoFrequencies(kStructurePass), "ReadStructurePass cannot read the format");

// The number of digits a flag of kStatsLinePattern prints, 0 for %v and -1
// for a flag that ParseStatsLine cannot read.
constexpr int Digits(char flag) {
  switch (flag) {
    case 'Y':
      return 4;
    case 'm':
    case 'd':
    case 'H':
    case 'M':
    case 'S':
      return 2;
    case 'v':
      return 0;
    default:
      return -1;
  }
}

// Every flag is one the reader knows, and the message comes last.
constexpr bool Readable(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      continue;
    }
    if (i + 1 == pattern.size() || Digits(pattern[i + 1]) < 0) {
      return false;
    }
    if (pattern[i + 1] == 'v') {
      return i + 2 == pattern.size();
    }
    ++i;
  }
  return false;  // no message
}
static_assert(Readable(kStatsLinePattern), "ParseStatsLine cannot read the statistics pattern");

int* FieldOf(StatsStamp& stamp, char flag) {
  switch (flag) {
    case 'Y':
      return &stamp.year;
    case 'm':
      return &stamp.month;
    case 'd':
      return &stamp.day;
    case 'H':
      return &stamp.hour;
    case 'M':
      return &stamp.minute;
    default:
      return &stamp.second;
  }
}

}  // namespace

std::string ForcedCollectionMessage(std::string_view trigger) {
  std::string message(kForcedCollection);
  message += trigger;
  return message;
}

std::optional<std::string_view> ForcedCollectionTrigger(std::string_view message) {
  if (message.size() <= kForcedCollection.size() || !message.starts_with(kForcedCollection)) {
    return std::nullopt;
  }
  return message.substr(kForcedCollection.size());
}

std::string StructurePassMessage(std::int32_t applied, std::int32_t total, float net_freq,
                                 float min_net_freq) {
  // The longest message (two 11-character counts, two frequencies of up to
  // 43 characters: the largest float with two decimals) is under 200 bytes.
  char message[256];
  std::snprintf(message, sizeof message, kStructurePass, static_cast<int>(applied),
                static_cast<int>(total), static_cast<double>(net_freq),
                static_cast<double>(min_net_freq));
  return message;
}

std::optional<StructurePass> ReadStructurePass(std::string_view message) {
  StructurePass pass;
  std::int32_t* counts[] = {&pass.applied, &pass.total};
  double* freqs[] = {&pass.net_freq, &pass.min_net_freq};
  std::size_t next_count = 0, next_freq = 0;
  const char* at = message.data();
  const char* const end = message.data() + message.size();
  const std::string_view format = kStructurePass;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      if (at == end || *at != format[i]) {
        return std::nullopt;
      }
      ++at;
    } else if (format.substr(i, 2) == "%d") {
      const auto [past, ec] = std::from_chars(at, end, *counts[next_count++]);
      if (ec != std::errc()) {
        return std::nullopt;
      }
      at = past;
      i += 1;
    } else {  // %.2f: printf writes "inf" and "nan" too, which no plugin setting can be
      double& freq = *freqs[next_freq++];
      const auto [past, ec] = std::from_chars(at, end, freq, std::chars_format::fixed);
      if (ec != std::errc() || !std::isfinite(freq)) {
        return std::nullopt;
      }
      at = past;
      i += 3;
    }
  }
  if (at != end) {
    return std::nullopt;
  }
  return pass;
}

std::string StatsLineText(const StatsStamp& stamp, std::string_view message) {
  std::string line;
  const std::string_view pattern = kStatsLinePattern;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      line += pattern[i];
      continue;
    }
    const char flag = pattern[++i];
    if (flag == 'v') {
      line += message;
      break;
    }
    StatsStamp copy = stamp;
    const int value = *FieldOf(copy, flag);
    const int digits = Digits(flag);
    char field[16];
    std::snprintf(field, sizeof field, "%0*d", digits, value);
    line += field;
  }
  return line;
}

std::vector<std::string_view> SplitStatsLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    lines.push_back(line);
  }
  return lines;
}

std::optional<StatsLine> ParseStatsLine(std::string_view line) {
  StatsLine parsed;
  std::size_t at = 0;
  const std::string_view pattern = kStatsLinePattern;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      if (at == line.size() || line[at] != pattern[i]) {
        return std::nullopt;
      }
      ++at;
      continue;
    }
    const char flag = pattern[++i];
    if (flag == 'v') {
      parsed.message = line.substr(at);
      return parsed;
    }
    int value = 0;
    for (int n = Digits(flag); n > 0; --n, ++at) {
      if (at == line.size() || line[at] < '0' || line[at] > '9') {
        return std::nullopt;
      }
      value = value * 10 + (line[at] - '0');
    }
    *FieldOf(parsed.stamp, flag) = value;
  }
  return std::nullopt;  // not reached: the pattern ends in %v
}

}  // namespace formats

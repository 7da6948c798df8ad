#include "watch/stats_log.h"

#include <charconv>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fmt/format.h>

namespace watch {

namespace {

constexpr std::string_view kForced = "] GC forced. Trigger: ";

bool Field(std::string_view s, std::size_t pos, std::size_t len, int& out) {
  const char* first = s.data() + pos;
  const auto [end, ec] = std::from_chars(first, first + len, out);
  return ec == std::errc() && end == first + len;
}

// "[2026-12-07 17:04:34" as local time.
bool ParseStamp(std::string_view s, Time& out) {
  std::tm tm{};
  if (s.size() < 20 || s[0] != '[' || s[5] != '-' || s[8] != '-' || s[11] != ' ' || s[14] != ':' ||
      s[17] != ':' || !Field(s, 1, 4, tm.tm_year) || !Field(s, 6, 2, tm.tm_mon) ||
      !Field(s, 9, 2, tm.tm_mday) || !Field(s, 12, 2, tm.tm_hour) || !Field(s, 15, 2, tm.tm_min) ||
      !Field(s, 18, 2, tm.tm_sec)) {
    return false;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;  // let the zone's rules decide, as the server's clock did
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) {
    return false;
  }
  out = Time(std::chrono::milliseconds(static_cast<std::int64_t>(t) * 1000));
  return true;
}

}  // namespace

std::vector<ForcedCollection> ParseForcedCollections(std::string_view text) {
  std::vector<ForcedCollection> out;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    ForcedCollection fc;
    if (line.size() > 20 + kForced.size() && line.substr(20, kForced.size()) == kForced &&
        ParseStamp(line, fc.time)) {
      fc.trigger = std::string(line.substr(20 + kForced.size()));
      out.push_back(std::move(fc));
    }
  }
  return out;
}

std::vector<ForcedCollection> ReadForcedCollections(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (in) {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (!in.is_open() || in.bad()) {
    throw std::runtime_error(fmt::format("cannot read the statistics log {}", path.string()));
  }
  return ParseForcedCollections(text);
}

}  // namespace watch

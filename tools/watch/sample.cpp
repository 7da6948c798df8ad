#include "watch/sample.h"

#include <array>
#include <charconv>
#include <ctime>

#include <fmt/format.h>

namespace watch {

namespace {

constexpr std::array<std::string_view, 6> kStatusNames = {"ok",          "down",      "error",
                                                          "auth-failed", "forced-gc", "start"};

// Days since 1970-01-01 of a proleptic Gregorian date; timegm() is not
// portable and mktime() would apply the local zone.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool ReadNumber(std::string_view text, std::size_t pos, std::size_t len, int& out) {
  if (pos + len > text.size()) {
    return false;
  }
  const char* first = text.data() + pos;
  const auto [end, ec] = std::from_chars(first, first + len, out);
  return ec == std::errc() && end == first + len;
}

}  // namespace

std::string_view StatusName(Status status) {
  return kStatusNames[static_cast<std::size_t>(status)];
}

std::optional<Status> ParseStatus(std::string_view text) {
  for (std::size_t i = 0; i < kStatusNames.size(); ++i) {
    if (kStatusNames[i] == text) {
      return static_cast<Status>(i);
    }
  }
  return std::nullopt;
}

std::string FormatTime(Time time) {
  const auto ms = time.time_since_epoch().count();
  auto secs = static_cast<std::time_t>(ms / 1000);
  auto frac = ms % 1000;
  if (frac < 0) {
    frac += 1000;
    --secs;
  }
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &secs);
#else
  gmtime_r(&secs, &tm);
#endif
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, frac);
}

std::optional<Time> ParseTime(std::string_view text) {
  // 2026-12-07T17:04:34Z or 2026-12-07T17:04:34.250Z
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text.back() != 'Z' || !ReadNumber(text, 0, 4, y) ||
      !ReadNumber(text, 5, 2, mo) || !ReadNumber(text, 8, 2, d) || !ReadNumber(text, 11, 2, h) ||
      !ReadNumber(text, 14, 2, mi) || !ReadNumber(text, 17, 2, s)) {
    return std::nullopt;
  }
  if (text.size() == 24) {
    if (text[19] != '.' || !ReadNumber(text, 20, 3, ms)) {
      return std::nullopt;
    }
  } else if (text.size() != 20) {
    return std::nullopt;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) {
    return std::nullopt;
  }
  const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  const std::int64_t secs = days * 86400 + h * 3600 + mi * 60 + s;
  return Time(std::chrono::milliseconds(secs * 1000 + ms));
}

double EpochSeconds(Time time) {
  return static_cast<double>(time.time_since_epoch().count()) / 1000.0;
}

}  // namespace watch

#include "watch/stats_log.h"

#include <ctime>

#include "formats/stats_line.h"
#include "watch/regular_file.h"

namespace watch {

namespace {

// The stamp as local time, as the server's clock wrote it.
bool ToTime(const formats::StatsStamp& stamp, Time& out) {
  std::tm tm{};
  tm.tm_year = stamp.year - 1900;
  tm.tm_mon = stamp.month - 1;
  tm.tm_mday = stamp.day;
  tm.tm_hour = stamp.hour;
  tm.tm_min = stamp.minute;
  tm.tm_sec = stamp.second;
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
  for (const std::string_view raw : formats::SplitStatsLines(text)) {
    const auto line = formats::ParseStatsLine(raw);
    if (!line) {
      continue;
    }
    const auto trigger = formats::ForcedCollectionTrigger(line->message);
    ForcedCollection fc;
    if (trigger && ToTime(line->stamp, fc.time)) {
      fc.trigger = std::string(*trigger);
      out.push_back(std::move(fc));
    }
  }
  return out;
}

std::vector<ForcedCollection> ReadForcedCollections(const std::filesystem::path& path) {
  return ParseForcedCollections(ReadRegularFile(path));
}

}  // namespace watch

#include "formats/replies.h"

#include <algorithm>
#include <limits>

#include <nlohmann/json.hpp>

namespace formats {
namespace {

using nlohmann::json;

// Members are written sorted by key (the library's default object), and
// compact: one line, no blanks.
std::string ErrorReply(const char* command, const char* message) {
  return json{{"cmd", command}, {"message", message}, {"status", "error"}}.dump();
}

}  // namespace

bool SameCommand(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

std::string StatsReply(std::int64_t objects) {
  return json{{"cmd", kStatsCommand}, {"data", {{kObjectCountKey, objects}}}, {"status", "success"}}
      .dump();
}

std::string StatsUnavailableReply() {
  return ErrorReply(kStatsCommand, "Server statistics are not available");
}

std::string ForceGcReply(ForceGcOutcome outcome) {
  switch (outcome) {
    case ForceGcOutcome::kForced:
      return json{{"cmd", kForceGcCommand},
                  {"message", "Garbage collection forced successfully"},
                  {"status", "success"}}
          .dump();
    case ForceGcOutcome::kNoEngine:
      return ErrorReply(kForceGcCommand,
                        "Garbage collection could not be forced: engine not available");
    case ForceGcOutcome::kFailed:
      break;
  }
  return ErrorReply(kForceGcCommand, "Garbage collection could not be forced: internal error");
}

std::optional<std::int64_t> ReadObjectCount(std::string_view body) {
  const json doc = json::parse(body, nullptr, /*allow_exceptions=*/false);
  // Compared as JSON values, so that a status that is not a string is simply
  // not a success (value() would throw on it).
  if (!doc.is_object() || !doc.contains("status") || doc["status"] != "success") {
    return std::nullopt;
  }
  const auto data = doc.find("data");
  if (data == doc.end() || !data->is_object()) {
    return std::nullopt;
  }
  // A count is a whole number from 0 up: a negative one, or one past what a
  // 64-bit signed integer holds (2^64 - 1 would read as -1), is a damaged
  // reply, not a count.
  const auto count = data->find(kObjectCountKey);
  if (count == data->end()) {
    return std::nullopt;
  }
  if (count->is_number_unsigned()) {
    const auto n = count->get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(n);
  }
  if (count->is_number_integer() && count->get<std::int64_t>() >= 0) {
    return count->get<std::int64_t>();
  }
  return std::nullopt;
}

}  // namespace formats

// One observation of one server, the unit that the table, the CSV file and
// the chart share. Plain data; used on the watcher's one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace watch {

using Clock = std::chrono::system_clock;
using Time = std::chrono::time_point<Clock, std::chrono::milliseconds>;

enum class Status {
  kOk,          // the server answered with its object count
  kDown,        // no connection, or it broke, or it timed out
  kError,       // connected, but the reply was not a count (plugin not loaded)
  kAuthFailed,  // the password was refused: the server is no longer polled
  kForcedGc,    // the watcher sent the force-GC command (a marker, no count)
  kStart,       // a run of the watcher began (no server): nothing was seen before it
};

// The CSV spelling: "ok", "down", "error", "auth-failed", "forced-gc",
// "start".
std::string_view StatusName(Status status);
// The inverse of StatusName; nullopt for any other text.
std::optional<Status> ParseStatus(std::string_view text);

struct Sample {
  Time time;
  std::string server;
  std::optional<std::int64_t> objects;  // set exactly when status is kOk
  Status status = Status::kOk;
  std::string detail;  // why, for every status but kOk; not part of the CSV
  // How long the statistics command took from request to reply, when a reply
  // came (kOk, kError); not part of the CSV.
  std::optional<std::chrono::microseconds> round_trip = std::nullopt;
};

// UTC in ISO 8601 with milliseconds, e.g. "2026-12-07T17:04:34.250Z".
std::string FormatTime(Time time);
// The inverse of FormatTime; also accepts no fraction. nullopt when `text`
// is not such a time.
std::optional<Time> ParseTime(std::string_view text);

// Seconds since the epoch, as the chart's axis counts them.
double EpochSeconds(Time time);

}  // namespace watch

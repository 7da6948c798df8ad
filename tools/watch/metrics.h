// The watcher's Prometheus metrics: one state per server, changed by the
// observations and by the lines of the servers' statistics logs on the
// watcher's thread, and read whole by scrapes on the exporter's threads.
// One mutex guards all of it: an update and a scrape each take it once, so a
// scrape sees every observation whole or not at all (never a server up
// without its count, or down with a stale one).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include "watch/sample.h"

namespace watch {

// Upper bounds of the round-trip histogram, in seconds. A command waits for
// the server's next frame, one 33 ms frame at 30 fps: 5 ms steps around it
// tell one frame from two, and the rest reaches the longest --timeout.
inline constexpr std::array<double, 14> kRoundTripBuckets = {
    0.005, 0.01, 0.02, 0.03, 0.035, 0.04, 0.05, 0.067, 0.1, 0.2, 0.5, 1, 2.5, 5};

class FleetMetrics final : public prometheus::Collectable {
 public:
  // The most series one server has: up, uobjects, last success, last poll,
  // the log given up, 4 poll
  // results, the histogram (15 buckets, sum, count), 3 forced-collection
  // triggers (auto-timer, rcon, any other), structure passes, applied and
  // found, and the last drop. Nothing grows with the number of polls.
  static constexpr std::size_t kMaxSeriesPerServer = 33;

  // `servers` are the label values, in the order scrapes list them;
  // `followed` are those whose statistics log is read, whose log counters
  // are therefore shown from 0. `version` labels the build information.
  // With `fresh_for`, a server is up only while its last count is younger
  // than that when scraped: a poll loop that stalls, or a server that took
  // the connection and never answers, cannot leave it up.
  FleetMetrics(const std::vector<std::string>& servers, const std::vector<std::string>& followed,
               std::string version,
               std::optional<std::chrono::milliseconds> fresh_for = std::nullopt);

  // An observation of a server given at construction; others are ignored.
  void Observe(const Sample& sample);
  // A line of the server's statistics log, without its end; lines that are
  // neither a forced collection nor a structure pass are ignored.
  void ObserveStatsLine(std::string_view server, std::string_view line);

  // The watcher stopped reading the server's statistics log: its counters
  // stay as they are, and a gauge says so.
  void GiveUpLog(std::string_view server);

  // Every series as it stands now, or at `now`. Any thread.
  std::vector<prometheus::MetricFamily> Collect() const override;
  std::vector<prometheus::MetricFamily> Collect(Time now) const;

 private:
  struct Server {
    std::string name;
    bool follows_log = false;
    bool log_given_up = false;
    bool up = false;
    std::optional<Time> last_count;        // when `objects` was observed
    std::optional<double> last_poll;       // seconds since the epoch
    std::optional<std::int64_t> objects;   // the last count, while the server gives one
    std::optional<double> last_success;    // seconds since the epoch
    std::array<std::uint64_t, 4> polls{};  // by Status: ok, down, error, auth-failed
    std::array<std::uint64_t, kRoundTripBuckets.size() + 1>
        round_trips{};  // per bucket, not summed
    double round_trip_sum = 0;
    std::array<std::uint64_t, 3> forced{};  // auto-timer, rcon, other
    std::uint64_t structure_passes = 0;
    std::optional<std::int32_t> structures_applied;
    std::optional<std::int32_t> structures_found;
    std::optional<std::int64_t> gc_last_drop;
    // The last count before a forced collection, until the next count.
    std::optional<std::int64_t> count_before_gc;
  };

  Server* Find(std::string_view name);
  static void MarkCollection(Server& s);

  mutable std::mutex mutex_;
  std::vector<Server> servers_;  // fixed at construction
  std::string version_;
  std::optional<std::chrono::milliseconds> fresh_for_;
};

}  // namespace watch

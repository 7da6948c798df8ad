#include "watch/metrics.h"

#include <limits>

#include "formats/replies.h"
#include "formats/stats_line.h"

namespace watch {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

// quillmoor_polls_total's result label, indexed by Status.
constexpr std::array<const char*, 4> kResults = {"ok", "down", "error", "auth_failed"};
static_assert(static_cast<std::size_t>(Status::kAuthFailed) + 1 == kResults.size() &&
                  static_cast<std::size_t>(Status::kForcedGc) == kResults.size(),
              "a poll's Status indexes kResults; kForcedGc is no poll");

// quillmoor_gc_forced_total's trigger label. The plugin writes only the
// first two; anything else a log holds is counted under "other", so that a
// damaged or foreign log cannot add series without end.
constexpr std::array<const char*, 3> kTriggers = {formats::kAutoTimerTrigger, formats::kRconTrigger,
                                                  "other"};

std::size_t TriggerIndex(std::string_view trigger) {
  for (std::size_t i = 0; i + 1 < kTriggers.size(); ++i) {
    if (trigger == kTriggers[i]) {
      return i;
    }
  }
  return kTriggers.size() - 1;
}

MetricFamily Family(const char* name, const char* help, MetricType type) {
  return {name, help, type, {}};
}

ClientMetric& Add(MetricFamily& family, const std::string& server) {
  family.metric.emplace_back();
  family.metric.back().label.push_back({"server", server});
  return family.metric.back();
}

void AddGauge(MetricFamily& family, const std::string& server, double value) {
  Add(family, server).gauge.value = value;
}

void AddCounter(MetricFamily& family, const std::string& server, const char* label,
                const char* label_value, std::uint64_t value) {
  ClientMetric& m = Add(family, server);
  m.label.push_back({label, label_value});
  m.counter.value = static_cast<double>(value);
}

}  // namespace

FleetMetrics::FleetMetrics(const std::vector<std::string>& servers,
                           const std::vector<std::string>& followed, std::string version,
                           std::optional<std::chrono::milliseconds> fresh_for)
    : version_(std::move(version)), fresh_for_(fresh_for) {
  for (const auto& name : servers) {
    Server s;
    s.name = name;
    for (const auto& f : followed) {
      s.follows_log = s.follows_log || f == name;
    }
    servers_.push_back(std::move(s));
  }
}

FleetMetrics::Server* FleetMetrics::Find(std::string_view name) {
  for (auto& s : servers_) {
    if (s.name == name) {
      return &s;
    }
  }
  return nullptr;
}

// Two marks of one collection (the watcher's force-GC reply, then the line it
// left in the log) keep the count from before the first.
void FleetMetrics::MarkCollection(Server& s) {
  if (!s.count_before_gc) {
    s.count_before_gc = s.objects;
  }
}

void FleetMetrics::Observe(const Sample& sample) {
  const std::lock_guard lock(mutex_);
  Server* s = Find(sample.server);
  if (!s) {
    return;
  }
  if (sample.status == Status::kForcedGc) {
    // Only a collection the plugin says it forced can have dropped objects.
    static const std::string kForced = formats::ForceGcReply(formats::ForceGcOutcome::kForced);
    if (sample.detail == kForced) {
      MarkCollection(*s);
    }
    return;
  }
  ++s->polls[static_cast<std::size_t>(sample.status)];
  s->last_poll = EpochSeconds(sample.time);
  s->up = sample.status == Status::kOk && sample.objects.has_value();
  if (s->up) {
    s->last_count = sample.time;
    if (s->count_before_gc) {
      s->gc_last_drop = *s->count_before_gc - *sample.objects;
      s->count_before_gc.reset();
    }
    s->objects = sample.objects;
    s->last_success = EpochSeconds(sample.time);
  } else {
    // The next count may come from a restarted server: no drop across it.
    s->objects.reset();
    s->count_before_gc.reset();
  }
  if (sample.round_trip) {
    const double seconds = std::chrono::duration<double>(*sample.round_trip).count();
    std::size_t bucket = 0;
    while (bucket < kRoundTripBuckets.size() && seconds > kRoundTripBuckets[bucket]) {
      ++bucket;
    }
    ++s->round_trips[bucket];
    s->round_trip_sum += seconds;
  }
}

void FleetMetrics::ObserveStatsLine(std::string_view server, std::string_view line) {
  const auto parsed = formats::ParseStatsLine(line);
  if (!parsed) {
    return;
  }
  const auto trigger = formats::ForcedCollectionTrigger(parsed->message);
  const auto pass = trigger ? std::nullopt : formats::ReadStructurePass(parsed->message);
  const std::lock_guard lock(mutex_);
  Server* s = Find(server);
  if (!s) {
    return;
  }
  if (trigger) {
    ++s->forced[TriggerIndex(*trigger)];
    MarkCollection(*s);
  } else if (pass) {
    ++s->structure_passes;
    s->structures_applied = pass->applied;
    s->structures_found = pass->total;
  }
}

void FleetMetrics::GiveUpLog(std::string_view server) {
  const std::lock_guard lock(mutex_);
  if (Server* s = Find(server); s && s->follows_log) {
    s->log_given_up = true;
  }
}

std::vector<MetricFamily> FleetMetrics::Collect() const {
  return Collect(std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now()));
}

std::vector<MetricFamily> FleetMetrics::Collect(Time now) const {
  std::vector<Server> servers;
  {
    const std::lock_guard lock(mutex_);
    servers = servers_;
  }
  for (auto& s : servers) {
    if (s.up && fresh_for_ && *s.last_count + *fresh_for_ < now) {
      s.up = false;
      s.objects.reset();
    }
  }
  auto up = Family("quillmoor_up",
                   "1 when the last poll of the server got its object count and that count is "
                   "recent (within the poll interval plus the timeout), else 0",
                   MetricType::Gauge);
  auto objects = Family("quillmoor_uobjects",
                        "The engine's object count at the last poll; absent while the server "
                        "does not answer with a count",
                        MetricType::Gauge);
  auto last_success =
      Family("quillmoor_last_success_timestamp_seconds",
             "When the server last answered with its object count, in seconds since the epoch",
             MetricType::Gauge);
  auto last_poll = Family("quillmoor_last_poll_timestamp_seconds",
                          "When the watcher last finished a poll of the server, whatever its "
                          "result, in seconds since the epoch",
                          MetricType::Gauge);
  auto given_up = Family("quillmoor_stats_log_given_up",
                         "1 when the watcher could no longer read the server's statistics log "
                         "and stopped following it (its counters no longer move), else 0",
                         MetricType::Gauge);
  auto polls = Family("quillmoor_polls_total",
                      "Polls of the server by result: ok, down (no connection or no reply in "
                      "time), error (a reply that is not a count), auth_failed",
                      MetricType::Counter);
  auto round_trip = Family("quillmoor_rcon_round_trip_seconds",
                           "Time from sending GetServerStats to its reply, without connecting",
                           MetricType::Histogram);
  auto forced = Family("quillmoor_gc_forced_total",
                       "Forced garbage collections in the server's statistics log, by trigger: "
                       "auto-timer (Auto-GC), rcon (the force-GC command), other",
                       MetricType::Counter);
  auto passes =
      Family("quillmoor_structure_passes_total",
             "Structure net-frequency passes in the server's statistics log", MetricType::Counter);
  auto applied = Family("quillmoor_structures_applied",
                        "Structures the last structure pass changed", MetricType::Gauge);
  auto found = Family("quillmoor_structures_found", "Structures the last structure pass found",
                      MetricType::Gauge);
  auto drop = Family("quillmoor_gc_last_drop_objects",
                     "How many fewer objects the first count after the last forced collection "
                     "showed than the last count before it (negative: more)",
                     MetricType::Gauge);

  for (const auto& s : servers) {
    AddGauge(up, s.name, s.up ? 1 : 0);
    if (s.objects) {
      AddGauge(objects, s.name, static_cast<double>(*s.objects));
    }
    if (s.last_success) {
      AddGauge(last_success, s.name, *s.last_success);
    }
    if (s.last_poll) {
      AddGauge(last_poll, s.name, *s.last_poll);
    }
    for (std::size_t r = 0; r < kResults.size(); ++r) {
      AddCounter(polls, s.name, "result", kResults[r], s.polls[r]);
    }
    ClientMetric& h = Add(round_trip, s.name);
    std::uint64_t cumulative = 0;
    for (std::size_t b = 0; b < s.round_trips.size(); ++b) {
      cumulative += s.round_trips[b];
      h.histogram.bucket.push_back({cumulative, b < kRoundTripBuckets.size()
                                                    ? kRoundTripBuckets[b]
                                                    : std::numeric_limits<double>::infinity()});
    }
    h.histogram.sample_count = cumulative;
    h.histogram.sample_sum = s.round_trip_sum;
    if (s.follows_log) {
      for (std::size_t t = 0; t < kTriggers.size(); ++t) {
        if (t + 1 < kTriggers.size() || s.forced[t] > 0) {
          AddCounter(forced, s.name, "trigger", kTriggers[t], s.forced[t]);
        }
      }
      Add(passes, s.name).counter.value = static_cast<double>(s.structure_passes);
      AddGauge(given_up, s.name, s.log_given_up ? 1 : 0);
    }
    if (s.structures_applied) {
      AddGauge(applied, s.name, *s.structures_applied);
      AddGauge(found, s.name, *s.structures_found);
    }
    if (s.gc_last_drop) {
      AddGauge(drop, s.name, static_cast<double>(*s.gc_last_drop));
    }
  }

  auto info = Family("quillmoor_watch_build_info", "The watcher's version, as a label; always 1",
                     MetricType::Gauge);
  info.metric.emplace_back();
  info.metric.back().label.push_back({"version", version_});
  info.metric.back().gauge.value = 1;

  std::vector<MetricFamily> families;
  for (auto* f : {&up, &objects, &last_success, &last_poll, &polls, &given_up, &round_trip, &forced,
                  &passes, &applied, &found, &drop, &info}) {
    if (!f->metric.empty()) {
      families.push_back(std::move(*f));
    }
  }
  return families;
}

}  // namespace watch

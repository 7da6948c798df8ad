// The Prometheus exporter as one of the watcher's outputs: it serves
// /metrics over HTTP on threads of its own from the moment it is built, and
// on the watcher's thread takes each observation and the new lines of the
// servers' statistics logs into FleetMetrics.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "watch/listen_address.h"
#include "watch/options.h"
#include "watch/sink.h"

namespace prometheus {
class Exposer;
}

namespace watch {

class FleetMetrics;
class StatsLogFollower;

// The exporter cannot listen where --metrics says: the run must not begin.
class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The statistics logs whose lines feed the metrics, each with its server: a
// log without a name belongs to the only server. Throws
// std::invalid_argument when a log names no server that is watched, when
// several servers leave an unnamed log without one, or when two logs name
// the same server (its lines would count twice).
std::vector<StatsLogSpec> FollowedLogs(const std::vector<ServerSpec>& servers,
                                       const std::vector<StatsLogSpec>& logs);

class MetricsSink final : public Sink {
 public:
  // Listens on *options.metrics at once; throws ListenError saying why it
  // cannot. Reports through `reporter`, which must outlive the sink.
  MetricsSink(const WatchOptions& options, Reporter& reporter);
  ~MetricsSink() override;

  // Says where the metrics are, and skips what the statistics logs hold.
  void Start() override;
  // Reads the new lines of the server's statistics log, then the
  // observation. A log that cannot be followed is reported and given up;
  // the other metrics go on.
  void Add(const Sample& sample) override;

 private:
  struct Followed;

  Reporter& reporter_;
  std::shared_ptr<FleetMetrics> metrics_;
  // Declared after metrics_: it stops serving before they go.
  std::unique_ptr<prometheus::Exposer> exposer_;
  std::vector<Followed> logs_;
  ListenAddress bound_;
  std::string url_;
};

}  // namespace watch

#include "watch/metrics_sink.h"

#include <set>
#include <system_error>

#include <fmt/format.h>
#include <prometheus/exposer.h>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "watch/listen_address.h"
#include "watch/metrics.h"
#include "watch/stats_follow.h"

namespace watch {

struct MetricsSink::Followed {
  std::string server;
  std::unique_ptr<StatsLogFollower> follower;  // null once given up
};

namespace {

// The HTTP server's threads: a scrape at a time is the normal load, the
// second keeps one slow client from holding up Prometheus. A client that
// sends nothing is dropped after the timeout.
constexpr char kServerThreads[] = "2";
constexpr char kRequestTimeoutMs[] = "10000";

// The HTTP server says only that it could not start: binding a socket to the
// same address tells why (the port in use, an address not of this machine).
std::string WhyNotListening(const ListenAddress& address) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io);
  std::error_code ec;
  const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(address.host, ec), address.port);
  if (!ec) {
    acceptor.open(endpoint.protocol(), ec);
  }
  if (!ec) {
    acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  }
  if (!ec) {
    acceptor.bind(endpoint, ec);
  }
  return ec ? ec.message() : std::string("the HTTP server did not start");
}

}  // namespace

std::vector<StatsLogSpec> FollowedLogs(const std::vector<ServerSpec>& servers,
                                       const std::vector<StatsLogSpec>& logs) {
  std::vector<StatsLogSpec> out;
  std::set<std::string> named;
  for (auto log : logs) {
    if (log.server.empty()) {
      if (servers.size() != 1) {
        throw std::invalid_argument(fmt::format(
            "--stats-log {}: with --metrics and several servers, say whose log it is: NAME=PATH",
            log.path.string()));
      }
      log.server = servers.front().name;
    }
    bool watched = false;
    for (const auto& s : servers) {
      watched = watched || s.name == log.server;
    }
    if (!watched) {
      throw std::invalid_argument(fmt::format("--stats-log {}={}: no server named '{}' is watched",
                                              log.server, log.path.string(), log.server));
    }
    if (!named.insert(log.server).second) {
      throw std::invalid_argument(
          fmt::format("--stats-log: two logs for '{}'; its metrics take one", log.server));
    }
    out.push_back(std::move(log));
  }
  return out;
}

MetricsSink::MetricsSink(const WatchOptions& options, Reporter& reporter) : reporter_(reporter) {
  std::vector<std::string> names, followed;
  for (const auto& s : options.servers) {
    names.push_back(s.name);
  }
  for (auto& log : FollowedLogs(options.servers, options.stats_logs)) {
    followed.push_back(log.server);
    logs_.push_back({log.server, std::make_unique<StatsLogFollower>(log.path)});
  }
  metrics_ = std::make_shared<FleetMetrics>(names, followed, QUILLMOOR_VERSION);

  const ListenAddress& address = *options.metrics;
  const std::string where = FormatListenAddress(address);
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(
        std::vector<std::string>{"listening_ports", where, "num_threads", kServerThreads,
                                 "request_timeout_ms", kRequestTimeoutMs});
  } catch (const std::exception&) {
    throw ListenError(
        fmt::format("--metrics: cannot listen on {}: {}", where, WhyNotListening(address)));
  }
  exposer_->RegisterCollectable(metrics_);
  ListenAddress bound = address;
  if (const auto ports = exposer_->GetListeningPorts(); !ports.empty()) {
    bound.port = static_cast<std::uint16_t>(ports.front());
  }
  url_ = fmt::format("http://{}/metrics", FormatListenAddress(bound));
}

MetricsSink::~MetricsSink() = default;

void MetricsSink::Start() {
  reporter_.Note(fmt::format("metrics at {}", url_));
  for (auto& log : logs_) {
    try {
      if (!log.follower->Start()) {
        reporter_.Note(fmt::format("statistics log {} does not exist yet; it is read once it does",
                                   log.follower->path().string()));
      }
    } catch (const std::exception& e) {
      reporter_.Fail(fmt::format("{}; its metrics are not shown", e.what()));
      log.follower.reset();
    }
  }
}

void MetricsSink::Add(const Sample& sample) {
  for (auto& log : logs_) {
    if (log.server != sample.server || !log.follower) {
      continue;
    }
    try {
      for (const auto& line : log.follower->ReadNew()) {
        metrics_->ObserveStatsLine(log.server, line);
      }
    } catch (const std::exception& e) {
      reporter_.Fail(fmt::format("{}; its metrics are no longer updated", e.what()));
      log.follower.reset();
    }
  }
  metrics_->Observe(sample);
}

}  // namespace watch

#include "watch/metrics_sink.h"

#include <atomic>
#include <chrono>
#include <set>
#include <system_error>
#include <thread>

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

// Each connection holds one of the HTTP server's threads until its request
// is read and answered, or the timeout ends it: a client that connects and
// sends nothing (or sends slowly) keeps a thread for at most the timeout.
// Threads enough for a dozen such clients beside Prometheus, and a timeout
// far below a scrape's, keep a scrape answered within a second; beyond the
// threads, at most kQueuedConnections accepted connections wait, and the
// rest wait in the kernel's backlog, so no client can make the watcher hold
// more. No keep-alive: Prometheus reconnects at each scrape anyway.
constexpr char kServerThreads[] = "16";
constexpr char kQueuedConnections[] = "16";
constexpr char kRequestTimeoutMs[] = "500";

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
  // A poll takes up to the timeout after its interval; a forced collection
  // before it, one more.
  const auto fresh_for = options.interval + options.timeout * (options.force_gc_every ? 2 : 1);
  metrics_ = std::make_shared<FleetMetrics>(names, followed, QUILLMOOR_VERSION, fresh_for);

  const ListenAddress& address = *options.metrics;
  const std::string where = FormatListenAddress(address);
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
        "listening_ports", where, "num_threads", kServerThreads, "connection_queue",
        kQueuedConnections, "request_timeout_ms", kRequestTimeoutMs, "enable_keep_alive", "no"});
  } catch (const std::exception&) {
    throw ListenError(
        fmt::format("--metrics: cannot listen on {}: {}", where, WhyNotListening(address)));
  }
  exposer_->RegisterCollectable(metrics_);
  ListenAddress bound = address;
  if (const auto ports = exposer_->GetListeningPorts(); !ports.empty()) {
    bound.port = static_cast<std::uint16_t>(ports.front());
  }
  bound_ = bound;
  url_ = fmt::format("http://{}/metrics", FormatListenAddress(bound));
}

// The HTTP server notices its stop only when its wait for a connection
// ends, which it does every 2 s with none coming: connections of our own end
// that wait at once, so the watcher stops within a moment.
MetricsSink::~MetricsSink() {
  if (!exposer_) {
    return;
  }
  std::atomic<bool> stopped{false};
  std::thread knock;
  try {
    knock = std::thread([&stopped, address = bound_] {
      try {
        asio::io_context io;
        std::error_code ec;
        auto ip = asio::ip::make_address(address.host, ec);
        if (ec) {
          return;
        }
        if (ip.is_unspecified()) {
          ip = asio::ip::address_v4::loopback();
        }
        while (!stopped) {
          asio::ip::tcp::socket socket(io);
          socket.connect({ip, address.port}, ec);
          socket.close(ec);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      } catch (const std::exception&) {
        // No knock: the stop takes its 2 s.
      }
    });
  } catch (const std::exception&) {
    // No thread: the stop takes its 2 s.
  }
  exposer_.reset();
  stopped = true;
  if (knock.joinable()) {
    knock.join();
  }
}

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
      metrics_->GiveUpLog(log.server);
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
      metrics_->GiveUpLog(log.server);
    }
  }
  metrics_->Observe(sample);
}

}  // namespace watch

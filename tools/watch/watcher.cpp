#include "watch/watcher.h"

#include <algorithm>
#include <csignal>
#include <memory>
#include <optional>

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "formats/replies.h"
#include "watch/chart.h"
#include "watch/csv.h"
#include "watch/rcon_client.h"
#include "watch/stats_reply.h"
#include "watch/table.h"

namespace watch {

namespace {

using Steady = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kMaxBackoff{60000};

Time Now() {
  return std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now());
}

struct Server {
  Server(ServerSpec s, asio::io_context& io)
      : target(std::move(s)), client(io.get_executor()), timer(io) {}
  ServerSpec target;
  RconClient client;
  asio::steady_timer timer;
};

// Reads the statistics logs; a log that cannot be read costs its marks, not
// the chart.
std::vector<LogMarks> ReadMarks(const std::vector<StatsLogSpec>& logs, std::ostream& err,
                                bool& failed) {
  std::vector<LogMarks> marks;
  for (const auto& log : logs) {
    try {
      marks.push_back({log.server, ReadForcedCollections(log.path)});
    } catch (const std::exception& e) {
      fmt::print(err, "quillmoor-watch: {}\n", e.what());
      failed = true;
    }
  }
  return marks;
}

bool Draw(const std::filesystem::path& path, const std::vector<Sample>& samples,
          const std::vector<LogMarks>& marks, std::ostream& err) {
  try {
    DrawChart(path, samples, marks);
    fmt::print(err, "quillmoor-watch: chart written to {}\n", path.string());
    return true;
  } catch (const std::exception& e) {
    fmt::print(err, "quillmoor-watch: no chart: {}\n", e.what());
    return false;
  }
}

class Watch {
 public:
  Watch(const WatchOptions& options, std::ostream& out, std::ostream& err, bool terminal)
      : options_(options),
        out_(out),
        err_(err),
        terminal_(terminal),
        signals_(io_, SIGINT, SIGTERM),
        stop_timer_(io_),
        table_(Names(options.servers)) {}

  int Run() {
    if (!options_.csv.empty()) {
      try {
        csv_.emplace(options_.csv);
      } catch (const std::exception& e) {
        fmt::print(err_, "quillmoor-watch: {}\n", e.what());
        return kExitFailure;
      }
    }
    signals_.async_wait([this](std::error_code ec, int) {
      if (!ec) {
        Stop();
      }
    });
    if (options_.duration) {
      stop_timer_.expires_after(*options_.duration);
      stop_timer_.async_wait([this](std::error_code ec) {
        if (!ec) {
          Stop();
        }
      });
    }
    for (const auto& target : options_.servers) {
      servers_.push_back(std::make_unique<Server>(target, io_));
    }
    if (terminal_) {
      Redraw();
    }
    polling_ = servers_.size();
    for (auto& s : servers_) {
      asio::co_spawn(io_, Poll(*s), asio::detached);
    }
    io_.run();

    if (!options_.plot.empty()) {
      const auto marks = ReadMarks(options_.stats_logs, err_, failed_);
      failed_ = !Draw(options_.plot, samples_, marks, err_) || failed_;
    }
    return failed_ ? kExitFailure : kExitOk;
  }

 private:
  static std::vector<std::string> Names(const std::vector<ServerSpec>& servers) {
    std::vector<std::string> names;
    for (const auto& s : servers) {
      names.push_back(s.name);
    }
    return names;
  }

  void Stop() {
    if (stopping_) {
      return;
    }
    stopping_ = true;
    signals_.cancel();
    stop_timer_.cancel();
    for (auto& s : servers_) {
      s->timer.cancel();
      s->client.Close();
    }
  }

  void Record(Sample sample) {
    if (csv_) {
      try {
        csv_->Write(sample);
      } catch (const std::exception& e) {
        // Keep polling: the table and the chart still work, and the exit
        // code tells the rows are incomplete.
        Message(fmt::format("{}; no more rows are written", e.what()));
        csv_.reset();
        failed_ = true;
      }
    }
    const std::string line = table_.Add(sample);
    if (terminal_) {
      Redraw();
    } else {
      out_ << line << '\n' << std::flush;
    }
    samples_.push_back(std::move(sample));
  }

  void Message(const std::string& text) {
    fmt::print(err_, "quillmoor-watch: {}\n", text);
    err_.flush();
    drawn_ = 0;  // the table starts again below the message
  }

  void Redraw() {
    if (drawn_ > 0) {
      // Up to the table's first line, then clear to the end of the screen.
      out_ << "\x1b[" << drawn_ << "F\x1b[J";
    }
    out_ << table_.Render() << std::flush;
    drawn_ = table_.line_count();
  }

  // Sends `command` on the server's connection, opening it first if need be.
  // A connection kept since the previous poll may have been closed by the
  // server meanwhile (its idle timeout, a restart): that earns one fresh
  // attempt, unless the command may already have arrived (a timeout).
  asio::awaitable<std::string> Ask(Server& s, const std::string& command) {
    const bool reused = s.client.is_open();
    if (!reused) {
      co_await s.client.Open(s.target.host, s.target.port, s.target.password, options_.timeout);
    }
    try {
      co_return co_await s.client.Exec(command, options_.timeout);
    } catch (const std::runtime_error&) {
      if (!reused || stopping_ || s.client.timed_out()) {
        throw;
      }
    }
    co_await s.client.Open(s.target.host, s.target.port, s.target.password, options_.timeout);
    co_return co_await s.client.Exec(command, options_.timeout);
  }

  // One server's loop: at most one request in flight, polls on a fixed
  // cadence while it answers, growing back-off while it does not.
  asio::awaitable<void> Poll(Server& s) {
    const auto interval = options_.interval;
    auto backoff = interval;
    auto next_poll = Steady::now();
    std::optional<Steady::time_point> next_force;
    if (options_.force_gc_every) {
      next_force = Steady::now() + *options_.force_gc_every;
    }
    while (!stopping_) {
      bool answered = false;
      try {
        if (next_force && Steady::now() >= *next_force) {
          while (*next_force <= Steady::now()) {
            *next_force += *options_.force_gc_every;
          }
          const std::string reply = co_await Ask(s, options_.force_gc_command);
          Record({Now(), s.target.name, std::nullopt, Status::kForcedGc, reply});
        }
        const std::string body = co_await Ask(s, formats::kStatsCommand);
        answered = true;
        try {
          Record({Now(), s.target.name, ParseObjectCount(body), Status::kOk, {}});
        } catch (const std::runtime_error& e) {
          Record({Now(), s.target.name, std::nullopt, Status::kError, e.what()});
        }
      } catch (const AuthRejected& e) {
        Record({Now(), s.target.name, std::nullopt, Status::kAuthFailed, e.what()});
        Message(fmt::format("{} ({}:{}): {}; it is no longer polled", s.target.name, s.target.host,
                            s.target.port, e.what()));
        failed_ = true;
        if (--polling_ == 0) {
          Stop();  // nothing left to watch
        }
        co_return;
      } catch (const std::exception& e) {
        if (stopping_) {
          co_return;
        }
        Record({Now(), s.target.name, std::nullopt, Status::kDown, e.what()});
      }
      if (answered) {
        backoff = interval;
        next_poll += interval;
        if (next_poll < Steady::now()) {
          next_poll = Steady::now() + interval;  // fell behind: skip, never burst
        }
      } else {
        next_poll = Steady::now() + backoff;
        backoff = std::min(std::max(backoff * 2, interval), std::max(kMaxBackoff, interval));
      }
      s.timer.expires_at(next_poll);
      try {
        co_await s.timer.async_wait(asio::use_awaitable);
      } catch (const std::system_error&) {
        // Cancelled by Stop().
      }
    }
  }

  const WatchOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  asio::io_context io_;
  asio::signal_set signals_;
  asio::steady_timer stop_timer_;
  Table table_;
  std::optional<CsvWriter> csv_;
  std::vector<std::unique_ptr<Server>> servers_;
  std::vector<Sample> samples_;
  std::size_t drawn_ = 0;
  std::size_t polling_ = 0;  // servers whose loop goes on
  bool stopping_ = false;
  bool failed_ = false;
};

}  // namespace

int RunWatch(const WatchOptions& options, std::ostream& out, std::ostream& err, bool terminal) {
  return Watch(options, out, err, terminal).Run();
}

int RunPlot(const WatchOptions& options, std::ostream& err) {
  std::vector<Sample> samples;
  try {
    samples = ReadCsv(*options.plot_from_csv);
  } catch (const std::exception& e) {
    fmt::print(err, "quillmoor-watch: {}\n", e.what());
    return kExitFailure;
  }
  bool failed = false;
  const auto marks = ReadMarks(options.stats_logs, err, failed);
  failed = !Draw(options.plot, samples, marks, err) || failed;
  return failed ? kExitFailure : kExitOk;
}

}  // namespace watch

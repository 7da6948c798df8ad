#include "watch/watcher.h"

#include <algorithm>
#include <csignal>
#include <memory>
#include <optional>

#include <fmt/format.h>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "formats/replies.h"
#include "rcon_wire/client.h"
#include "watch/stats_reply.h"

namespace watch {

namespace {

using Steady = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kMaxBackoff{60000};

Time Now() {
  return std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now());
}

struct Server {
  Server(ServerSpec s, asio::io_context& io, const LookupFunction& lookup_function)
      : target(std::move(s)),
        lookup(io.get_executor(), lookup_function),
        client(io.get_executor()),
        timer(io) {}
  ServerSpec target;
  Lookup lookup;
  rcon_wire::Client client;
  asio::steady_timer timer;
};

class Watch {
 public:
  Watch(const WatchOptions& options, Outputs& outputs, LookupFunction lookup)
      : options_(options),
        outputs_(outputs),
        lookup_(std::move(lookup)),
        signals_(io_, SIGINT, SIGTERM, SIGHUP),
        stop_timer_(io_) {}

  int Run() {
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
      servers_.push_back(std::make_unique<Server>(target, io_, lookup_));
    }
    outputs_.Start();
    polling_ = servers_.size();
    for (auto& s : servers_) {
      asio::co_spawn(io_, Poll(*s), asio::detached);
    }
    io_.run();
    outputs_.Finish();
    if (!servers_.empty() && refused_ == servers_.size()) {
      return kExitAuth;
    }
    return outputs_.failed() ? kExitFailure : kExitOk;
  }

 private:
  void Stop() {
    if (stopping_) {
      return;
    }
    stopping_ = true;
    signals_.cancel();
    stop_timer_.cancel();
    for (auto& s : servers_) {
      s->timer.cancel();
      s->lookup.Cancel();
      s->client.Close();
    }
  }

  asio::awaitable<void> Open(Server& s) {
    auto endpoints = co_await s.lookup.Resolve(s.target.host, s.target.port, options_.timeout);
    if (stopping_) {
      throw std::runtime_error("stopped");
    }
    co_await s.client.Open(std::move(endpoints), s.target.password, options_.timeout);
  }

  // Sends `command` on the server's connection, opening it first if need be.
  // A connection kept since the previous poll may have been closed by the
  // server meanwhile (its idle timeout, a restart): that earns one fresh
  // attempt, unless the command may already have arrived (a timeout).
  // `round_trip` gets the time from the command's request to its reply,
  // without connecting and logging in.
  asio::awaitable<std::string> Ask(Server& s, const std::string& command,
                                   std::chrono::microseconds& round_trip) {
    const bool reused = s.client.is_open();
    if (!reused) {
      co_await Open(s);
    }
    try {
      co_return co_await Exec(s, command, round_trip);
    } catch (const std::runtime_error&) {
      if (!reused || stopping_ || s.client.timed_out()) {
        throw;
      }
    }
    co_await Open(s);
    co_return co_await Exec(s, command, round_trip);
  }

  asio::awaitable<std::string> Exec(Server& s, const std::string& command,
                                    std::chrono::microseconds& round_trip) {
    const auto sent = Steady::now();
    std::string reply = co_await s.client.Exec(command, options_.timeout);
    round_trip = std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - sent);
    co_return reply;
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
          std::chrono::microseconds forced_in{};
          const std::string reply = co_await Ask(s, options_.force_gc_command, forced_in);
          outputs_.Add({Now(), s.target.name, std::nullopt, Status::kForcedGc, reply});
        }
        std::chrono::microseconds round_trip{};
        const std::string body = co_await Ask(s, formats::kStatsCommand, round_trip);
        answered = true;
        try {
          outputs_.Add({Now(), s.target.name, ParseObjectCount(body), Status::kOk, {}, round_trip});
        } catch (const std::runtime_error& e) {
          outputs_.Add({Now(), s.target.name, std::nullopt, Status::kError, e.what(), round_trip});
        }
      } catch (const rcon_wire::AuthRejected& e) {
        outputs_.Add({Now(), s.target.name, std::nullopt, Status::kAuthFailed, e.what()});
        outputs_.Fail(fmt::format("{} ({}:{}): {}; it is no longer polled", s.target.name,
                                  s.target.host, s.target.port, e.what()));
        ++refused_;
        if (--polling_ == 0) {
          Stop();  // nothing left to watch
        }
        co_return;
      } catch (const std::exception& e) {
        if (stopping_) {
          co_return;
        }
        outputs_.Add({Now(), s.target.name, std::nullopt, Status::kDown, e.what()});
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
  Outputs& outputs_;
  LookupFunction lookup_;
  asio::io_context io_;
  asio::signal_set signals_;
  asio::steady_timer stop_timer_;
  std::vector<std::unique_ptr<Server>> servers_;
  std::size_t polling_ = 0;  // servers whose loop goes on
  std::size_t refused_ = 0;  // servers that refused the password
  bool stopping_ = false;
};

}  // namespace

int RunWatch(const WatchOptions& options, Outputs& outputs, LookupFunction lookup) {
  return Watch(options, outputs, std::move(lookup)).Run();
}

}  // namespace watch

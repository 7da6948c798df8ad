#include "rcon_server/listener.h"

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "rcon_server/session.h"
#include "rcon_wire/codec.h"

namespace devhost::rcon {

namespace {

using asio::ip::tcp;

// An accept that fails (out of descriptors, say) fails again at once: wait a
// little instead of spinning and flooding the log.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// Addresses with wrong passwords on record; beyond this, the ones not
// blocked right now are forgotten, so a scan cannot grow the table forever.
constexpr std::size_t kMaxTrackedAddresses = 4096;

}  // namespace

std::string Seconds(std::chrono::milliseconds d) {
  return fmt::format("{:g} s", static_cast<double>(d.count()) / 1000.0);
}

Listener::Listener(Ports ports, RconOptions options)
    : log_(*ports.log),
      options_(std::move(options)),
      work_(asio::make_work_guard(io_)),
      acceptor_(io_),
      retry_(io_),
      handoff_(std::move(ports)),
      lines_(options_.log_lines_per_address, options_.log_summary_period),
      summary_(io_),
      grace_(io_) {
  if (options_.password.empty()) {
    throw std::invalid_argument("RCON password must not be empty");
  }
  // A body ends at its first NUL, and a request carries at most so much: a
  // password beyond either could never be given.
  if (options_.password.size() > rcon_wire::kMaxRequestBody ||
      options_.password.find('\0') != std::string::npos) {
    throw std::invalid_argument(
        fmt::format("RCON password must be at most {} bytes without a NUL, as a packet carries it",
                    rcon_wire::kMaxRequestBody));
  }
  if (options_.max_per_address == 0) {
    throw std::invalid_argument("RCON max_per_address must be at least 1");
  }
  if (options_.auth_timeout.count() <= 0) {
    throw std::invalid_argument("RCON auth_timeout must be positive");
  }
  asio::error_code ec;
  const auto address = asio::ip::make_address(options_.bind_address, ec);
  if (ec) {
    throw std::system_error(ec, "RCON bind address '" + options_.bind_address + "'");
  }
  const tcp::endpoint endpoint(address, options_.port);
  const std::string where =
      fmt::format("cannot listen on {}:{}", options_.bind_address, options_.port);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) {
    // A restarted server must not wait out the old one's TIME_WAIT sockets.
    acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    acceptor_.bind(endpoint, ec);
  }
  if (!ec) {
    acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  }
  if (ec) {
    throw std::system_error(ec, where);
  }
  port_ = acceptor_.local_endpoint().port();
}

spdlog::logger& Listener::log() {
  return log_;
}

void Listener::Start() {
  handoff_.Open(io_);
  Accept();
  thread_ = std::thread([this] {
    for (;;) {
      try {
        io_.run();
        return;
      } catch (const std::exception& e) {
        log().error("RCON network thread: {}", e.what());
      } catch (...) {
        log().error("RCON network thread: unknown exception");
      }
    }
  });
}

void Listener::Stop() {
  if (!thread_.joinable()) {
    return;
  }
  handoff_.Close();
  asio::post(io_, [this] {
    stopping_ = true;
    asio::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
    summary_.cancel();
    grace_.cancel();
    waiting_.clear();
    // What was counted and not yet summed up must not go unsaid.
    WriteSummaries();
    for (auto& [id, open] : std::exchange(sessions_, {})) {
      if (auto session = open.session.lock()) {
        session->Stop();
      }
    }
  });
  // With the listener and every socket closed, the aborted operations finish
  // and run() returns: the join cannot hang on a client.
  work_.reset();
  thread_.join();
}

void Listener::Accept() {
  acceptor_.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
    if (stopping_ || ec == asio::error::operation_aborted) {
      return;
    }
    if (ec) {
      log().warn("RCON: accepting a connection failed ({}); retrying", ec.message());
      retry_.expires_after(kAcceptRetry);
      retry_.async_wait([this](const asio::error_code& e) {
        if (!e && !stopping_) {
          Accept();
        }
      });
      return;
    }
    OnAccept(std::move(socket));
    Accept();
  });
}

void Listener::Refuse(tcp::socket& socket, const std::string& peer,
                      const asio::ip::address& address, const std::string& why) {
  if (lines_.Admit(address, ConnectionLines::Kind::kRefusal, Clock::now())) {
    log().warn("RCON: refused {}: {}", peer, why);
  } else {
    ArmSummary();
  }
  asio::error_code ignored;
  socket.close(ignored);
}

void Listener::ArmSummary() {
  const auto due = lines_.SummaryDue();
  if (summary_armed_ || !due) {
    return;
  }
  summary_armed_ = true;
  summary_.expires_at(*due);
  summary_.async_wait([this](const asio::error_code& ec) {
    summary_armed_ = false;
    if (!ec && !stopping_) {
      WriteSummaries();
    }
  });
}

void Listener::WriteSummaries() {
  for (const auto& line : lines_.Summaries(Clock::now())) {
    log().info("{}", line);
  }
}

void Listener::OnAccept(tcp::socket socket) {
  asio::error_code ec;
  const tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec) {
    return;  // gone before we got to it
  }
  const std::string peer = fmt::format("{}:{}", remote.address().to_string(), remote.port());
  if (IsBlocked(remote.address())) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        strikes_.at(remote.address()).blocked_until - Clock::now());
    Refuse(socket, peer, remote.address(),
           fmt::format("address blocked for another {} after {} wrong passwords", Seconds(left),
                       options_.max_auth_failures));
    return;
  }
  std::erase_if(sessions_, [](const auto& entry) { return entry.second.session.expired(); });
  // A scan is cheap: there are at most max_connections entries of each.
  const auto from_address = static_cast<std::size_t>(
      std::count_if(sessions_.begin(), sessions_.end(),
                    [&](const auto& entry) { return entry.second.address == remote.address(); }));
  const bool address_waits = std::any_of(waiting_.begin(), waiting_.end(), [&](const Waiting& w) {
    return w.address == remote.address();
  });
  // No slot is freed for a newcomer that its address's cap refuses anyway.
  if (sessions_.size() >= options_.max_connections || !waiting_.empty()) {
    Room room = Room::kNever;
    if (from_address < options_.max_per_address) {
      room = waiting_.empty() ? MakeRoom() : Room::kLater;
    }
    if (room == Room::kLater && !address_waits && waiting_.size() < options_.max_connections) {
      // It waits its turn behind the others, its first packet kept by the
      // system meanwhile, rather than take the slot of a connection that
      // may be an operator's about to log in.
      waiting_.push_back(Waiting{std::move(socket), peer, remote.address()});
      ArmGrace();
      return;
    }
    if (room != Room::kMade) {
      Refuse(socket, peer, remote.address(),
             fmt::format("{} connections are open, the most allowed", sessions_.size()));
      return;
    }
  }
  if (from_address >= options_.max_per_address) {
    Refuse(socket, peer, remote.address(),
           fmt::format("{} connections from {} are open, the most allowed from one address",
                       from_address, remote.address().to_string()));
    return;
  }
  Admit(std::move(socket), peer, remote.address());
}

void Listener::Admit(tcp::socket socket, const std::string& peer,
                     const asio::ip::address& address) {
  const std::uint64_t id = next_session_++;
  const auto now = Clock::now();
  const bool quiet = !lines_.Admit(address, ConnectionLines::Kind::kConnection, now);
  auto session = MakeSession(*this, std::move(socket), id, peer, address, quiet);
  sessions_.emplace(id, Open{session, address, now});
  if (quiet) {
    ArmSummary();
  } else {
    log().info("RCON {}: connected", peer);
  }
  session->Start();
}

void Listener::Forget(std::uint64_t session) {
  sessions_.erase(session);
  if (!waiting_.empty()) {
    // Not from inside the closing session's own call.
    asio::post(io_, [this] {
      if (!stopping_) {
        Promote();
      }
    });
  }
}

void Listener::Promote() {
  std::erase_if(sessions_, [](const auto& entry) { return entry.second.session.expired(); });
  while (!waiting_.empty()) {
    Room room = sessions_.size() < options_.max_connections ? Room::kMade : MakeRoom();
    if (room == Room::kLater) {
      ArmGrace();
      return;
    }
    Waiting next = std::move(waiting_.front());
    waiting_.pop_front();
    if (room == Room::kNever) {
      Refuse(next.socket, next.peer, next.address,
             fmt::format("{} connections are open, the most allowed", sessions_.size()));
    } else {
      Admit(std::move(next.socket), next.peer, next.address);
    }
  }
}

void Listener::ArmGrace() {
  if (grace_armed_ || waiting_.empty()) {
    return;
  }
  std::optional<Clock::time_point> first;
  for (const auto& [id, open] : sessions_) {
    if (!open.logged_in && (!first || open.since < *first)) {
      first = open.since;
    }
  }
  grace_armed_ = true;
  // With none that has not logged in, a closing one frees a slot: look again
  // in a while all the same.
  grace_.expires_at(first ? *first + options_.login_grace : Clock::now() + options_.login_grace);
  grace_.async_wait([this](const asio::error_code& ec) {
    grace_armed_ = false;
    if (!ec && !stopping_) {
      Promote();
    }
  });
}

// Connections that never log in, re-opened as fast as their slots free up,
// would otherwise keep an operator out for as long as they are kept up. The
// victim has had its grace to log in: a newcomer (perhaps the operator, its
// password on the way) keeps its slot for that long, however many
// connections follow. Among those, it is the oldest of the address holding
// the most of them, so that a few addresses that churn connections as fast
// as they can take their own slots first.
Listener::Room Listener::MakeRoom() {
  const auto ripe = Clock::now() - options_.login_grace;
  std::map<asio::ip::address, std::size_t> waiting;
  std::size_t most = 0;
  bool any = false;
  for (const auto& [id, open] : sessions_) {
    if (!open.logged_in) {
      any = true;
      if (open.since <= ripe) {
        most = std::max(most, ++waiting[open.address]);
      }
    }
  }
  // Ids grow with every accept: the first match is the oldest.
  const auto victim = std::find_if(sessions_.begin(), sessions_.end(), [&](const auto& entry) {
    return !entry.second.logged_in && entry.second.since <= ripe &&
           waiting.at(entry.second.address) == most;
  });
  if (victim == sessions_.end()) {
    return any ? Room::kLater : Room::kNever;
  }
  auto session = victim->second.session.lock();
  sessions_.erase(victim);
  if (session) {
    session->Evict(
        fmt::format("not logged in; closed to give its slot to a new connection ({} open, the "
                    "most allowed; it had {} to log in)",
                    options_.max_connections, Seconds(options_.login_grace)));
  }
  return Room::kMade;
}

void Listener::SetLoggedIn(std::uint64_t session, bool logged_in) {
  if (auto it = sessions_.find(session); it != sessions_.end()) {
    it->second.logged_in = logged_in;
  }
}

bool Listener::WriteLoginLine(const asio::ip::address& address) {
  if (lines_.Admit(address, ConnectionLines::Kind::kWrongPassword, Clock::now())) {
    return true;
  }
  ArmSummary();
  return false;
}

bool Listener::IsBlocked(const asio::ip::address& address) const {
  auto it = strikes_.find(address);
  return it != strikes_.end() && it->second.blocked_until > Clock::now();
}

int Listener::RecordAttempt(const asio::ip::address& address, bool right) {
  if (right) {
    strikes_.erase(address);
    return 0;
  }
  if (strikes_.size() >= kMaxTrackedAddresses) {
    const auto now = Clock::now();
    std::erase_if(strikes_, [&](const auto& entry) { return entry.second.blocked_until <= now; });
  }
  Strikes& s = strikes_[address];
  const int wrong = ++s.wrong;
  if (wrong >= options_.max_auth_failures) {
    s.wrong = 0;
    s.blocked_until = Clock::now() + options_.block_duration;
  }
  return wrong;
}

}  // namespace devhost::rcon

// The RCON port's listener: it accepts connections, refuses blocked
// addresses and connections beyond the caps, gives the slot of a connection
// that has not logged in to a newcomer when every slot is taken, keeps the
// wrong-password count of each address, and runs the network thread that
// every session lives on.
// Everything but the constructor, Start() and Stop() runs on that thread.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "rcon_server/connection_lines.h"
#include "rcon_server/handoff.h"
#include "rcon_server/options.h"
#include "rcon_server/ports.h"

namespace spdlog {
class logger;
}

namespace devhost::rcon {

class Session;

// A duration as the host log shows it: "0.4 s", "30 s".
std::string Seconds(std::chrono::milliseconds d);

class Listener {
 public:
  // Binds and listens. Throws std::system_error if the address is not an
  // address or cannot be bound, std::invalid_argument for an empty password
  // or one that no packet can carry, a per-address cap of 0 or an
  // authentication deadline that is not positive.
  // REQUIRES: what `ports` refers to outlives the listener.
  Listener(Ports ports, RconOptions options);
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener() { Stop(); }

  // Starts accepting on the network thread.
  void Start();
  // Closes the listener and every session and joins the network thread.
  // Replies still on their way from the game thread are dropped. Idempotent.
  void Stop();
  std::uint16_t port() const { return port_; }

  const RconOptions& options() const { return options_; }
  CommandHandoff& handoff() { return handoff_; }
  spdlog::logger& log();

  // Records an authentication attempt from `address`; returns the wrong
  // passwords in a row so far, counting this one (0 after a right one). The
  // address is blocked when the count reaches the limit.
  int RecordAttempt(const asio::ip::address& address, bool right);
  bool IsBlocked(const asio::ip::address& address) const;
  // Whether the line about a wrong password (or a login from a blocked
  // address) from `address` is written now; if not, it is counted for the
  // summary, like connection lines.
  bool WriteLoginLine(const asio::ip::address& address);
  // A session that closed leaves the count of open connections; its slot
  // goes to the longest waiting newcomer, if any.
  void Forget(std::uint64_t session);
  // A session that logged in (or out again, with a wrong password) says so:
  // only one that has not can lose its slot to a newcomer.
  void SetLoggedIn(std::uint64_t session, bool logged_in);

 private:
  using Clock = std::chrono::steady_clock;
  struct Strikes {
    int wrong = 0;
    Clock::time_point blocked_until{};
  };

  void Accept();
  void OnAccept(asio::ip::tcp::socket socket);
  void Refuse(asio::ip::tcp::socket& socket, const std::string& peer,
              const asio::ip::address& address, const std::string& why);
  enum class Room { kMade, kLater, kNever };
  // Closes the connection that gives its slot to a newcomer: one that has not
  // logged in within the login grace. kLater when every such connection is
  // still within it, kNever when every open connection has logged in.
  Room MakeRoom();
  // Starts a session on `socket`, in a free slot.
  void Admit(asio::ip::tcp::socket socket, const std::string& peer,
             const asio::ip::address& address);
  // Gives free or freed slots to the newcomers waiting, oldest first.
  void Promote();
  // Arms the timer that calls Promote when the first connection that has
  // not logged in comes to the end of its grace.
  void ArmGrace();
  // Arms the timer that writes the summaries of counted lines, if one is due.
  void ArmSummary();
  void WriteSummaries();

  spdlog::logger& log_;
  RconOptions options_;
  asio::io_context io_;  // first: the sockets and timers below need it until they go
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::uint16_t port_ = 0;
  CommandHandoff handoff_;
  struct Open {
    std::weak_ptr<Session> session;
    asio::ip::address address;
    Clock::time_point since;  // accepted
    bool logged_in = false;
  };
  std::map<std::uint64_t, Open> sessions_;
  // Newcomers that found every slot held by a connection still within its
  // login grace: at most one per address and max_connections in all.
  struct Waiting {
    asio::ip::tcp::socket socket;
    std::string peer;
    asio::ip::address address;
  };
  std::deque<Waiting> waiting_;
  std::uint64_t next_session_ = 1;
  std::map<asio::ip::address, Strikes> strikes_;
  ConnectionLines lines_;
  asio::steady_timer summary_;
  bool summary_armed_ = false;
  asio::steady_timer grace_;
  bool grace_armed_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace devhost::rcon

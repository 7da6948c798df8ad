// Which connect, close, refusal and wrong-password lines of the RCON port
// reach the host log one by one, and the count of the rest. Without it a flood of connections
// pushes everything else, the start-up first, out of the rotated host log.
// Network thread only.
#pragma once

#include <asio/ip/address.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace devhost::rcon {

class ConnectionLines {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Kind { kConnection, kRefusal, kWrongPassword };

  // Each address gets `per_address` lines of each kind one by one in a
  // `period`, and all addresses together a few hundred; the rest is counted.
  ConnectionLines(std::size_t per_address, Clock::duration period);

  // A connection accepted (its connect and close lines), refused, or given
  // a wrong password (its line and the close line after it) from `address`
  // at `now`: true if its lines are written, false if it is only counted.
  bool Admit(const asio::ip::address& address, Kind kind, Clock::time_point now);

  // When the period that counted something ends; empty while nothing is
  // counted.
  std::optional<Clock::time_point> SummaryDue() const;

  // Ends the period: up to two lines per address with a count, e.g. "... and
  // 120 more connections from 10.0.0.7 in the last 60 s (3 of them refused)"
  // and "... and 40 more wrong passwords from 10.0.0.7 in the last 60 s";
  // empty if nothing was counted.
  std::vector<std::string> Summaries(Clock::time_point now);

 private:
  struct Counts {
    std::size_t written[3] = {0, 0, 0};  // lines of each Kind written this period
    std::uint64_t counted = 0;           // connections not written, refusals included
    std::uint64_t refused = 0;
    std::uint64_t wrong = 0;  // wrong passwords not written
  };

  std::size_t per_address_;
  Clock::duration period_;
  std::optional<Clock::time_point> start_;  // of the current period
  std::map<asio::ip::address, Counts> addresses_;
  Counts others_;  // addresses beyond the table's size
  std::size_t written_ = 0;
  std::uint64_t counted_ = 0;
};

}  // namespace devhost::rcon

// A Source RCON client connection over the codec: connect and log in, then
// one command at a time, each bounded by a timeout. Coroutines on the
// caller's executor; the object and its calls belong to that executor's one
// thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

namespace rcon_wire {

// The server refused the password: retrying cannot succeed.
class AuthRejected : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Client {
 public:
  explicit Client(const asio::any_io_executor& executor);
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client();

  // Connects to the first of `endpoints` that accepts and logs in, all
  // within `timeout`. Names are looked up by the caller: a lookup cannot be
  // cancelled (getaddrinfo), so it is kept out of a call that must end on
  // time. Throws AuthRejected for a refused password and std::runtime_error
  // with the reason for anything else; the connection is then closed.
  asio::awaitable<void> Open(std::vector<asio::ip::tcp::endpoint> endpoints, std::string password,
                             std::chrono::milliseconds timeout);

  // Sends `command` and returns the body of its reply, within `timeout`: the
  // first packet that answers it, so a reply longer than kMaxReplyBody comes
  // cut short (the rest is skipped by the next Exec). Throws
  // std::runtime_error with the reason; the connection is then closed.
  // REQUIRES: is_open(), and no other Open or Exec in flight.
  asio::awaitable<std::string> Exec(std::string command, std::chrono::milliseconds timeout);

  // Closes the connection; a call in flight ends with an error. Idempotent.
  void Close();
  bool is_open() const { return socket_.is_open(); }
  // Whether the last Open or Exec failed by running out of time (the
  // command may have reached the server then).
  bool timed_out() const { return timed_out_; }

 private:
  struct Reader;
  void Arm(std::chrono::milliseconds timeout);
  void Disarm();
  [[noreturn]] void Rethrow(const std::exception& e, std::string_view step);

  asio::ip::tcp::socket socket_;
  asio::steady_timer deadline_;
  std::unique_ptr<Reader> reader_;
  std::int32_t next_id_ = 1;
  bool timed_out_ = false;
  std::chrono::milliseconds timeout_{0};
};

}  // namespace rcon_wire

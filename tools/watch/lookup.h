// Finding a server's addresses. An address is used as it is; a host name is
// looked up on a thread of its own, which the watcher never waits for longer
// than its timeout: getaddrinfo cannot be cancelled, and a resolver that
// never answers must hold up neither another server nor a stop. A Lookup
// belongs to the watcher's one thread; only the blocking call runs apart.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

namespace watch {

using Endpoints = std::vector<asio::ip::tcp::endpoint>;

// A blocking name lookup; throws std::exception with the reason. Runs on a
// thread of its own: it must not touch the watcher's state.
using LookupFunction = std::function<Endpoints(const std::string& host, std::uint16_t port)>;

// The system's resolver (getaddrinfo), TCP addresses of any family.
Endpoints SystemLookup(const std::string& host, std::uint16_t port);

// The lookups of one server: at most one runs at a time, so a resolver that
// never answers costs each such server one thread, left behind at exit.
class Lookup {
 public:
  Lookup(const asio::any_io_executor& executor, LookupFunction lookup);
  Lookup(const Lookup&) = delete;
  Lookup& operator=(const Lookup&) = delete;
  ~Lookup();

  // The endpoints of host:port. An IPv4 or IPv6 address is never looked up.
  // A name waits at most `timeout` for the lookup in flight (an answer that
  // comes later serves the next call), or for a new one. Throws
  // std::runtime_error with the reason, also when Cancel() ends the wait.
  asio::awaitable<Endpoints> Resolve(const std::string& host, std::uint16_t port,
                                     std::chrono::milliseconds timeout);

  // Ends a Resolve that waits; the lookup's thread runs on, unheard.
  void Cancel();

 private:
  struct Pending;
  LookupFunction lookup_;
  asio::steady_timer wait_;
  std::shared_ptr<Pending> pending_;
  bool cancelled_ = false;
};

}  // namespace watch

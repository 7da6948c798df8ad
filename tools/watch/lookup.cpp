#include "watch/lookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

namespace watch {

namespace {

// How often a waiting Resolve looks for the answer. Polling keeps the lookup
// thread away from the watcher's executor, which may be gone by the time a
// stuck lookup returns.
constexpr std::chrono::milliseconds kPollEvery{20};

}  // namespace

// Written by the lookup thread, read by the watcher's; the thread keeps it
// alive for as long as it runs.
struct Lookup::Pending {
  std::mutex mutex;
  bool done = false;
  Endpoints endpoints;
  std::string error;
};

Endpoints SystemLookup(const std::string& host, std::uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    throw std::runtime_error(gai_strerror(rc));
  }
  Endpoints out;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    asio::ip::tcp::endpoint e;
    if (a->ai_addrlen <= e.capacity()) {
      std::memcpy(e.data(), a->ai_addr, a->ai_addrlen);
      e.resize(a->ai_addrlen);
      out.push_back(e);
    }
  }
  freeaddrinfo(found);
  return out;
}

Lookup::Lookup(const asio::any_io_executor& executor, LookupFunction lookup)
    : lookup_(std::move(lookup)), wait_(executor) {}

Lookup::~Lookup() = default;

asio::awaitable<Endpoints> Lookup::Resolve(const std::string& host, std::uint16_t port,
                                           std::chrono::milliseconds timeout) {
  std::error_code ec;
  const asio::ip::address address = asio::ip::make_address(host, ec);
  if (!ec) {
    co_return Endpoints{{address, port}};
  }
  if (!pending_) {
    pending_ = std::make_shared<Pending>();
    std::thread([pending = pending_, lookup = lookup_, host, port] {
      Endpoints endpoints;
      std::string error;
      try {
        endpoints = lookup(host, port);
        if (endpoints.empty()) {
          error = "no address";
        }
      } catch (const std::exception& e) {
        error = e.what();
      } catch (...) {
        error = "unknown error";
      }
      const std::lock_guard lock(pending->mutex);
      pending->endpoints = std::move(endpoints);
      pending->error = std::move(error);
      pending->done = true;
    }).detach();
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::optional<std::string> error;
    Endpoints endpoints;
    {
      const std::lock_guard lock(pending_->mutex);
      if (pending_->done) {
        error = pending_->error;
        endpoints = std::move(pending_->endpoints);
      }
    }
    if (error) {
      pending_.reset();
      if (!error->empty()) {
        throw std::runtime_error(fmt::format("name lookup of {}: {}", host, *error));
      }
      co_return endpoints;
    }
    const auto left = deadline - std::chrono::steady_clock::now();
    if (cancelled_ || left <= std::chrono::steady_clock::duration::zero()) {
      throw std::runtime_error(
          fmt::format("name lookup of {}: no answer within {} ms", host, timeout.count()));
    }
    wait_.expires_after(std::min<std::chrono::steady_clock::duration>(left, kPollEvery));
    co_await wait_.async_wait(asio::redirect_error(asio::use_awaitable, ec));
  }
}

void Lookup::Cancel() {
  cancelled_ = true;
  wait_.cancel();
}

}  // namespace watch

// Sequential RCON round trips against a running dev server: logs in, then
// sends the statistics command COUNT times, each after the previous reply arrived,
// and prints the median and the 99th percentile of the round-trip times.
// Usage: rcon_roundtrip PORT PASSWORD [COUNT]   (127.0.0.1 only)
// Output: one line, "count=N p50_ms=X p99_ms=Y".
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/use_future.hpp>

#include "formats/replies.h"
#include "rcon_wire/client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kTimeout{10};

double Percentile(std::vector<double> sorted, double p) {
  const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

// The server may still be starting: retry the connection for a while.
asio::awaitable<void> Open(rcon_wire::Client& client, std::uint16_t port,
                           const std::string& password) {
  const auto give_up = Clock::now() + std::chrono::seconds(20);
  asio::steady_timer pause(co_await asio::this_coro::executor);
  for (;;) {
    try {
      co_await client.Open(
          std::vector<asio::ip::tcp::endpoint>(1, {asio::ip::address_v4::loopback(), port}),
          password, kTimeout);
      co_return;
    } catch (const rcon_wire::AuthRejected&) {
      throw;
    } catch (const std::runtime_error&) {
      if (Clock::now() > give_up) {
        throw;
      }
    }
    pause.expires_after(std::chrono::milliseconds(100));
    co_await pause.async_wait(asio::use_awaitable);
  }
}

asio::awaitable<std::vector<double>> RoundTrips(std::uint16_t port, std::string password,
                                                long count) {
  rcon_wire::Client client(co_await asio::this_coro::executor);
  co_await Open(client, port, password);
  std::vector<double> ms;
  ms.reserve(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    const auto start = Clock::now();
    const std::string reply = co_await client.Exec(formats::kStatsCommand, kTimeout);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!formats::ReadObjectCount(reply)) {
      throw std::runtime_error("unexpected reply: " + reply);
    }
  }
  client.Close();
  co_return ms;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: rcon_roundtrip PORT PASSWORD [COUNT]\n");
    return 2;
  }
  const long port = std::strtol(argv[1], nullptr, 10);
  const long count = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 2000;
  if (port <= 0 || port > 65535 || count <= 0) {
    std::fprintf(stderr, "rcon_roundtrip: bad port or count\n");
    return 2;
  }
  try {
    asio::io_context io;
    auto result = asio::co_spawn(io, RoundTrips(static_cast<std::uint16_t>(port), argv[2], count),
                                 asio::use_future);
    io.run();
    auto ms = result.get();
    std::sort(ms.begin(), ms.end());
    std::printf("count=%ld p50_ms=%.3f p99_ms=%.3f\n", count, Percentile(ms, 0.50),
                Percentile(ms, 0.99));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rcon_roundtrip: %s\n", e.what());
    return 1;
  }
}

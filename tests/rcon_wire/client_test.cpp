// Tests of the RCON client against a scripted server on loopback:
// the login's variants, malformed and split packets, a silent server.
#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "rcon_wire/client.h"

namespace {

using asio::ip::tcp;
using rcon_wire::AuthRejected;
using rcon_wire::Client;

std::string Int(std::int32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF));
  }
  return out;
}

std::string Packet(std::int32_t id, std::int32_t type, const std::string& body) {
  return Int(static_cast<std::int32_t>(body.size()) + 10) + Int(id) + Int(type) + body +
         std::string(2, '\0');
}

// Reads one request; returns its id.
std::int32_t ReadRequest(tcp::socket& s) {
  std::string head(12, '\0');
  asio::read(s, asio::buffer(head));
  std::int32_t size = 0, id = 0;
  std::memcpy(&size, head.data(), 4);
  std::memcpy(&id, head.data() + 4, 4);
  std::string rest(static_cast<std::size_t>(size) - 8, '\0');
  asio::read(s, asio::buffer(rest));
  return id;
}

struct Case {
  const char* name;
  // What the server writes after the login request, given that request's
  // id; nullptr: nothing at all.
  std::string (*login_reply)(std::int32_t id);
  const char* open_error;  // nullptr: the login succeeds
  bool rejected = false;
};

const Case kCases[] = {
    {"accepted", [](std::int32_t id) { return Packet(id, 2, ""); }, nullptr},
    {"empty value first", [](std::int32_t id) { return Packet(id, 0, "") + Packet(id, 2, ""); },
     nullptr},
    {"accepted byte by byte", [](std::int32_t id) { return Packet(id, 2, ""); }, nullptr},
    {"refused", [](std::int32_t) { return Packet(-1, 2, ""); }, "password refused", true},
    {"size below minimum", [](std::int32_t) { return Int(5) + std::string(5, 'x'); },
     "login: malformed packet from the server: declared packet size 5 is outside 10..1048576"},
    {"closed", [](std::int32_t) { return std::string(); },
     "login: connection closed by the server"},
    {"silent", nullptr, "login: no answer within 300 ms"},
};

TEST(RconClientTest, LoginOutcomesAndOneCommand) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const auto port = acceptor.local_endpoint().port();
    std::thread server([&] {
      tcp::socket s = acceptor.accept();
      const std::int32_t login = ReadRequest(s);
      if (c.login_reply == nullptr) {
        std::string sink(1, '\0');
        std::error_code ec;
        asio::read(s, asio::buffer(sink), ec);  // until the client gives up
        return;
      }
      const std::string reply = c.login_reply(login);
      if (std::string(c.name) == "accepted byte by byte") {
        for (char b : reply) {
          asio::write(s, asio::buffer(&b, 1));
        }
      } else {
        asio::write(s, asio::buffer(reply));
      }
      if (c.open_error != nullptr) {
        return;  // closes the connection
      }
      const std::int32_t id = ReadRequest(s);
      // A leftover with another id comes first and must be skipped.
      asio::write(s, asio::buffer(Packet(id + 100, 0, "stale") +
                                  Packet(id, 0, R"({"data":{"uobjects":7},"status":"success"})")));
      std::string sink(1, '\0');
      std::error_code ec;
      asio::read(s, asio::buffer(sink), ec);
    });

    Client client(io.get_executor());
    std::string body, error;
    bool rejected = false;
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
          // Short only where the wait is the point: elsewhere a loaded
          // machine must not turn a login into a timeout.
          const auto patience = c.login_reply == nullptr ? std::chrono::milliseconds(300)
                                                         : std::chrono::milliseconds(20000);
          co_await client.Open(
              std::vector<asio::ip::tcp::endpoint>(1, {asio::ip::address_v4::loopback(), port}),
              "pw", patience);
          body = co_await client.Exec("GetServerStats", std::chrono::milliseconds(20000));
          client.Close();
        },
        [&](std::exception_ptr e) {
          try {
            if (e) {
              std::rethrow_exception(e);
            }
          } catch (const AuthRejected& r) {
            rejected = true;
            error = r.what();
          } catch (const std::exception& x) {
            error = x.what();
          }
          client.Close();
        });
    io.run();
    server.join();
    if (c.open_error == nullptr) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(body, R"({"data":{"uobjects":7},"status":"success"})");
    } else {
      EXPECT_EQ(error, c.open_error);
      EXPECT_EQ(rejected, c.rejected);
      EXPECT_FALSE(client.is_open());
    }
  }
}

}  // namespace

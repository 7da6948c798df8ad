#include "rcon_wire/client.h"

#include <string_view>
#include <system_error>

#include <fmt/format.h>
#include <asio/connect.hpp>
#include <asio/error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "rcon_wire/codec.h"

namespace rcon_wire {

namespace {

// A client has no reason to refuse a long reply; the bound only keeps a
// babbling peer from filling memory.
constexpr std::int32_t kMaxPacketSize = 1 << 20;
constexpr std::int32_t kAuthId = 0x51;

}  // namespace

struct Client::Reader {
  Decoder decoder{kMaxPacketSize};
  std::array<char, 4096> buf{};

  asio::awaitable<Packet> Next(asio::ip::tcp::socket& socket) {
    for (;;) {
      Packet p;
      switch (decoder.Next(p)) {
        case Decoder::Result::kPacket:
          co_return p;
        case Decoder::Result::kError:
          throw std::runtime_error("malformed packet from the server: " + decoder.error());
        case Decoder::Result::kNeedMore:
          break;
      }
      const std::size_t n = co_await socket.async_read_some(asio::buffer(buf), asio::use_awaitable);
      decoder.Feed(buf.data(), n);
    }
  }
};

Client::Client(const asio::any_io_executor& executor) : socket_(executor), deadline_(executor) {}

Client::~Client() = default;

void Client::Arm(std::chrono::milliseconds timeout) {
  timed_out_ = false;
  timeout_ = timeout;
  deadline_.expires_after(timeout);
  deadline_.async_wait([this](std::error_code ec) {
    if (!ec) {
      timed_out_ = true;
      std::error_code ignored;
      socket_.close(ignored);
    }
  });
}

void Client::Disarm() {
  deadline_.cancel();
}

void Client::Rethrow(const std::exception& e, std::string_view step) {
  Close();
  if (timed_out_) {
    throw std::runtime_error(fmt::format("{}: no answer within {} ms", step, timeout_.count()));
  }
  if (const auto* se = dynamic_cast<const std::system_error*>(&e)) {
    if (se->code() == asio::error::eof) {
      throw std::runtime_error(fmt::format("{}: connection closed by the server", step));
    }
    throw std::runtime_error(fmt::format("{}: {}", step, se->code().message()));
  }
  throw std::runtime_error(fmt::format("{}: {}", step, e.what()));
}

asio::awaitable<void> Client::Open(std::vector<asio::ip::tcp::endpoint> endpoints,
                                   std::string password, std::chrono::milliseconds timeout) {
  Close();
  reader_ = std::make_unique<Reader>();
  Arm(timeout);
  std::string_view step = "connect";
  try {
    co_await asio::async_connect(socket_, endpoints, asio::use_awaitable);
    step = "login";
    const std::string auth = Encode(kAuthId, kAuth, password);
    co_await asio::async_write(socket_, asio::buffer(auth), asio::use_awaitable);
    for (;;) {
      const Packet p = co_await reader_->Next(socket_);
      // Some servers send an empty RESPONSE_VALUE before the verdict.
      if (p.type == kResponseValue) {
        continue;
      }
      if (p.type != kAuthResponse) {
        throw std::runtime_error(fmt::format("unexpected packet type {}", p.type));
      }
      if (p.id == -1) {
        Disarm();
        Close();
        throw AuthRejected("password refused");
      }
      if (p.id != kAuthId) {
        throw std::runtime_error(fmt::format("login answered with id {}", p.id));
      }
      break;
    }
  } catch (const AuthRejected&) {
    throw;
  } catch (const std::exception& e) {
    Disarm();
    Rethrow(e, step);
  }
  Disarm();
}

asio::awaitable<std::string> Client::Exec(std::string command, std::chrono::milliseconds timeout) {
  const std::int32_t id = next_id_;
  next_id_ = next_id_ == 0x7FFFFFFF ? 1 : next_id_ + 1;
  Arm(timeout);
  std::string body;
  try {
    const std::string packet = Encode(id, kExecCommand, command);
    co_await asio::async_write(socket_, asio::buffer(packet), asio::use_awaitable);
    // The plugin's replies are short, so one packet is the whole reply;
    // packets with other ids are leftovers and skipped.
    for (;;) {
      Packet p = co_await reader_->Next(socket_);
      if (p.id == id && p.type == kResponseValue) {
        body = std::move(p.body);
        break;
      }
    }
  } catch (const std::exception& e) {
    Disarm();
    Rethrow(e, command);
  }
  Disarm();
  co_return body;
}

void Client::Close() {
  std::error_code ignored;
  socket_.close(ignored);
}

}  // namespace rcon_wire

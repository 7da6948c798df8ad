#include "devhost/rcon_server.h"

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <array>
#include <asio.hpp>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "devhost/host.h"
#include "devhost/rcon_dispatch.h"
#include "host/framework.h"

namespace devhost {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using Level = spdlog::level::level_enum;
using Reply = RCONClientConnection::Reply;

constexpr std::int32_t kMinPacketSize = 10;  // id, type and the body's two NULs
constexpr std::int32_t kMaxPacketSize = 4096;
constexpr std::int32_t kResponseValue = 0;
constexpr std::int32_t kExecCommand = 2;
constexpr std::int32_t kAuthResponse = 2;
constexpr std::int32_t kAuth = 3;
// A reply longer than this goes out as several packets with the same id.
// Clients look for more only after a first packet of at least this size, so
// the cut is exact even when it splits a UTF-8 sequence; they join the bytes
// before decoding.
constexpr std::size_t kReplyChunk = 4096;
// An accept that fails (out of descriptors, say) fails again at once: wait a
// little instead of spinning and flooding the log.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// Addresses with wrong passwords on record; beyond this, the ones not
// blocked right now are forgotten, so a scan cannot grow the table forever.
constexpr std::size_t kMaxTrackedAddresses = 4096;

std::int32_t ReadInt32(const unsigned char* p) {
  const std::uint32_t v =
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return static_cast<std::int32_t>(v);
}

void AppendInt32(std::string& out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
  }
}

std::string EncodePacket(std::int32_t id, std::int32_t type, std::string_view body) {
  std::string out;
  out.reserve(body.size() + 14);
  AppendInt32(out, static_cast<std::int32_t>(body.size()) + kMinPacketSize);
  AppendInt32(out, id);
  AppendInt32(out, type);
  out.append(body);
  out.append(2, '\0');
  return out;
}

// Takes as long whatever the first differing byte, so that the time of an
// answer says nothing about how much of a guess was right.
bool SamePassword(std::string_view given, std::string_view expected) {
  unsigned diff = given.size() == expected.size() ? 0u : 1u;
  for (std::size_t i = 0; i < given.size(); ++i) {
    diff |= static_cast<unsigned char>(given[i]) ^
            static_cast<unsigned char>(expected[i % expected.size()]);
  }
  return diff == 0;
}

std::string Seconds(std::chrono::milliseconds d) {
  return fmt::format("{:g} s", static_cast<double>(d.count()) / 1000.0);
}

// Lets work that outlives the server (a command still queued on the game
// thread) find out that there is nobody left to send its replies to.
struct Gate {
  std::mutex mutex;
  asio::io_context* io = nullptr;
};

class Session;

// Everything but the constructor, Start() and Stop() runs on the network
// thread.
class Listener {
 public:
  Listener(Host& host, RconOptions options);
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener() { Stop(); }

  void Start();
  void Stop();
  std::uint16_t port() const { return port_; }

  Host& host() { return host_; }
  const RconOptions& options() const { return options_; }
  const std::shared_ptr<Gate>& gate() const { return gate_; }
  spdlog::logger& log() { return host_.log().Host(); }

  // Records an authentication attempt from `address`; returns the wrong
  // passwords in a row so far, counting this one (0 after a right one). The
  // address is blocked when the count reaches the limit.
  int RecordAttempt(const asio::ip::address& address, bool right);
  bool IsBlocked(const asio::ip::address& address) const {
    auto it = strikes_.find(address);
    return it != strikes_.end() && it->second.blocked_until > Clock::now();
  }
  void Forget(std::uint64_t session) { sessions_.erase(session); }

 private:
  void Accept();
  void OnAccept(tcp::socket socket);

  Host& host_;
  RconOptions options_;
  asio::io_context io_;  // first: the sockets and timers below need it until they go
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::uint16_t port_ = 0;
  std::shared_ptr<Gate> gate_;
  std::map<std::uint64_t, std::weak_ptr<Session>> sessions_;
  std::uint64_t next_session_ = 1;
  struct Strikes {
    int wrong = 0;
    Clock::time_point blocked_until{};
  };
  std::map<asio::ip::address, Strikes> strikes_;
  bool stopping_ = false;
  std::thread thread_;
};

// One client connection. It reads one packet, answers it, and reads the next
// only when every reply has been written: a client that stops reading stops
// being read, and nothing piles up in memory on its behalf.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Listener& listener, tcp::socket socket, std::uint64_t id, std::string peer,
          asio::ip::address address)
      : listener_(listener),
        socket_(std::move(socket)),
        idle_(socket_.get_executor()),
        id_(id),
        peer_(std::move(peer)),
        address_(std::move(address)) {}

  void Start() {
    asio::error_code ignored;
    socket_.set_option(tcp::no_delay(true), ignored);
    ArmIdleTimer();
    Continue();
  }

  // Ends the connection; a non-empty `reason` goes to the host log.
  void Close(Level level, const std::string& reason) {
    if (closed_) {
      return;
    }
    closed_ = true;
    if (!reason.empty()) {
      listener_.log().log(level, "RCON {}: {}", peer_, reason);
    }
    asio::error_code ignored;
    idle_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    listener_.Forget(id_);
  }

  // The replies to the command in flight, back from the game thread.
  void OnReplies(std::vector<Reply> replies) {
    if (closed_) {
      return;
    }
    in_flight_ = false;
    for (const auto& reply : replies) {
      const std::string body = Utf8Encode(reply.body);
      if (body.empty()) {
        out_.push_back(EncodePacket(reply.id, reply.type, body));
      }
      for (std::size_t at = 0; at < body.size(); at += kReplyChunk) {
        out_.push_back(
            EncodePacket(reply.id, reply.type, std::string_view(body).substr(at, kReplyChunk)));
      }
    }
    ArmIdleTimer();
    Continue();
  }

 private:
  // Writes what is queued, else closes if that was asked for, else reads the
  // next packet. Does nothing while a read, a write or a command is pending.
  void Continue() {
    if (closed_ || reading_ || writing_ || in_flight_) {
      return;
    }
    if (!out_.empty()) {
      WriteNext();
    } else if (close_after_writes_) {
      auto [level, reason] = *close_after_writes_;
      Close(level, reason);
    } else {
      ReadHeader();
    }
  }

  void ReadHeader() {
    reading_ = true;
    asio::async_read(socket_, asio::buffer(header_),
                     [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                       self->OnHeader(ec);
                     });
  }

  void OnHeader(const asio::error_code& ec) {
    if (closed_) {
      return;
    }
    if (ec) {
      CloseOnReadError(ec, false);
      return;
    }
    const std::int32_t size = ReadInt32(header_.data());
    if (size < kMinPacketSize || size > kMaxPacketSize) {
      Close(Level::warn, fmt::format("declared packet size {} is outside {}..{}; closing", size,
                                     kMinPacketSize, kMaxPacketSize));
      return;
    }
    payload_.resize(static_cast<std::size_t>(size));
    asio::async_read(socket_, asio::buffer(payload_),
                     [self = shared_from_this()](const asio::error_code& e, std::size_t) {
                       self->OnPayload(e);
                     });
  }

  void OnPayload(const asio::error_code& ec) {
    if (closed_) {
      return;
    }
    if (ec) {
      CloseOnReadError(ec, true);
      return;
    }
    reading_ = false;
    const std::size_t size = payload_.size();
    const std::int32_t id = ReadInt32(payload_.data());
    const std::int32_t type = ReadInt32(payload_.data() + 4);
    if (payload_[size - 2] != 0 || payload_[size - 1] != 0) {
      Close(Level::warn, fmt::format("packet {} (type {}) lacks the two NULs that end its body; "
                                     "closing",
                                     id, type));
      return;
    }
    std::string body(reinterpret_cast<const char*>(payload_.data()) + 8, size - 10);
    body.resize(std::string_view(body).find('\0') == std::string_view::npos
                    ? body.size()
                    : std::string_view(body).find('\0'));
    ArmIdleTimer();

    if (type == kAuth) {
      Authenticate(id, body);
    } else if (!authenticated_ && (type == kExecCommand || type == kResponseValue)) {
      // -1 in an AUTH_RESPONSE is how the protocol says "not logged in".
      out_.push_back(EncodePacket(-1, kAuthResponse, ""));
      close_after_writes_.emplace(Level::warn, "command before authentication; closing");
    } else if (type == kExecCommand) {
      Execute(id, static_cast<std::int32_t>(size), std::move(body));
    } else if (type == kResponseValue) {
      // Some clients send an empty RESPONSE_VALUE after a command and wait
      // for it to come back, to see where a long reply ends.
      out_.push_back(EncodePacket(id, kResponseValue, ""));
    } else {
      Close(Level::warn, fmt::format("packet {} has unknown type {}; closing", id, type));
      return;
    }
    Continue();
  }

  void CloseOnReadError(const asio::error_code& ec, bool mid_packet) {
    if (ec == asio::error::operation_aborted) {
      return;
    }
    const char* where = mid_packet ? " in the middle of a packet" : "";
    if (ec == asio::error::eof || ec == asio::error::connection_reset) {
      Close(mid_packet ? Level::warn : Level::info, fmt::format("disconnected{}", where));
    } else {
      Close(Level::warn, fmt::format("read failed{}: {}; closing", where, ec.message()));
    }
  }

  void Authenticate(std::int32_t id, std::string_view password) {
    // Connections opened before the block must not go on guessing.
    if (listener_.IsBlocked(address_)) {
      out_.push_back(EncodePacket(-1, kAuthResponse, ""));
      close_after_writes_.emplace(Level::warn, "login attempt from a blocked address; closing");
      return;
    }
    const bool right = SamePassword(password, listener_.options().password);
    const int wrong = listener_.RecordAttempt(address_, right);
    authenticated_ = right;
    if (right) {
      listener_.log().info("RCON {}: authenticated", peer_);
      out_.push_back(EncodePacket(id, kAuthResponse, ""));
      return;
    }
    out_.push_back(EncodePacket(-1, kAuthResponse, ""));
    const int limit = listener_.options().max_auth_failures;
    if (wrong >= limit) {
      close_after_writes_.emplace(
          Level::warn,
          fmt::format("wrong password ({} in a row); closing and refusing {} for {}", wrong,
                      address_.to_string(), Seconds(listener_.options().block_duration)));
    } else {
      listener_.log().warn("RCON {}: wrong password ({} of {})", peer_, wrong, limit);
    }
  }

  void Execute(std::int32_t id, std::int32_t size, std::string body) {
    in_flight_ = true;
    Host& host = listener_.host();
    host.Post([&host, gate = listener_.gate(), weak = weak_from_this(),
               request = RconRequest{id, size, std::move(body), peer_}] {
      std::vector<Reply> replies = RunGuarded(host, request);
      std::lock_guard lock(gate->mutex);
      if (gate->io != nullptr) {
        asio::post(*gate->io, [weak, replies = std::move(replies)]() mutable {
          if (auto session = weak.lock()) {
            session->OnReplies(std::move(replies));
          }
        });
      }
    });
  }

  // Runs on the game thread. A failure here must still answer, or the
  // connection would wait for its command until the idle timeout.
  static std::vector<Reply> RunGuarded(Host& host, const RconRequest& request) {
    std::string what;
    try {
      return RunRconRequest(host, request);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
      what = "unknown exception";
    }
    host.log().Host().error("RCON {}: the command failed: {}", request.peer, what);
    return {Reply{request.id, kResponseValue,
                  AsaApi::Tools::Utf8Decode("The command failed: " + what)}};
  }

  void WriteNext() {
    writing_ = true;
    asio::async_write(socket_, asio::buffer(out_.front()),
                      [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                        self->OnWritten(ec);
                      });
  }

  void OnWritten(const asio::error_code& ec) {
    if (closed_) {
      return;
    }
    writing_ = false;
    if (ec) {
      if (ec != asio::error::operation_aborted) {
        Close(Level::warn, fmt::format("write failed with {} packet(s) left to send ({}); the "
                                       "client is gone, closing",
                                       out_.size(), ec.message()));
      }
      return;
    }
    out_.pop_front();
    ArmIdleTimer();
    Continue();
  }

  void ArmIdleTimer() {
    idle_.expires_after(listener_.options().idle_timeout);
    idle_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      // A wait that completed just before the timer was armed again must
      // not close a connection that has been busy since.
      if (ec || self->closed_ || self->idle_.expiry() > Clock::now()) {
        return;
      }
      self->Close(Level::info, fmt::format("idle for {}; closing",
                                           Seconds(self->listener_.options().idle_timeout)));
    });
  }

  Listener& listener_;
  tcp::socket socket_;
  asio::steady_timer idle_;
  std::uint64_t id_;
  std::string peer_;
  asio::ip::address address_;
  std::array<unsigned char, 4> header_{};
  std::vector<unsigned char> payload_;
  std::deque<std::string> out_;  // encoded packets, each written on its own
  std::optional<std::pair<Level, std::string>> close_after_writes_;
  bool authenticated_ = false;
  bool reading_ = false;
  bool writing_ = false;
  bool in_flight_ = false;  // a command is on the game thread
  bool closed_ = false;
};

Listener::Listener(Host& host, RconOptions options)
    : host_(host),
      options_(std::move(options)),
      work_(asio::make_work_guard(io_)),
      acceptor_(io_),
      retry_(io_),
      gate_(std::make_shared<Gate>()) {
  if (options_.password.empty()) {
    throw std::invalid_argument("RCON password must not be empty");
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

void Listener::Start() {
  gate_->io = &io_;
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
  {
    std::lock_guard lock(gate_->mutex);
    gate_->io = nullptr;
  }
  asio::post(io_, [this] {
    stopping_ = true;
    asio::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
    for (auto& [id, weak] : std::exchange(sessions_, {})) {
      if (auto session = weak.lock()) {
        session->Close(Level::info, "");
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

void Listener::OnAccept(tcp::socket socket) {
  asio::error_code ec;
  const tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec) {
    return;  // gone before we got to it
  }
  const std::string peer = fmt::format("{}:{}", remote.address().to_string(), remote.port());
  auto refuse = [&](const std::string& why) {
    log().warn("RCON: refused {}: {}", peer, why);
    asio::error_code ignored;
    socket.close(ignored);
  };

  if (IsBlocked(remote.address())) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        strikes_.at(remote.address()).blocked_until - Clock::now());
    refuse(fmt::format("address blocked for another {} after {} wrong passwords", Seconds(left),
                       options_.max_auth_failures));
    return;
  }
  std::erase_if(sessions_, [](const auto& entry) { return entry.second.expired(); });
  if (sessions_.size() >= options_.max_connections) {
    refuse(fmt::format("{} connections are open, the most allowed", sessions_.size()));
    return;
  }
  const std::uint64_t id = next_session_++;
  auto session = std::make_shared<Session>(*this, std::move(socket), id, peer, remote.address());
  sessions_.emplace(id, session);
  log().info("RCON {}: connected", peer);
  session->Start();
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

}  // namespace

struct RconServer::Impl {
  Listener listener;
  Impl(Host& host, RconOptions options) : listener(host, std::move(options)) {}
};

RconServer::RconServer(Host& host, RconOptions options)
    : impl_(std::make_unique<Impl>(host, std::move(options))) {
  impl_->listener.Start();
  host.log().Host().info("RCON listening on {}:{}", impl_->listener.options().bind_address,
                         impl_->listener.port());
}

RconServer::~RconServer() {
  Stop();
}

std::uint16_t RconServer::port() const {
  return impl_->listener.port();
}

void RconServer::Stop() {
  impl_->listener.Stop();
}

}  // namespace devhost

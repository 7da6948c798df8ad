#include "rcon_server/session.h"

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <array>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

#include "rcon_server/listener.h"
#include "rcon_wire/codec.h"

namespace devhost::rcon {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using Level = spdlog::level::level_enum;

// Reads take at most this much at once. With the decoder asked for every
// whole packet before the next read, a connection holds at most one packet
// and one read's worth of input.
constexpr std::size_t kReadChunk = 4096;

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

// It reads one packet, answers it, and takes the next only when every reply
// has been written: a client that stops reading stops being read, and
// nothing piles up in memory on its behalf.
class Connection final : public Session, public std::enable_shared_from_this<Connection> {
 public:
  Connection(Listener& listener, tcp::socket socket, std::uint64_t id, std::string peer,
             asio::ip::address address, bool quiet)
      : listener_(listener),
        socket_(std::move(socket)),
        idle_(socket_.get_executor()),
        login_deadline_(socket_.get_executor()),
        id_(id),
        peer_(std::move(peer)),
        address_(std::move(address)),
        quiet_(quiet),
        decoder_(rcon_wire::kMaxRequestSize) {}

  void Start() override {
    asio::error_code ignored;
    socket_.set_option(tcp::no_delay(true), ignored);
    ArmIdleTimer();
    ArmLoginDeadline();
    Continue();
  }

  void Stop() override { Close(Level::info, ""); }
  void Evict(const std::string& reason) override { Close(Level::warn, reason); }

 private:
  // Where the connection stands. Closing: the replies still queued go out,
  // then it closes with the reason kept for it.
  enum class Phase { kLoggedOut, kLoggedIn, kClosing, kClosed };
  // What it waits for; at most one thing at a time.
  enum class Pending { kNothing, kRead, kCommand, kWrite };

  // Ends the connection; a non-empty `reason` goes to the host log, unless
  // the connection is one the listener only counted and its last login
  // attempt was only counted too.
  void Close(Level level, const std::string& reason) {
    if (phase_ == Phase::kClosed) {
      return;
    }
    phase_ = Phase::kClosed;
    if (!reason.empty() && (!quiet_ || login_written_)) {
      listener_.log().log(level, "RCON {}: {}", peer_, reason);
    }
    asio::error_code ignored;
    idle_.cancel();
    login_deadline_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    listener_.Forget(id_);
  }

  // Writes the replies after queueing them, then closes.
  void CloseAfterWrites(Level level, std::string reason) {
    phase_ = Phase::kClosing;
    closing_level_ = level;
    closing_reason_ = std::move(reason);
  }

  // Writes what is queued, else closes if that was asked for, else takes the
  // next packet, reading when none is whole yet. Does nothing while a read,
  // a write or a command is pending.
  void Continue() {
    for (;;) {
      if (phase_ == Phase::kClosed || pending_ != Pending::kNothing) {
        return;
      }
      if (!out_.empty()) {
        WriteNext();
        return;
      }
      if (phase_ == Phase::kClosing) {
        Close(closing_level_, closing_reason_);
        return;
      }
      rcon_wire::Packet packet;
      switch (decoder_.Next(packet)) {
        case rcon_wire::Decoder::Result::kPacket:
          OnPacket(std::move(packet));
          break;
        case rcon_wire::Decoder::Result::kNeedMore:
          ReadMore();
          return;
        case rcon_wire::Decoder::Result::kError:
          Close(Level::warn, decoder_.error() + "; closing");
          return;
      }
    }
  }

  void ReadMore() {
    pending_ = Pending::kRead;
    socket_.async_read_some(asio::buffer(input_),
                            [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                              self->OnRead(ec, n);
                            });
  }

  void OnRead(const asio::error_code& ec, std::size_t n) {
    if (phase_ == Phase::kClosed) {
      return;
    }
    if (ec) {
      CloseOnReadError(ec);
      return;
    }
    pending_ = Pending::kNothing;
    decoder_.Feed(input_.data(), n);
    Continue();
  }

  void CloseOnReadError(const asio::error_code& ec) {
    if (ec == asio::error::operation_aborted) {
      return;
    }
    // Once a whole size field has come, the stream ends inside a packet.
    const bool mid_packet = decoder_.buffered() >= rcon_wire::kSizeFieldBytes;
    const char* where = mid_packet ? " in the middle of a packet" : "";
    if (ec == asio::error::eof || ec == asio::error::connection_reset) {
      Close(mid_packet ? Level::warn : Level::info, fmt::format("disconnected{}", where));
    } else {
      Close(Level::warn, fmt::format("read failed{}: {}; closing", where, ec.message()));
    }
  }

  void OnPacket(rcon_wire::Packet packet) {
    ArmIdleTimer();
    const bool logged_in = phase_ == Phase::kLoggedIn;
    if (packet.type == rcon_wire::kAuth) {
      Authenticate(packet.id, packet.body);
    } else if (!logged_in && (packet.type == rcon_wire::kExecCommand ||
                              packet.type == rcon_wire::kResponseValue)) {
      // -1 in an AUTH_RESPONSE is how the protocol says "not logged in".
      Send(-1, rcon_wire::kAuthResponse, "");
      CloseAfterWrites(Level::warn, "command before authentication; closing");
    } else if (packet.type == rcon_wire::kExecCommand) {
      Execute(packet);
    } else if (packet.type == rcon_wire::kResponseValue) {
      // Some clients send an empty RESPONSE_VALUE after a command and wait
      // for it to come back, to see where a long reply ends.
      Send(packet.id, rcon_wire::kResponseValue, "");
    } else {
      Close(Level::warn,
            fmt::format("packet {} has unknown type {}; closing", packet.id, packet.type));
    }
  }

  void Authenticate(std::int32_t id, std::string_view password) {
    // Connections opened before the block must not go on guessing.
    if (listener_.IsBlocked(address_)) {
      login_written_ = listener_.WriteLoginLine(address_);
      Send(-1, rcon_wire::kAuthResponse, "");
      CloseAfterWrites(Level::warn, "login attempt from a blocked address; closing");
      return;
    }
    const RconOptions& options = listener_.options();
    const bool right = SamePassword(password, options.password);
    const int wrong = listener_.RecordAttempt(address_, right);
    listener_.SetLoggedIn(id_, right);
    // A login is always written; wrong passwords from one address beyond a
    // few a minute are counted, so that guesses from many addresses cannot
    // push the start-up out of the host log.
    login_written_ = right || listener_.WriteLoginLine(address_);
    if (right) {
      phase_ = Phase::kLoggedIn;
      login_deadline_.cancel();
      listener_.log().info("RCON {}: authenticated", peer_);
      Send(id, rcon_wire::kAuthResponse, "");
      return;
    }
    phase_ = Phase::kLoggedOut;
    Send(-1, rcon_wire::kAuthResponse, "");
    if (wrong >= options.max_auth_failures) {
      CloseAfterWrites(Level::warn,
                       fmt::format("wrong password ({} in a row); closing and refusing {} for {}",
                                   wrong, address_.to_string(), Seconds(options.block_duration)));
    } else if (login_written_) {
      listener_.log().warn("RCON {}: wrong password ({} of {})", peer_, wrong,
                           options.max_auth_failures);
    }
  }

  void Execute(rcon_wire::Packet& packet) {
    pending_ = Pending::kCommand;
    listener_.handoff().Submit(RconRequest{packet.id, packet.size, std::move(packet.body), peer_},
                               [weak = weak_from_this()](std::vector<Reply> replies) {
                                 if (auto self = weak.lock()) {
                                   self->OnReplies(std::move(replies));
                                 }
                               });
  }

  // The replies to the command in flight, back from the game thread.
  void OnReplies(std::vector<Reply> replies) {
    if (phase_ == Phase::kClosed) {
      return;
    }
    pending_ = Pending::kNothing;
    for (const auto& reply : replies) {
      // Clients look for more only after a first packet of the full size, so
      // the cut is exact even when it splits a UTF-8 sequence; they join the
      // bytes before decoding.
      const std::string& body = reply.body;
      if (body.empty()) {
        Send(reply.id, reply.type, body);
      }
      for (std::size_t at = 0; at < body.size(); at += rcon_wire::kMaxReplyBody) {
        Send(reply.id, reply.type, std::string_view(body).substr(at, rcon_wire::kMaxReplyBody));
      }
    }
    ArmIdleTimer();
    Continue();
  }

  void Send(std::int32_t id, std::int32_t type, std::string_view body) {
    out_.push_back(rcon_wire::Encode(id, type, body));
  }

  void WriteNext() {
    pending_ = Pending::kWrite;
    asio::async_write(socket_, asio::buffer(out_.front()),
                      [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                        self->OnWritten(ec);
                      });
  }

  void OnWritten(const asio::error_code& ec) {
    if (phase_ == Phase::kClosed) {
      return;
    }
    pending_ = Pending::kNothing;
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
      if (ec || self->phase_ == Phase::kClosed || self->idle_.expiry() > Clock::now()) {
        return;
      }
      // A command still owed is no idleness of the client's: a game thread
      // slow to get to it must not cost the connection. The wait goes on
      // (and holds the connection, which its reply refers to only weakly).
      if (self->pending_ == Pending::kCommand) {
        self->ArmIdleTimer();
        return;
      }
      self->Close(Level::info, fmt::format("idle for {}; closing",
                                           Seconds(self->listener_.options().idle_timeout)));
    });
  }

  // Armed once, at accept, and never extended: wrong passwords and partial
  // packets do not buy time. A connection that has logged in has none.
  void ArmLoginDeadline() {
    login_deadline_.expires_after(listener_.options().auth_timeout);
    login_deadline_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (ec || self->phase_ == Phase::kClosed || self->phase_ == Phase::kLoggedIn) {
        return;
      }
      self->Close(Level::warn, fmt::format("not authenticated within {}; closing",
                                           Seconds(self->listener_.options().auth_timeout)));
    });
  }

  Listener& listener_;
  tcp::socket socket_;
  asio::steady_timer idle_;
  asio::steady_timer login_deadline_;
  std::uint64_t id_;
  std::string peer_;
  asio::ip::address address_;
  bool quiet_;
  bool login_written_ = false;  // the line of its last login attempt was written
  rcon_wire::Decoder decoder_;
  std::array<char, kReadChunk> input_{};
  std::deque<std::string> out_;  // encoded packets, each written on its own
  Phase phase_ = Phase::kLoggedOut;
  Pending pending_ = Pending::kNothing;
  Level closing_level_ = Level::info;  // for Phase::kClosing
  std::string closing_reason_;         // for Phase::kClosing
};

}  // namespace

std::shared_ptr<Session> MakeSession(Listener& listener, tcp::socket socket, std::uint64_t id,
                                     std::string peer, asio::ip::address address, bool quiet) {
  return std::make_shared<Connection>(listener, std::move(socket), id, std::move(peer),
                                      std::move(address), quiet);
}

}  // namespace devhost::rcon

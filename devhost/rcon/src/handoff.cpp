#include "rcon_server/handoff.h"

#include <spdlog/logger.h>
#include <asio.hpp>
#include <exception>
#include <mutex>
#include <string>
#include <utility>

#include "rcon_wire/codec.h"

namespace devhost::rcon {

namespace {

// Runs on the game thread. A failure here must still answer, or the
// connection would wait for its command until the idle timeout.
std::vector<Reply> RunGuarded(const Ports& ports, const RconRequest& request) {
  std::string what;
  try {
    return ports.run(request);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  ports.log->error("RCON {}: the command failed: {}", request.peer, what);
  return {Reply{request.id, rcon_wire::kResponseValue, "The command failed: " + what}};
}

}  // namespace

// Lets work that outlives the server (a command still queued on the game
// thread) find out that there is nobody left to send its replies to.
struct CommandHandoff::Gate {
  std::mutex mutex;
  asio::io_context* io = nullptr;
};

CommandHandoff::CommandHandoff(Ports ports)
    : ports_(std::move(ports)), gate_(std::make_shared<Gate>()) {}

CommandHandoff::~CommandHandoff() {
  Close();
}

void CommandHandoff::Open(asio::io_context& io) {
  std::lock_guard lock(gate_->mutex);
  gate_->io = &io;
}

void CommandHandoff::Close() {
  std::lock_guard lock(gate_->mutex);
  gate_->io = nullptr;
}

void CommandHandoff::Submit(RconRequest request, std::function<void(Replies)> deliver) {
  ports_.post(
      [&ports = ports_, gate = gate_, deliver = std::move(deliver), request = std::move(request)] {
        Replies replies = RunGuarded(ports, request);
        std::lock_guard lock(gate->mutex);
        if (gate->io != nullptr) {
          asio::post(*gate->io, [deliver, replies = std::move(replies)]() mutable {
            deliver(std::move(replies));
          });
        }
      });
}

}  // namespace devhost::rcon

// Carries RCON commands from the network thread to the game thread and their
// replies back. Submit() runs on the network thread, the command on the game
// thread (through the host's post), the delivery on the network thread again.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "rcon_server/options.h"
#include "rcon_server/ports.h"

namespace asio {
class io_context;
}

namespace devhost::rcon {

class CommandHandoff {
 public:
  using Replies = std::vector<Reply>;

  // REQUIRES: what `ports` refers to outlives every command submitted.
  explicit CommandHandoff(Ports ports);
  CommandHandoff(const CommandHandoff&) = delete;
  CommandHandoff& operator=(const CommandHandoff&) = delete;
  ~CommandHandoff();

  // Replies are delivered through `io` from now on.
  // REQUIRES: `io` outlives the next Close().
  void Open(asio::io_context& io);
  // Replies of commands still queued or running are dropped from now on;
  // the commands themselves still run. Thread-safe.
  void Close();

  // Queues `request` for the game thread. `deliver` gets its replies on the
  // network thread, unless Close() came first. A command that throws still
  // answers, with one reply that says why.
  void Submit(RconRequest request, std::function<void(Replies)> deliver);

 private:
  struct Gate;
  Ports ports_;
  // Shared with the queued commands, which may outlive the server.
  std::shared_ptr<Gate> gate_;
};

}  // namespace devhost::rcon

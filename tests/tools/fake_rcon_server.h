// A Source RCON server on 127.0.0.1 for the watcher's tests, answering each
// command from a script, so that a test can make a server misbehave as no
// dev server would. Any password logs in, or only the one it is given. It
// serves on a thread of its own until destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace watch::testing {

class FakeRconServer {
 public:
  // The reply body to `command`, or nullopt to close the connection
  // instead. Called on the server's thread.
  using Script = std::function<std::optional<std::string>(const std::string& command)>;
  // A script's reply that sends nothing and keeps the connection open.
  static constexpr const char* kNoReply = "\x01(no reply)";

  // With a `password`, any other is refused.
  explicit FakeRconServer(Script script, std::string password = {});
  FakeRconServer(const FakeRconServer&) = delete;
  FakeRconServer& operator=(const FakeRconServer&) = delete;
  ~FakeRconServer();

  std::uint16_t port() const { return port_; }

 private:
  void Serve();

  Script script_;
  std::string password_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};  // a pipe whose write end stops Serve()
  std::uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace watch::testing

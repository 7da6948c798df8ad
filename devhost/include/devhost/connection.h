// A remote-console connection as the framework hands it to command handlers.
// Replies sent through "RCONClientConnection.SendMessage(int,int,FString&)"
// reach the connection's owner through `on_reply`.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "devhost/export.h"

class RCONClientConnection {
 public:
  struct Reply {
    int id = 0;
    int type = 0;
    std::wstring body;
  };
  using ReplySink = std::function<void(const Reply&)>;

  RCONClientConnection() = default;
  explicit RCONClientConnection(ReplySink sink) : on_reply_(std::move(sink)) {}

  // Called by the engine's SendMessage; also keeps a copy for tests.
  void Deliver(Reply reply) {
    if (on_reply_) {
      on_reply_(reply);
    }
    replies_.push_back(std::move(reply));
  }
  const std::vector<Reply>& Replies() const { return replies_; }

 private:
  ReplySink on_reply_;
  std::vector<Reply> replies_;
};

// The framework's timer service: recurring callbacks on game time, owned by
// the module that registered them. Game thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devhost/export.h"

namespace devhost {

class PluginGuard;

struct TimerInfo {
  std::wstring id;
  int interval_seconds = 0;
  int remaining = -1;  // -1: without end
  std::string module;  // canonical path of the owning module
  std::size_t fired = 0;
};

class DEVHOST_API TimerService {
 public:
  // REQUIRES: `guard` outlives the service.
  explicit TimerService(PluginGuard& guard) : guard_(guard) {}
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;
  ~TimerService();

  // First firing one interval after `now`. An interval below one second is
  // refused with std::invalid_argument.
  void Add(std::function<void()> callback, int interval_seconds, int count, std::wstring id,
           std::string module, double now);
  // Fires every timer due at game time `now`, catching up at most a bounded
  // number of missed firings per timer.
  void RunDue(double now);
  // Drops the timers of a module; returns how many went.
  std::size_t DropModule(const std::string& module);

  std::vector<TimerInfo> List() const;
  std::size_t Count() const { return timers_.size(); }

 private:
  struct Entry {
    TimerInfo info;
    std::shared_ptr<std::function<void()>> callback;
    double next_due = 0;
    bool removed = false;
  };
  PluginGuard& guard_;
  std::vector<Entry> timers_;
  bool running_ = false;
};

}  // namespace devhost

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

class HostLog;
class PluginGuard;

struct TimerInfo {
  std::wstring id;
  int interval_seconds = 0;
  int remaining = -1;  // -1: without end
  std::string module;  // canonical path of the owning module
  std::size_t fired = 0;
  // Firings that fell due in a frame that had fired the timer already, and
  // were dropped: a frame fires each timer at most once.
  std::size_t skipped = 0;
};

class DEVHOST_API TimerService {
 public:
  // REQUIRES: `guard` and `log` outlive the service.
  TimerService(PluginGuard& guard, HostLog& log) : guard_(guard), log_(log) {}
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;
  ~TimerService();

  // First firing one interval after `now`. An interval below one second is
  // refused with std::invalid_argument.
  void Add(std::function<void()> callback, int interval_seconds, int count, std::wstring id,
           std::string module, double now);
  // Fires every timer due at game time `now`, each at most once: firings
  // that a long frame (a stall, a huge time scale) has left behind are not
  // caught up but counted in TimerInfo::skipped, and the first time a timer
  // skips, a warning says so. Later firings stay on the timer's grid of
  // game time. A timer with a count still fires that many times.
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
  HostLog& log_;
  std::vector<Entry> timers_;
  bool running_ = false;
};

}  // namespace devhost

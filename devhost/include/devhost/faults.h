// Fault injection for tests: named points that throw on a chosen use.
// Points in use: "lookup:<symbol name>" for every symbol lookup,
// "GetCurrentDir", "GetWorld", "RegisterRconCommand", "UnregisterRconCommand",
// "RegisterUpdateCallback", "UnregisterUpdateCallback", "Timer",
// "SendMessage". Game thread only, except Check, which locks.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "devhost/export.h"

namespace devhost {

class DEVHOST_API Faults {
 public:
  // The `nth` use of `point` from now on (1 = the next one) throws
  // std::runtime_error("injected fault: <point>"); later uses succeed.
  void ThrowOn(std::string point, int nth = 1);
  // The `nth` use throws a value that is not a std::exception.
  void ThrowUnknownOn(std::string point, int nth = 1);

  // Called at each fault point. Cheap while nothing is armed.
  void Check(std::string_view point) {
    if (armed_.load(std::memory_order_relaxed) != 0) [[unlikely]] {
      CheckSlow(point);
    }
  }
  // The fault point "lookup:<name>" of a symbol lookup.
  void CheckLookup(std::string_view name) {
    if (armed_.load(std::memory_order_relaxed) != 0) [[unlikely]] {
      CheckSlow("lookup:" + std::string(name));
    }
  }

 private:
  struct Arm {
    int remaining = 0;
    bool unknown = false;
  };
  void Add(std::string point, int nth, bool unknown);
  void CheckSlow(std::string_view point);

  std::atomic<int> armed_{0};
  std::mutex mutex_;
  std::map<std::string, Arm, std::less<>> arms_;
};

}  // namespace devhost

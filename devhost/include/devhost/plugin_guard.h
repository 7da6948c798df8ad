// Runs a plugin's callables on the host's behalf so that no exception gets
// into the host: one that escapes is logged and counted, and the host
// carries on. Game thread only.
#pragma once

#include <cstddef>
#include <exception>

#include "devhost/export.h"

namespace devhost {

class HostLog;

class DEVHOST_API PluginGuard {
 public:
  // REQUIRES: `log` outlives the guard.
  explicit PluginGuard(HostLog& log) : log_(log) {}
  PluginGuard(const PluginGuard&) = delete;
  PluginGuard& operator=(const PluginGuard&) = delete;

  // Runs `f`; an escaping exception is logged with `what` and counted.
  template <typename F>
  void Run(const char* what, F&& f) noexcept {
    try {
      f();
    } catch (const std::exception& e) {
      NoteEscape(what, e.what());
    } catch (...) {
      NoteEscape(what, "unknown exception");
    }
  }

  // Exceptions that a plugin let escape so far.
  std::size_t Escaped() const { return escaped_; }

 private:
  void NoteEscape(const char* what, const char* message) noexcept;

  HostLog& log_;
  std::size_t escaped_ = 0;
};

}  // namespace devhost

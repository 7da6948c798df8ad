// The stand-in for the plugin framework and the game server: it owns the
// command registry, the timers, the simulated engine and world, the engine's
// allocator, the shared log sinks, fault injection and the loaded plugins.
// One Host runs at a time; the framework functions that plugins call reach it
// through Host::Current(). Everything but Post() runs on the game thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devhost/allocator.h"
#include "devhost/commands.h"
#include "devhost/engine.h"
#include "devhost/export.h"
#include "devhost/faults.h"
#include "devhost/log.h"
#include "devhost/plugin_guard.h"
#include "devhost/timers.h"

namespace devhost {

struct HostOptions {
  std::filesystem::path server_dir;  // the framework's current directory
  EngineOptions engine;
  double world_delay = 0;  // game seconds before the world exists
  LogOptions log;          // default: no sink at all, lines go nowhere
};

struct LoadedPlugin {
  std::string name;
  std::string path;  // canonical
  void* handle = nullptr;
  void (*unload)() = nullptr;
};

class DEVHOST_API Host {
 public:
  // REQUIRES: no other Host exists.
  explicit Host(HostOptions options);
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  // Unloads every plugin that is still loaded.
  ~Host();

  // The running host; throws std::logic_error if there is none.
  static Host& Current();

  const HostOptions& options() const { return options_; }
  CommandRegistry& commands() { return commands_; }
  TimerService& timers() { return timers_; }
  Engine& engine() { return engine_; }
  EngineAllocator& allocator() { return allocator_; }
  HostLog& log() { return log_; }
  Faults& faults() { return faults_; }

  // --- game loop ---
  double GameTime() const { return static_cast<double>(game_us_) / 1e6; }
  // One frame of `dt` game seconds: posted work, update callbacks, timers,
  // then the engine.
  void Tick(double dt);
  // Runs frames at the engine's tick rate until `seconds` of game time passed.
  void Advance(double seconds);
  // Queues `work` for the game thread's next frame. Thread-safe.
  void Post(std::function<void()> work);

  // --- plugins ---
  // Maps the library and calls its Plugin_Init. Throws std::runtime_error
  // with the reason if it cannot be loaded or is loaded already.
  const LoadedPlugin& LoadPlugin(const std::filesystem::path& library);
  // Calls Plugin_Unload, drops what the module left behind (timers, commands,
  // callbacks) and unmaps it. False if no plugin of that name is loaded.
  bool UnloadPlugin(const std::string& name);
  const std::vector<LoadedPlugin>& Plugins() const { return plugins_; }
  // The module whose Plugin_Init or Plugin_Unload is running, or empty.
  const std::string& CurrentModule() const { return current_module_; }

  // Exceptions that a plugin let escape into the host.
  std::size_t EscapedExceptions() const { return guard_.Escaped(); }

  // Canonical form of a module path, for comparing registrations.
  static std::string CanonicalModule(const std::string& path);

 private:
  void UnloadAt(std::size_t index);

  HostOptions options_;
  EngineAllocator allocator_;  // first: everything else may hold its blocks
  HostLog log_;
  Faults faults_;
  PluginGuard guard_;
  CommandRegistry commands_;
  TimerService timers_;
  Engine engine_;
  std::int64_t game_us_ = 0;  // game time in microseconds: exact sums
  std::vector<LoadedPlugin> plugins_;
  std::string current_module_;
  std::mutex posted_mutex_;
  std::vector<std::function<void()>> posted_;
};

}  // namespace devhost

#include "devhost/host.h"

#include <spdlog/logger.h>
#include <atomic>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "devhost/dynamic_library.h"
#include "platform/utf8_path.h"

namespace devhost {

namespace {

std::atomic<Host*> g_current{nullptr};

using EntryPoint = void (*)();

// Logs what PluginInfo.json beside the library says about the plugin. The
// file is optional and may be broken: a plugin loads without it.
void ShowPluginInfo(HostLog& log, const std::filesystem::path& library, const std::string& name) {
  const auto info_path = library.parent_path() / "PluginInfo.json";
  std::ifstream in(info_path);
  if (!in) {
    log.Host().info("Loading plugin {} (no PluginInfo.json)", name);
    return;
  }
  try {
    const auto info = nlohmann::json::parse(in);
    auto text = [&](const char* key) {
      auto it = info.find(key);
      return (it != info.end() && it->is_string()) ? it->get<std::string>() : std::string("?");
    };
    std::string version = "?";
    if (auto it = info.find("Version"); it != info.end() && !it->is_null()) {
      version = it->is_string() ? it->get<std::string>() : it->dump();
    }
    std::string min_api = "?";
    if (auto it = info.find("MinApiVersion"); it != info.end() && !it->is_null()) {
      min_api = it->is_string() ? it->get<std::string>() : it->dump();
    }
    log.Host().info("Loading plugin {} — {} V{} (needs API {}): {}", name, text("FullName"),
                    version, min_api, text("Description"));
  } catch (const std::exception& e) {
    log.Host().warn("Loading plugin {}: PluginInfo.json is not valid JSON ({})", name, e.what());
  }
}

}  // namespace

Host::Host(HostOptions options)
    : options_(std::move(options)),
      log_(options_.log),
      guard_(log_),
      commands_(faults_, log_, guard_, [this] { return current_module_; }),
      timers_(guard_, log_),
      engine_(options_.engine) {
  Host* expected = nullptr;
  if (!g_current.compare_exchange_strong(expected, this)) {
    throw std::logic_error("devhost::Host: another host is running already");
  }
  engine_.SetWorldExists(options_.world_delay <= 0);
}

Host::~Host() {
  while (!plugins_.empty()) {
    UnloadAt(plugins_.size() - 1);
  }
  g_current.store(nullptr);
}

Host& Host::Current() {
  Host* host = g_current.load();
  if (host == nullptr) {
    throw std::logic_error("no devhost::Host is running");
  }
  return *host;
}

void Host::Tick(double dt) {
  if (!(dt >= 0) || !std::isfinite(dt)) {
    throw std::invalid_argument("Host::Tick: dt must be a finite, non-negative number of seconds");
  }
  game_us_ += static_cast<std::int64_t>(std::llround(dt * 1e6));
  if (!engine_.WorldExists() && GameTime() >= options_.world_delay) {
    engine_.SetWorldExists(true);
    log_.Host().info("World is ready (game time {:.1f}s)", GameTime());
  }
  std::vector<std::function<void()>> work;
  {
    std::lock_guard lock(posted_mutex_);
    work.swap(posted_);
  }
  for (auto& w : work) {
    guard_.Run("posted work", w);
  }
  commands_.RunUpdateCallbacks();
  timers_.RunDue(GameTime());
  engine_.Advance(dt);
}

void Host::Advance(double seconds) {
  const std::int64_t target = game_us_ + static_cast<std::int64_t>(std::llround(seconds * 1e6));
  while (game_us_ < target) {
    const auto step = static_cast<std::int64_t>(std::llround(1e6 / engine_.TickRate()));
    Tick(static_cast<double>(std::min(step, target - game_us_)) / 1e6);
  }
}

void Host::Post(std::function<void()> work) {
  std::lock_guard lock(posted_mutex_);
  posted_.push_back(std::move(work));
}

std::string Host::CanonicalModule(const std::string& path) {
  return ModuleIdentity(path);
}

const LoadedPlugin& Host::LoadPlugin(const std::filesystem::path& library) {
  std::string path = CanonicalModule(PathToUtf8(library));
  const std::string name = PathToUtf8(library.stem());
  for (auto& p : plugins_) {
    if (p.name == name || p.path == path) {
      throw std::runtime_error("plugin " + name + " is loaded already");
    }
  }
  if (!std::filesystem::exists(PathFromUtf8(path))) {
    throw std::runtime_error("plugin library not found: " + path);
  }
  ShowPluginInfo(log_, PathFromUtf8(path), name);
  void* handle = OpenLibrary(PathFromUtf8(path));
  auto init = reinterpret_cast<EntryPoint>(FindExport(handle, "Plugin_Init"));
  auto unload = reinterpret_cast<EntryPoint>(FindExport(handle, "Plugin_Unload"));
  if (init == nullptr || unload == nullptr) {
    CloseLibrary(handle);
    throw std::runtime_error(path + " does not export Plugin_Init and Plugin_Unload");
  }
  // Mapped, the module has the path by which it registers its timers.
  path = CanonicalModule(path);
  plugins_.push_back(LoadedPlugin{name, path, handle, unload});
  current_module_ = path;
  guard_.Run("Plugin_Init", init);
  current_module_.clear();
  log_.Host().info("Loaded plugin {}", name);
  return plugins_.back();
}

bool Host::UnloadPlugin(const std::string& name) {
  for (std::size_t i = 0; i < plugins_.size(); ++i) {
    if (plugins_[i].name == name) {
      UnloadAt(i);
      return true;
    }
  }
  return false;
}

void Host::UnloadAt(std::size_t index) {
  LoadedPlugin plugin = plugins_[index];
  plugins_.erase(plugins_.begin() + static_cast<std::ptrdiff_t>(index));
  current_module_ = plugin.path;
  guard_.Run("Plugin_Unload", plugin.unload);
  current_module_.clear();
  // Nothing of the module's code may be called, or destroyed, once it is
  // unmapped: its timers, leftovers and formatters go first.
  timers_.DropModule(plugin.path);
  if (const std::size_t left = commands_.DropModule(plugin.path); left > 0) {
    log_.Host().warn("Plugin {} left {} command(s) or callback(s) registered; dropped.",
                     plugin.name, left);
  }
  log_.ResetFormatters();
  CloseLibrary(plugin.handle);
  log_.Host().info("Unloaded plugin {}", plugin.name);
}

}  // namespace devhost

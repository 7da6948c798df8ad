// The plugin's two exports: start-up and shut-down in their fixed order, each
// inside one guard, so that no exception reaches the host.
#include <spdlog/logger.h>
#include <string>

#include "common/guard.h"
#include "common/log.h"
#include "config/loader.h"
#include "gc/gc_manager.h"
#include "plugin/folder.h"
#include "plugin/state.h"
#include "rcon/commands.h"
#include "stats/stats_logger.h"
#include "structures/structure_manager.h"

#if defined(_WIN32)
#define QUILLMOOR_EXPORT extern "C" __declspec(dllexport)
#else
#define QUILLMOOR_EXPORT extern "C" __attribute__((visibility("default")))
#endif

QUILLMOOR_EXPORT void Plugin_Init() {
  using namespace Quillmoor;
  Guarded("Plugin_Init", [] {
    CreateHostLogger();
    const std::string folder = PluginFolder();
    g_config = LoadConfig(folder);
    StatsLogger::Init(folder);
    GCManager::Init(g_config);
    StructureManager::Init(g_config);
    Rcon::RegisterCommands(g_config.Rcon.CommandName, &ForceGC, g_rcon_commands);
    Log().info("[Quillmoor] Plugin initialized.");
  });
}

QUILLMOOR_EXPORT void Plugin_Unload() {
  using namespace Quillmoor;
  Guarded("Plugin_Unload", [] {
    Rcon::UnregisterCommands(g_rcon_commands);
    Log().info("[Quillmoor] StructureManager shutdown.");
    GCManager::Shutdown();
    StatsLogger::Shutdown();
    Log().info("[Quillmoor] Plugin unloaded.");
  });
}

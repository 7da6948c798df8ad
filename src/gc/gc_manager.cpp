#include "gc/gc_manager.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

#include "common/guard.h"
#include "cvars/apply.h"
#include "formats/stats_line.h"
#include "host/framework.h"
#include "host/module_path.h"
#include "host/symbols.h"
#include "stats/stats_logger.h"

namespace Quillmoor {

bool ForceGC(const std::string& trigger, bool log_to_host) {
  UEngine* engine = *static_cast<UEngine**>(GetDataAddress(Symbols::kGEngine));
  if (engine == nullptr) {
    Log().error("[Quillmoor] ForceGC: GEngine is null (trigger: {})", trigger);
    return false;
  }
  auto force = reinterpret_cast<Symbols::ForceGarbageCollectionFn>(
      GetAddress(Symbols::kForceGarbageCollection));
  force(engine, true);
  const std::string message = formats::ForcedCollectionMessage(trigger);
  StatsLogger::Log(message);
  if (log_to_host) {
    Log().info("[Quillmoor] {}", message);
  }
  return true;
}

namespace GCManager {

void Init(const Config& config) {
  Guarded("GCManager::Init", [&] {
    if (config.GCCVars.Enabled || config.PhysicsCVars.Enabled) {
      AsaApi::GetCommands().RegisterUpdateCallback(
          FString(kApplyCVarsOnceId), ApplyCVarsOnce(std::make_shared<const Config>(config)));
    }
    if (!config.AutoGC.Enabled) {
      Log().info("[Quillmoor] Auto-GC disabled in config.");
      return;
    }
    // The loader keeps the minutes within 1 to 120; saturating keeps a
    // record that skipped it from overflowing.
    const std::int64_t seconds = std::clamp<std::int64_t>(
        std::int64_t{config.AutoGC.IntervalMinutes} * 60, 1, std::numeric_limits<int>::max());
    const bool verbose = config.VerboseLogging;
    API::Timer::Get().RecurringExecuteInternal(
        [verbose] {
          Guarded("Auto-GC timer", [&] { ForceGC(formats::kAutoTimerTrigger, verbose); });
        },
        static_cast<int>(seconds), -1, false, FString(L"Quillmoor_AutoGC"),
        FString(Host::ModulePath().c_str()));
    Log().info("[Quillmoor] Auto-GC timer started. Interval: {}min", config.AutoGC.IntervalMinutes);
  });
}

void Shutdown() {
  AsaApi::GetCommands().UnregisterUpdateCallback(FString(kApplyCVarsOnceId));
  Log().info("[Quillmoor] GCManager shutdown.");
}

}  // namespace GCManager
}  // namespace Quillmoor

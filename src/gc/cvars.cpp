#include "gc/cvars.h"

#include <cwchar>
#include <string>

#include "common/guard.h"
#include "host/framework.h"
#include "host/symbols.h"

namespace Quillmoor {

void ExecuteCVar(UWorld* world, const std::wstring& command) {
  std::string narrow;
  narrow.reserve(command.size());
  for (wchar_t c : command) {
    narrow.push_back(static_cast<char>(c & 0xFF));
  }
  Log().info("[Quillmoor] CVar -> {}", narrow);
  FString text(command.c_str());
  auto execute = reinterpret_cast<Symbols::ExecuteConsoleCommandFn>(
      GetAddress(Symbols::kExecuteConsoleCommand));
  execute(reinterpret_cast<UObject*>(world), &text, nullptr);
}

void ApplyGCCVars(const Config& config) {
  UWorld* world = AsaApi::GetApiUtils().GetWorld();
  if (world == nullptr) {
    Log().error("[Quillmoor] ApplyGCCVars: GetWorld() returned null, CVars not applied.");
    return;
  }
  if (config.GCCVars.Enabled) {
    const auto& gc = config.GCCVars;
    // At most 45 characters within the configured range of 5 to 300 seconds.
    wchar_t purge[64];
    std::swprintf(purge, 64, L"gc.TimeBetweenPurgingPendingKillObjects %.1f",
                  static_cast<double>(gc.TimeBetweenPurgingSeconds));
    ExecuteCVar(world, purge);
    ExecuteCVar(world,
                L"gc.NumRetriesBeforeForcingGC " + std::to_wstring(gc.NumRetriesBeforeForcingGC));
    ExecuteCVar(world, std::wstring(L"gc.ActorClusteringEnabled ") +
                           (gc.ActorClusteringEnabled ? L"1" : L"0"));
    ExecuteCVar(world, L"gc.MaxObjectsNotConsideredByGC " +
                           std::to_wstring(gc.MaxObjectsNotConsideredByGC));
    Log().info(
        "[Quillmoor] GC CVars applied. TimeBetweenPurging: {:g}s, NumRetries: {}, Clustering: {}, "
        "MaxNotConsidered: {}",
        static_cast<double>(gc.TimeBetweenPurgingSeconds), gc.NumRetriesBeforeForcingGC,
        gc.ActorClusteringEnabled ? "on" : "off", gc.MaxObjectsNotConsideredByGC);
  }
  if (config.PhysicsCVars.Enabled) {
    const auto& physics = config.PhysicsCVars;
    ExecuteCVar(world, L"p.Chaos.MaxSubSteps " + std::to_wstring(physics.ChaosMaxSubSteps));
    ExecuteCVar(world, L"t.MaxFPS " + std::to_wstring(physics.ServerMaxFPS));
    Log().info("[Quillmoor] Physics CVars applied. ChaosMaxSubSteps: {}, MaxFPS: {}",
               physics.ChaosMaxSubSteps, physics.ServerMaxFPS);
  }
}

void ApplyCVarsOnce::operator()() const noexcept {
  if (*applied_) {
    return;
  }
  UWorld* world = nullptr;
  const bool asked =
      Guarded("Quillmoor_ApplyCVarsOnce", [&] { world = AsaApi::GetApiUtils().GetWorld(); });
  if (asked && world == nullptr) {
    return;  // not yet: the next frame asks again
  }
  // Once the world was seen, or the host failed to say whether there is one,
  // the callback ends: retrying every frame would only repeat the same error
  // line many times a second.
  if (asked) {
    Guarded("ApplyGCCVars", [&] { ApplyGCCVars(*snapshot_); });
  }
  *applied_ = true;
  Guarded("Quillmoor_ApplyCVarsOnce",
          [] { AsaApi::GetCommands().UnregisterUpdateCallback(FString(kApplyCVarsOnceId)); });
}

}  // namespace Quillmoor

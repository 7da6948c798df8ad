#include "cvars/apply.h"

#include <string>
#include <string_view>

#include "common/guard.h"
#include "config/console_commands.h"
#include "host/framework.h"
#include "host/symbols.h"

namespace Quillmoor {
namespace {

// Sets the console variables of `section`, in the settings table's order.
void ApplySection(UWorld* world, const Config& config, std::string_view section) {
  for (const std::string& command : ConsoleCommands(config, section)) {
    ExecuteCVar(world, std::wstring(command.begin(), command.end()));
  }
}

}  // namespace

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
    ApplySection(world, config, "GCCVars");
    const auto& gc = config.GCCVars;
    Log().info(
        "[Quillmoor] GC CVars applied. TimeBetweenPurging: {:g}s, NumRetries: {}, Clustering: {}, "
        "MaxNotConsidered: {}",
        static_cast<double>(gc.TimeBetweenPurgingSeconds), gc.NumRetriesBeforeForcingGC,
        gc.ActorClusteringEnabled ? "on" : "off", gc.MaxObjectsNotConsideredByGC);
  }
  if (config.PhysicsCVars.Enabled) {
    ApplySection(world, config, "PhysicsCVars");
    const auto& physics = config.PhysicsCVars;
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

#include "structures/structure_manager.h"

#include <cstddef>
#include <string>

#include "common/guard.h"
#include "formats/stats_line.h"
#include "host/framework.h"
#include "host/module_path.h"
#include "host/symbols.h"
#include "stats/stats_logger.h"

namespace Quillmoor {

namespace {

constexpr UE::Math::TVector<double> kCenter{0.0, 0.0, 0.0};
constexpr float kRadius = 1000000.0f;

// The walk is bound by memory: every actor is a cache and TLB miss, in an
// order unrelated to their addresses. The two lookups per actor leave too
// few iterations in flight for the processor to overlap those misses by
// itself, so the walk asks for the line of an actor this far ahead.
constexpr int32 kPrefetchDistance = 32;

inline void PrefetchForWrite(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address, 1);
#else
  (void)address;
#endif
}

}  // namespace

void UpdateStructureNetFreq(float netFreq, float minNetFreq, bool verbose) {
  Guarded("StructureNetFreq update", [&] {
    auto& utils = AsaApi::GetApiUtils();
    if (utils.GetWorld() == nullptr) {
      Log().warn("[Quillmoor] StructureNetFreq: GetWorld() null, skipping update.");
      return;
    }
    // Owned here: released on every way out of this block, exceptions included.
    const TArray<AActor*> actors =
        utils.GetAllActorsInRange(kCenter, kRadius, EServerOctreeGroup::STRUCTURES);
    const int32 total = actors.Num();
    if (total == 0) {
      Log().warn("[Quillmoor] StructureNetFreq: No structures found in range.");
      return;
    }
    int32 applied = 0;
    AActor* const* data = actors.GetData();
    // Where the field stood in the last actor: only a hint for the prefetch,
    // never an address that is written through.
    std::ptrdiff_t field_hint = 0;
    for (int32 i = 0; i < total; ++i) {
      if (i + kPrefetchDistance < total && data[i + kPrefetchDistance] != nullptr) {
        PrefetchForWrite(reinterpret_cast<const char*>(data[i + kPrefetchDistance]) + field_hint);
      }
      AActor* actor = data[i];
      if (actor == nullptr) {
        continue;
      }
      auto* net = static_cast<float*>(GetAddress(actor, Symbols::kNetUpdateFrequency));
      *net = netFreq;
      *static_cast<float*>(GetAddress(actor, Symbols::kMinNetUpdateFrequency)) = minNetFreq;
      field_hint = reinterpret_cast<const char*>(net) - reinterpret_cast<const char*>(actor);
      ++applied;
    }
    const std::string message = formats::StructurePassMessage(applied, total, netFreq, minNetFreq);
    StatsLogger::Log(message);
    if (verbose) {
      Log().info("[Quillmoor] {}", message);
    }
  });
}

namespace StructureManager {

void Init(const Config& config) {
  Guarded("StructureManager::Init", [&] {
    const auto& settings = config.StructureNetFreq;
    if (!settings.Enabled) {
      Log().info("[Quillmoor] StructureNetFreq disabled in config.");
      return;
    }
    const float net = settings.NetUpdateFreq;
    const float min = settings.MinNetUpdateFreq;
    const int interval = settings.CheckIntervalSeconds;
    const bool verbose = config.VerboseLogging;
    const FString id(L"Quillmoor_StructNetFreq");
    const FString module(Host::ModulePath().c_str());
    API::Timer::Get().RecurringExecuteInternal(
        [net, min, verbose] { UpdateStructureNetFreq(net, min, verbose); }, interval, -1, false, id,
        module);
    Log().info(
        "[Quillmoor] StructureNetFreq timer started. Interval: {}s, NetFreq: {:.2f}, MinNetFreq: "
        "{:.2f}",
        interval, net, min);
  });
}

}  // namespace StructureManager
}  // namespace Quillmoor

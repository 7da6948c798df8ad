#include "structures/structure_manager.h"

#include <algorithm>
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
// order unrelated to their addresses. A store right after each actor's two
// lookups leaves too few actors in flight for the processor to overlap those
// misses (the lookups are calls it cannot see through), so the fields of a
// batch of actors are looked up first, touching no actor, and then written
// in a tight loop whose misses overlap. Each batch ends with a tail of
// stores still in flight that the next lookups wait behind: with 64 actors a
// batch those tails added a third of the misses' own time, with 1024 they
// are lost in the noise. Prefetching a batch while the next is looked up was
// slower still: a prefetch that misses the TLB holds up the lookups behind
// it. The two arrays of pointers take 16 KiB of stack.
constexpr int32 kBatch = 1024;

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
    float* net[kBatch];
    float* min[kBatch];
    for (int32 start = 0; start < total; start += kBatch) {
      const int32 end = std::min(total, start + kBatch);
      int32 found = 0;
      const auto write_found = [&] {
        for (int32 k = 0; k < found; ++k) {
          *net[k] = netFreq;
          *min[k] = minNetFreq;
        }
        applied += found;
      };
      try {
        for (int32 i = start; i < end; ++i) {
          AActor* actor = data[i];
          if (actor == nullptr) {
            continue;
          }
          net[found] = static_cast<float*>(GetAddress(actor, Symbols::kNetUpdateFrequency));
          min[found] = static_cast<float*>(GetAddress(actor, Symbols::kMinNetUpdateFrequency));
          ++found;
        }
      } catch (...) {
        // A lookup that fails part-way leaves the actors before it written,
        // as a walk of one actor at a time would.
        write_found();
        throw;
      }
      write_found();
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

// One structure pass over worlds of 10,000 to 1,000,000 structures, beside
// the floor: a raw loop that writes the same two fields at fixed offsets on
// the same actors in the same order. Actors are 1 KiB each, allocated one by
// one, and the query returns them in an order unrelated to their addresses,
// so both loops pay the cache and TLB misses of a real server's walk. And
// beside both, the field lookups alone: the two lookups by name per actor
// that the pass makes through the host interface, without a store. They are
// the framework's cost, not the plugin's: the pass minus the lookups is what
// the plugin's own code adds, to be compared with the floor.
#include <benchmark/benchmark.h>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "common/log.h"
#include "devhost/host.h"
#include "host/symbols.h"
#include "stats/stats_logger.h"
#include "structures/structure_manager.h"

namespace {

// One world at a time: a million structures take a gigabyte.
class World {
 public:
  static World& For(int structures) {
    static std::unique_ptr<World> current;
    if (!current || current->structures_ != structures) {
      current.reset();
      current = std::make_unique<World>(structures);
    }
    return *current;
  }

  explicit World(int structures) : structures_(structures) {
    dir_ = std::filesystem::temp_directory_path() / "quillmoor-bench";
    std::filesystem::create_directories(dir_ / "ArkApi/Plugins/Quillmoor");
    devhost::HostOptions options;
    options.server_dir = dir_;
    options.engine.structures = structures;
    options.engine.object_churn = 0;
    host_ = std::make_unique<devhost::Host>(options);
    Quillmoor::CreateHostLogger();
    Quillmoor::StatsLogger::Init((dir_ / "ArkApi/Plugins/Quillmoor").string());
    auto actors =
        AsaApi::GetApiUtils().GetAllActorsInRange({}, 1000000.0f, EServerOctreeGroup::STRUCTURES);
    order_.assign(actors.begin(), actors.end());
  }
  ~World() {
    Quillmoor::StatsLogger::Shutdown();
    host_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  const std::vector<AActor*>& QueryOrder() const { return order_; }

 private:
  int structures_;
  std::filesystem::path dir_;
  std::unique_ptr<devhost::Host> host_;
  std::vector<AActor*> order_;
};

void BM_StructurePass(benchmark::State& state) {
  World::For(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Quillmoor::UpdateStructureNetFreq(0.2f, 0.1f, false);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FixedOffsetFloor(benchmark::State& state) {
  const auto& order = World::For(static_cast<int>(state.range(0))).QueryOrder();
  constexpr std::size_t kNet = offsetof(AActor, NetUpdateFrequency);
  constexpr std::size_t kMin = offsetof(AActor, MinNetUpdateFrequency);
  for (auto _ : state) {
    for (AActor* actor : order) {
      if (actor == nullptr) {
        continue;
      }
      auto* bytes = reinterpret_cast<unsigned char*>(actor);
      *reinterpret_cast<float*>(bytes + kNet) = 0.2f;
      *reinterpret_cast<float*>(bytes + kMin) = 0.1f;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FieldLookups(benchmark::State& state) {
  const auto& order = World::For(static_cast<int>(state.range(0))).QueryOrder();
  for (auto _ : state) {
    for (AActor* actor : order) {
      if (actor == nullptr) {
        continue;
      }
      void* net = GetAddress(actor, Symbols::kNetUpdateFrequency);
      void* min = GetAddress(actor, Symbols::kMinNetUpdateFrequency);
      benchmark::DoNotOptimize(net);
      benchmark::DoNotOptimize(min);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The query the pass starts with, alone: the framework's too.
void BM_ActorQuery(benchmark::State& state) {
  World::For(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto actors =
        AsaApi::GetApiUtils().GetAllActorsInRange({}, 1000000.0f, EServerOctreeGroup::STRUCTURES);
    benchmark::DoNotOptimize(actors.GetData());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Pass, floor, lookups and query side by side for each size, so that each pair shares one world.
void Register() {
  for (int structures : {10000, 100000, 1000000}) {
    for (auto [name, fn] : {std::pair{"BM_StructurePass", &BM_StructurePass},
                            std::pair{"BM_FixedOffsetFloor", &BM_FixedOffsetFloor},
                            std::pair{"BM_FieldLookups", &BM_FieldLookups},
                            std::pair{"BM_ActorQuery", &BM_ActorQuery}}) {
      benchmark::RegisterBenchmark(name, fn)
          ->Arg(structures)
          ->Unit(benchmark::kMillisecond)
          ->Repetitions(5)
          ->ReportAggregatesOnly(true);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

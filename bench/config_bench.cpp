// LoadConfig on a server whose PluginConfig.json holds the defaults: the read,
// the range checks and the guide that every load brings up to date. The first
// round writes the default file; every round after that reads it.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <filesystem>
#include <string>

#include "common/log.h"
#include "config/loader.h"
#include "devhost/host.h"

namespace {

namespace fs = std::filesystem;

void BM_LoadConfigDefaultFile(benchmark::State& state) {
  const fs::path dir =
      fs::temp_directory_path() / ("quillmoor-config-bench-" + std::to_string(::getpid()));
  const fs::path folder = dir / "ArkApi/Plugins/Quillmoor";
  fs::create_directories(folder);
  {
    devhost::HostOptions options;
    options.server_dir = dir;
    devhost::Host host(options);
    Quillmoor::CreateHostLogger();
    benchmark::DoNotOptimize(Quillmoor::LoadConfig(folder.string()));
    for (auto _ : state) {
      benchmark::DoNotOptimize(Quillmoor::LoadConfig(folder.string()));
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}
BENCHMARK(BM_LoadConfigDefaultFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// What the plugin costs the server outside the structure pass: one load and
// unload (Plugin_Init reads the configuration, writes the guide, opens the
// statistics log and registers its callbacks; Plugin_Unload undoes it), and
// one game frame of the dev server with the plugin loaded beside one without.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <filesystem>
#include <memory>
#include <string>

#include "devhost/host.h"

namespace {

namespace fs = std::filesystem;

// A server directory with the plugin installed, removed again at the end.
class Server {
 public:
  explicit Server(bool with_plugin) {
    // Per process: other runs on the same machine must not share the folder.
    dir_ = fs::temp_directory_path() / ("quillmoor-plugin-bench-" + std::to_string(::getpid()) +
                                        (with_plugin ? "-loaded" : "-bare"));
    fs::remove_all(dir_);
    const fs::path folder = dir_ / "ArkApi/Plugins/Quillmoor";
    fs::create_directories(folder);
    library_ = folder / fs::path(QUILLMOOR_PLUGIN_PATH).filename();
    fs::copy_file(QUILLMOOR_PLUGIN_PATH, library_);
    devhost::HostOptions options;
    options.server_dir = dir_;
    host_ = std::make_unique<devhost::Host>(options);
    if (with_plugin) {
      host_->LoadPlugin(library_);
    }
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server() {
    host_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  devhost::Host& host() { return *host_; }
  const fs::path& library() const { return library_; }

 private:
  fs::path dir_;
  fs::path library_;
  std::unique_ptr<devhost::Host> host_;
};

// The library is mapped afresh each time, as the framework does on a reload;
// the configuration file exists after the first round, as on a server.
void BM_PluginInitAndUnload(benchmark::State& state) {
  Server server(false);
  for (auto _ : state) {
    const std::string name = server.host().LoadPlugin(server.library()).name;
    server.host().UnloadPlugin(name);
  }
}
BENCHMARK(BM_PluginInitAndUnload)->Unit(benchmark::kMicrosecond);

// One frame at 30 fps, with the world's default 1,000 structures. Arg 1: the
// plugin is loaded (its start-up callback has run and removed itself, its
// timers wait for their due time); arg 0: no plugin at all.
void BM_DevServerTick(benchmark::State& state) {
  Server server(state.range(0) == 1);
  server.host().Advance(1.0);  // past the first frames and the start-up callback
  for (auto _ : state) {
    server.host().Tick(1.0 / 30.0);
  }
}
BENCHMARK(BM_DevServerTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

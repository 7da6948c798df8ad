// Arbitrary bytes as PluginConfig.json through LoadConfig in a temporary
// plugin folder, without a host: the operator's file may change only on the
// documented paths. An outdated file (as ReadConfig decides) is kept under
// the first free backup name and replaced by exactly the defaults document;
// any other file is left byte for byte; no older backup is touched and no
// temporary file is left behind. Each input runs twice: with no backup
// present, and with the first two backup names taken.
#include <spdlog/logger.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "config/default_document.h"
#include "config/loader.h"
#include "config/reading.h"

namespace {

namespace fs = std::filesystem;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "config_files_fuzz: %s\n", what);
    std::abort();
  }
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// One plugin folder for the whole run, removed at exit. The host log
// channel keeps its start-up logger, silenced.
class Harness {
 public:
  Harness() {
    std::string tmpl = (fs::temp_directory_path() / "quillmoor-fuzz-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
      std::abort();
    }
    folder_ = tmpl;
    defaults_text_ = Quillmoor::BuildDefaultDocument(Quillmoor::Config{}).dump(2);
    Quillmoor::Log().set_level(spdlog::level::off);
  }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;
  ~Harness() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  // Loads `input` with the backup names in `taken` present, and checks what
  // the folder holds afterwards.
  void Run(const std::string& input, const std::vector<std::string>& taken) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      fs::remove_all(entry.path(), ec);
    }
    for (const auto& name : taken) {
      WriteAll(folder_ / name, "older " + name);
    }
    WriteAll(folder_ / "PluginConfig.json", input);

    Quillmoor::LoadConfig(folder_.string());

    const auto reading = Quillmoor::ReadConfig(input);
    const bool outdated = reading.version && reading.version->mismatch;
    const std::string after = ReadAll(folder_ / "PluginConfig.json");
    std::set<std::string> expected = {"PluginConfig.json", "PluginConfig.guide.json"};
    for (const auto& name : taken) {
      Check(ReadAll(folder_ / name) == "older " + name, "an older backup was changed");
      expected.insert(name);
    }
    if (outdated) {
      const std::string backup = taken.empty()
                                     ? "PluginConfig.json.bak"
                                     : "PluginConfig.json." + std::to_string(taken.size()) + ".bak";
      Check(after == defaults_text_, "an outdated file was not replaced by the defaults");
      Check(ReadAll(folder_ / backup) == input, "an outdated file was not kept");
      expected.insert(backup);
    } else {
      Check(after == input, "a current or broken file was written");
    }
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      found.insert(entry.path().filename().string());
    }
    Check(found == expected, "the folder holds an unexpected file");
  }

 private:
  fs::path folder_;
  std::string defaults_text_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  const std::string input(reinterpret_cast<const char*>(data), size);
  harness.Run(input, {});
  harness.Run(input, {"PluginConfig.json.bak", "PluginConfig.json.1.bak"});
  return 0;
}

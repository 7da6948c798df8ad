// Arbitrary bytes as PluginConfig.json, loaded from a temporary plugin
// folder without a host: LoadConfig must return an in-range record, and the file must afterwards
// hold either the bytes it was given or, when replaced, exactly the defaults document.
#include <spdlog/logger.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <type_traits>

#include "common/log.h"
#include "config/default_document.h"
#include "config/loader.h"
#include "config/settings.h"

namespace {

// One plugin folder for the whole run, removed at exit. The host log channel
// keeps its start-up logger, silenced: no host is needed.
class Harness {
 public:
  Harness() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillmoor-fuzz-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
      std::abort();
    }
    folder_ = tmpl;
    config_path_ = folder_ / "PluginConfig.json";
    defaults_text_ = Quillmoor::BuildDefaultDocument(Quillmoor::Config{}).dump(2);
    Quillmoor::Log().set_level(spdlog::level::off);
  }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;
  ~Harness() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  const std::filesystem::path& config_path() const { return config_path_; }
  const std::string& defaults_text() const { return defaults_text_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path config_path_;
  std::string defaults_text_;
};

Harness& TheHarness() {
  static Harness harness;
  return harness;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "config_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& h = TheHarness();
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(h.config_path(), std::ios::binary | std::ios::trunc);
    out << input;
  }
  const Quillmoor::Config c = Quillmoor::LoadConfig(h.folder().string());

  Quillmoor::ForEachSetting([&](const auto& setting) {
    if constexpr (std::remove_cvref_t<decltype(setting)>::kHasRange) {
      const auto value = setting.field(c);
      Check(setting.range.low <= value && value <= setting.range.high,
            std::string(setting.key).c_str());
    }
  });
  const auto& f = c.StructureNetFreq;
  Check(f.MinNetUpdateFreq <= f.NetUpdateFreq, "MinNetUpdateFreq above NetUpdateFreq");

  const std::string after = ReadAll(h.config_path());
  Check(after == input || after == h.defaults_text(), "the file was changed to something else");
  return 0;
}

// Arbitrary bytes as the text of PluginConfig.json through ReadConfig, the
// pure reading rules, with nothing but quillmoor_config linked: the record
// must be in range, its command name usable, after every input, and the
// decisions must agree with it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>

#include "config/reading.h"
#include "config/settings.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "config_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Quillmoor::ConfigReading r = Quillmoor::ReadConfig(text);
  const Quillmoor::Config& c = r.config;

  Quillmoor::ForEachSetting([&](const auto& setting) {
    if constexpr (std::remove_cvref_t<decltype(setting)>::kHasRange) {
      const auto value = setting.field(c);
      Check(setting.range.low <= value && value <= setting.range.high,
            std::string(setting.key).c_str());
    }
  });
  Check(c.StructureNetFreq.MinNetUpdateFreq <= c.StructureNetFreq.NetUpdateFreq,
        "MinNetUpdateFreq above NetUpdateFreq");

  if (r.version && r.version->mismatch) {
    Check(c == Quillmoor::Config{}, "an outdated file did not give the defaults");
    Check(!r.error && r.clamps.empty() && !r.swap, "an outdated file was read on");
  }
  if (r.error && r.error->key_path.empty()) {
    Check(!r.version && c == Quillmoor::Config{}, "text that is not JSON yielded values");
  }
  return 0;
}

// Arbitrary bytes as the text of PluginConfig.json through quillmoor-config's
// check: it never crashes, hangs or recurses on nesting; the configuration it
// reports is the one the plugin's reader gives; every finding lies within the
// text and is told without the JSON library's prefixes; a text the plugin
// cannot parse gets exactly one whole-file error. What migrate writes from
// the same bytes runs as written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "config/reading.h"
#include "config_check/check.h"
#include "config_check/migrate.h"
#include "config_check/source_map.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "config_check_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const config_tool::CheckResult r = config_tool::CheckConfigText(text);
  const Quillmoor::ConfigReading reading = Quillmoor::ReadConfig(text);

  Check(r.effective == reading.config, "the checker reports another configuration");
  Check(r.ExitCode() >= 0 && r.ExitCode() <= 2, "exit code out of range");
  const config_tool::LineColumn end = config_tool::TextPlaces(text).Of(text.size());
  for (const auto& f : r.findings) {
    Check(!f.message.empty(), "a finding without a message");
    Check(f.line.has_value() == f.column.has_value(), "a line without a column");
    Check(!f.line || *f.line <= end.line, "a finding past the end of the text");
    // Unless the file itself holds it: keys and values are quoted.
    Check(text.find("[json.exception") != std::string_view::npos ||
              (f.message + f.fix).find("[json.exception") == std::string::npos,
          "the library's prefix reached the operator's text");
  }
  if (reading.error && reading.error->key_path.empty()) {
    Check(r.findings.size() == 1 && r.findings[0].key_path.empty() &&
              r.findings[0].severity == config_tool::Severity::kError && !r.values_read,
          "text that is not JSON did not give one whole-file error");
  }
  // What migrate writes is a current file that the plugin runs as written:
  // nothing lost, nothing it would correct otherwise.
  const config_tool::Migration m = config_tool::MigrateText(text);
  if (m.error.empty()) {
    const config_tool::CheckResult again = config_tool::CheckConfigText(m.document);
    Check(again.values_read && again.effective == m.config,
          "migrate wrote a document the plugin runs otherwise");
    for (const auto& f : again.findings) {
      Check(f.severity != config_tool::Severity::kError, "migrate wrote a document with an error");
    }
  }
  return 0;
}

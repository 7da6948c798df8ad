#include "config_check/commands.h"

#include <fstream>
#include <iterator>
#include <vector>

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <nlohmann/json.hpp>

#include "config/config.h"
#include "config/default_document.h"
#include "config/guide.h"
#include "config/settings.h"
#include "config_check/check.h"
#include "config_check/closest_name.h"
#include "formats/plugin_files.h"

namespace config_tool {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path Locate(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) {
    return path;
  }
  // With the system's separators, as the path was always shown.
  const fs::path in_server = path /
                             fs::path(formats::kPluginFolder).relative_path().make_preferred() /
                             formats::kConfigFile;
  if (fs::exists(in_server, ec)) {
    return in_server;
  }
  return path / formats::kConfigFile;
}

template <typename T>
std::string Shown(const T& v) {
  if constexpr (std::is_same_v<T, std::string>) {
    return json(v).dump();
  } else if constexpr (std::is_same_v<T, bool>) {
    return v ? "true" : "false";
  } else {
    return fmt::format("{}", v);
  }
}

// One "Key.Path: value" line per setting, in the order the plugin reads them.
std::string EffectiveText(const Quillmoor::Config& config) {
  std::string text;
  Quillmoor::ForEachSetting([&](const auto& s) {
    text += fmt::format("  {}: {}\n", s.KeyPath(), Shown(s.field(config)));
  });
  return text;
}

// As the plugin writes its documents: a text-mode stream, indentation 2, no
// final line break.
bool WriteDocument(const fs::path& path, const json& doc) {
  std::ofstream out(path);
  out << doc.dump(2);
  out.close();
  return !out.fail();
}

}  // namespace

int RunCheck(const fs::path& path, bool as_json, std::ostream& out, std::ostream& err) {
  const fs::path file = Locate(path);
  std::ifstream in(file);
  std::string text;
  if (in) {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::error_code ec;
  if (!in.is_open() || in.bad() || fs::is_directory(file, ec)) {
    fmt::print(err, "quillmoor-config: cannot read {}\n", file.string());
    return kExitTrouble;
  }
  const CheckResult r = CheckConfigText(text);
  const int code = r.ExitCode();
  if (as_json) {
    json findings = json::array();
    for (const auto& f : r.findings) {
      findings.push_back({{"severity", SeverityName(f.severity)},
                          {"key", f.key_path},
                          {"line", f.line ? json(*f.line) : json(nullptr)},
                          {"message", f.message}});
    }
    const json report = {{"file", file.string()},
                         {"exit_code", code},
                         {"defaults_document", r.defaults_document},
                         {"findings", findings},
                         {"effective", Quillmoor::BuildDefaultDocument(r.effective)}};
    out << report.dump(2) << '\n';
    return code;
  }
  if (r.defaults_document) {
    fmt::print(out, "{}: the defaults document; the plugin runs it as written.\n", file.string());
    return code;
  }
  for (const auto& f : r.findings) {
    fmt::print(out, "{}{}: {}: {}{}\n", file.string(), f.line ? fmt::format(":{}", *f.line) : "",
               SeverityName(f.severity), f.key_path.empty() ? "" : f.key_path + ": ", f.message);
  }
  if (r.findings.empty()) {
    fmt::print(out, "{}: no problems; the plugin runs it as written.\n", file.string());
  }
  fmt::print(out, "\nThe configuration the plugin will run:\n{}", EffectiveText(r.effective));
  return code;
}

int RunInit(const fs::path& dir, bool force, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    fmt::print(err, "quillmoor-config: {} is not a folder (the plugin does not create it either)\n",
               dir.string());
    return kExitTrouble;
  }
  const fs::path config = dir / formats::kConfigFile;
  if (fs::exists(config, ec) && !force) {
    fmt::print(err, "quillmoor-config: {} exists; --force replaces it\n", config.string());
    return kExitTrouble;
  }
  if (!WriteDocument(config, Quillmoor::BuildDefaultDocument(Quillmoor::Config{})) ||
      !WriteDocument(dir / formats::kGuideFile, Quillmoor::BuildGuideDocument())) {
    fmt::print(err, "quillmoor-config: cannot write into {}\n", dir.string());
    return kExitTrouble;
  }
  fmt::print(out, "Wrote {} and {} into {}\n", formats::kConfigFile, formats::kGuideFile,
             dir.string());
  return kExitClean;
}

int RunExplain(const std::string& key, std::ostream& out, std::ostream& err) {
  const Quillmoor::Config defaults;
  std::vector<std::string> names;
  bool any = false;
  Quillmoor::ForEachSetting([&](const auto& s) {
    const std::string path = s.KeyPath();
    names.push_back(path);
    names.emplace_back(s.key);
    if (!key.empty() && !EqualsIgnoringCase(key, path) && !EqualsIgnoringCase(key, s.key)) {
      return;
    }
    any = true;
    std::string range = "any value";
    if constexpr (std::decay_t<decltype(s)>::kHasRange) {
      range = fmt::format("{} to {}", s.range.low, s.range.high);
    }
    fmt::print(out, "{}\n  default: {}    range: {}\n  {}\n\n", path, Shown(s.field(defaults)),
               range, Quillmoor::InfoText(s));
  });
  if (!any) {
    const std::string near = ClosestName(key, names);
    fmt::print(err, "quillmoor-config: no setting '{}'{}\n", key,
               near.empty() ? "" : fmt::format("; did you mean {}?", near));
    return kExitTrouble;
  }
  return kExitClean;
}

}  // namespace config_tool

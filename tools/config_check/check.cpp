#include "config_check/check.h"

#include <algorithm>
#include <sstream>
#include <variant>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "config/command_name.h"
#include "config/default_document.h"
#include "config/reading.h"
#include "config/settings.h"
#include "config_check/closest_name.h"
#include "formats/plugin_files.h"

namespace config_tool {

namespace {

using nlohmann::json;
using Quillmoor::Lookup;

std::string Number(const Quillmoor::SettingNumber& n) {
  return std::visit([](auto v) { return fmt::format("{}", v); }, n);
}

template <typename T>
std::string ValueText(const T& v) {
  if constexpr (std::is_same_v<T, std::string>) {
    return json(v).dump();
  } else {
    return fmt::format("{}", v);
  }
}

std::size_t LineOf(std::string_view text, std::size_t byte) {
  byte = std::min(byte, text.size());
  return 1 + static_cast<std::size_t>(
                 std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(byte), '\n'));
}

// The value of `section.key` in `doc`, or nullptr.
const json* Find(const json& doc, std::string_view section, std::string_view key) {
  const json* parent = &doc;
  if (!section.empty()) {
    const auto it = doc.find(std::string(section));
    if (it == doc.end() || !it->is_object()) {
      return nullptr;
    }
    parent = &*it;
  }
  const auto it = parent->find(std::string(key));
  return it == parent->end() ? nullptr : &*it;
}

void Add(CheckResult& r, Severity s, std::string key, std::string message,
         std::optional<std::size_t> line = std::nullopt) {
  r.findings.push_back({s, std::move(key), line, std::move(message)});
}

void UnknownKeys(const json& doc, CheckResult& r) {
  std::vector<std::string> top = {"ConfigVersion"};
  for (const auto& s : Quillmoor::kSections) {
    top.emplace_back(s.name);
  }
  Quillmoor::ForEachSetting([&](const auto& s) {
    if (s.section.empty()) {
      top.emplace_back(s.key);
    }
  });
  // Named, not a structured binding: the lambda below captures the name,
  // which clang 14 refuses for a binding.
  for (const auto& item : doc.items()) {
    const std::string& name = item.key();
    const json& value = item.value();
    if (std::find(top.begin(), top.end(), name) != top.end()) {
      if (Quillmoor::FindSection(name) == nullptr || !value.is_object()) {
        continue;
      }
      std::vector<std::string> keys;
      Quillmoor::ForEachSetting([&](const auto& s) {
        if (s.section == name) {
          keys.emplace_back(s.key);
        }
      });
      for (const auto& [key, unused] : value.items()) {
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
          const std::string near = ClosestName(key, keys);
          Add(r, Severity::kWarning, name + "." + key,
              near.empty() ? "unknown key: the plugin ignores it"
                           : fmt::format("unknown key: the plugin ignores it; did you mean {}.{}?",
                                         name, near));
        }
      }
      continue;
    }
    const std::string near = ClosestName(name, top);
    Add(r, Severity::kWarning, name,
        near.empty() ? "unknown key: the plugin ignores it"
                     : fmt::format("unknown key: the plugin ignores it; did you mean {}?", near));
  }
}

void MissingSections(const json& doc, const Quillmoor::ConfigReading& reading, CheckResult& r) {
  for (const auto& s : Quillmoor::kSections) {
    if (doc.contains(std::string(s.name))) {
      continue;
    }
    if (s.lookup == Lookup::kIfPresent) {
      Add(r, Severity::kNote, std::string(s.name),
          "section missing: its settings keep their defaults");
    } else if (reading.error && reading.error->key_path.rfind(std::string(s.name) + ".", 0) == 0) {
      Add(r, Severity::kError, std::string(s.name),
          fmt::format("section missing: the plugin's read stops at {} ({}), so this and every "
                      "later setting keep their defaults",
                      reading.error->key_path, reading.error->message));
    }
  }
}

// The read stopped at a value of the wrong type: name it, and every setting
// after it that the file sets but the plugin will not read.
void StoppedRead(const json& doc, const Quillmoor::ConfigReading& reading, CheckResult& r) {
  const std::string& at = reading.error->key_path;
  const auto dot = at.find('.');
  const std::string section = dot == std::string::npos ? std::string() : at.substr(0, dot);
  // A missing section is reported as such; what it costs is listed below.
  if (section.empty() || doc.contains(section)) {
    Add(r, Severity::kError, at,
        fmt::format("wrong type ({}): the plugin stops reading here; this and every later setting "
                    "keep their defaults",
                    reading.error->message));
  }
  bool after = false;
  const Quillmoor::Config defaults;
  const json defaults_doc = Quillmoor::BuildDefaultDocument(defaults);
  Quillmoor::ForEachSetting([&](const auto& s) {
    after = after || s.KeyPath() == at;
    if (!after || s.KeyPath() == at) {
      return;
    }
    // Only a value that differs from the default is lost.
    const json* v = Find(doc, s.section, s.key);
    const json* d = Find(defaults_doc, s.section, s.key);
    if (v != nullptr && (d == nullptr || *v != *d)) {
      Add(r, Severity::kError, s.KeyPath(),
          fmt::format("not read (the read stopped at {}): the file's {} is lost, the default {} "
                      "is used",
                      at, v->dump(), ValueText(s.field(defaults))));
    }
  });
}

// The plugin's own rule (config/command_name.h): a name it refuses is an
// error, since the command the operator asked for will not exist.
void CommandName(const std::string& name, CheckResult& r) {
  if (const auto problem = Quillmoor::CheckCommandName(name)) {
    Add(r, Severity::kError, Quillmoor::kCommandNameSetting.KeyPath(),
        fmt::format("{}: the plugin registers the force-GC command as '{}' instead",
                    problem->Text(), Quillmoor::kCommandNameSetting.default_value));
  }
}

}  // namespace

std::string_view SeverityName(Severity severity) {
  switch (severity) {
    case Severity::kError:
      return "error";
    case Severity::kWarning:
      return "warning";
    case Severity::kNote:
      break;
  }
  return "note";
}

int CheckResult::ExitCode() const {
  const auto has = [&](Severity s) {
    return std::any_of(findings.begin(), findings.end(),
                       [&](const Finding& f) { return f.severity == s; });
  };
  return has(Severity::kError) ? 2 : has(Severity::kWarning) ? 1 : 0;
}

CheckResult CheckConfigText(std::string_view text) {
  CheckResult r;
  const Quillmoor::ConfigReading reading = Quillmoor::ReadConfig(text);
  r.effective = reading.config;

  // The document as the plugin's stream read sees it: the first JSON value.
  json doc;
  std::istringstream in{std::string(text)};
  try {
    in >> doc;
  } catch (const json::parse_error& e) {
    Add(r, Severity::kError, "",
        fmt::format("not valid JSON ({}): the plugin reads nothing from it and runs on the "
                    "defaults",
                    e.what()),
        LineOf(text, e.byte == 0 ? 0 : e.byte - 1));
    return r;
  } catch (const std::exception& e) {
    Add(r, Severity::kError, "", fmt::format("cannot be read: {}", e.what()));
    return r;
  }
  if (!doc.is_object()) {
    Add(r, Severity::kError, "",
        fmt::format("the document is {}, not an object: the plugin runs on the defaults",
                    doc.type_name()));
    return r;
  }

  if (reading.version && reading.version->mismatch) {
    const auto found = reading.version->found;
    const std::string what =
        !doc.contains("ConfigVersion") ? std::string("missing")
        : found < Quillmoor::kConfigVersion
            ? fmt::format("{}, outdated (this plugin's is {})", found, Quillmoor::kConfigVersion)
            : fmt::format("{}, newer than this plugin's {}", found, Quillmoor::kConfigVersion);
    Add(r, Severity::kError, "ConfigVersion",
        fmt::format("{0}: the plugin keeps this file as a backup ({1}.bak, or the first free "
                    "{1}.N.bak) and writes the defaults; none of its values is used",
                    what, formats::kConfigFile));
    return r;
  }
  if (reading.error && reading.error->key_path == "ConfigVersion") {
    Add(r, Severity::kError, "ConfigVersion",
        fmt::format("wrong type ({}): the plugin reads nothing and runs on the defaults",
                    reading.error->message));
    return r;
  }

  UnknownKeys(doc, r);
  MissingSections(doc, reading, r);
  if (reading.error) {
    StoppedRead(doc, reading, r);
  }
  for (const auto& c : reading.clamps) {
    Add(r, Severity::kWarning, c.key_path,
        fmt::format("{} is outside [{}, {}]: the plugin uses {}", Number(c.found), Number(c.low),
                    Number(c.high), Number(c.used)));
  }
  if (reading.swap) {
    Add(r, Severity::kWarning, Quillmoor::SettingOf(Quillmoor::kFrequencyOrder.lower).KeyPath(),
        fmt::format("{} is above {} {}: the plugin swaps the two", reading.swap->lower_before,
                    Quillmoor::SettingOf(Quillmoor::kFrequencyOrder.upper).key,
                    reading.swap->upper_before));
  }
  // The name as the file holds it: when an earlier error stops the read before
  // it, the operator who mends that error meets this one next.
  const json* written = Find(doc, "Rcon", "CommandName");
  CommandName(written != nullptr && written->is_string() ? written->get<std::string>()
                                                         : r.effective.Rcon.CommandName,
              r);

  r.defaults_document =
      r.findings.empty() && doc == Quillmoor::BuildDefaultDocument(Quillmoor::Config{});
  return r;
}

}  // namespace config_tool

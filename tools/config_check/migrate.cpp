#include "config_check/migrate.h"

#include <set>
#include <sstream>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "config/default_document.h"
#include "config/reading.h"
#include "config/setting_value.h"
#include "config/settings.h"
#include "config_check/check.h"
#include "config_check/key_home.h"
#include "config_check/source_map.h"

namespace config_tool {

namespace {

using nlohmann::json;
using Outcome = CarriedValue::Outcome;

// A list or object is never dumped, copied or compared: it may nest tens of
// thousands deep, and each of those recurses. No setting holds one.
std::string Shown(const json& v) {
  if (v.is_structured()) {
    return v.is_array() ? "[…]" : "{…}";
  }
  return Excerpt(v.dump(-1, ' ', false, json::error_handler_t::replace));
}

// Whether the plugin, reading `written`, runs exactly it. A float written
// widened by an older plugin (0.20000000298023224) counts as written.
template <typename T>
bool ReadsAsWritten(const json& written, const T& runs) {
  if constexpr (std::is_same_v<T, float>) {
    return written.is_number() && static_cast<float>(written.get<double>()) == runs;
  } else {
    return written == json(runs);
  }
}

// "[json.exception.type_error.302] type must be number, but is string"
// without the library's prefix.
std::string Plain(std::string_view message) {
  if (const auto bracket = message.find("] ");
      message.starts_with("[json.exception.") && bracket != std::string_view::npos) {
    message.remove_prefix(bracket + 2);
  }
  return std::string(message);
}

// The sections (or "" for the top level) other than `home` whose object
// holds `key`.
std::vector<std::string> ElsewhereHolding(const json& doc, std::string_view home,
                                          std::string_view key) {
  std::vector<std::string> found;
  if (!home.empty() && doc.contains(std::string(key))) {
    found.emplace_back();
  }
  for (const auto& item : doc.items()) {
    if (item.key() != home && item.value().is_object() && item.value().contains(std::string(key))) {
      found.push_back(item.key());
    }
  }
  return found;
}

}  // namespace

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kCarried:
      return "carried";
    case Outcome::kMoved:
      return "moved";
    case Outcome::kChanged:
      return "changed";
    case Outcome::kDropped:
      break;
  }
  return "dropped";
}

Migration MigrateText(std::string_view old_text) {
  Migration m;
  // The first JSON value, as the plugin's stream read takes it.
  json doc;
  std::istringstream in{std::string(old_text)};
  try {
    in >> doc;
  } catch (const json::exception&) {
    m.error = "it is not JSON, so no value can be carried (quillmoor-config check shows where)";
    return m;
  }
  if (!doc.is_object()) {
    m.error = "it holds no object in braces, so no value can be carried";
    return m;
  }
  const Quillmoor::ConfigReading whole = Quillmoor::ReadConfig(old_text);
  if (!whole.version) {
    m.error = "its ConfigVersion is not a whole number (quillmoor-config check shows it)";
    return m;
  }
  m.old_version = whole.version->found;
  if (m.old_version > Quillmoor::kConfigVersion) {
    m.error = fmt::format("it is version {}, written for a newer plugin than this one ({})",
                          m.old_version, Quillmoor::kConfigVersion);
    return m;
  }

  // Each value is read alone in its place of the defaults document, so one
  // unreadable value costs only itself, not every later setting as in the
  // plugin's own read of the whole file.
  const json defaults = Quillmoor::BuildDefaultDocument(Quillmoor::Config{});
  std::set<std::pair<std::string, std::string>> used;  // (section, key) carried from
  Quillmoor::ForEachSetting([&](const auto& s) {
    std::string from(s.section);
    const json* v = MemberOf(doc, s.section, s.key);
    if (v == nullptr && HomesOf(s.key).size() == 1) {
      // Only a name with one home can be moved there; written in two wrong
      // places, neither is taken.
      if (const auto found = ElsewhereHolding(doc, s.section, s.key); found.size() == 1) {
        from = found.front();
        v = MemberOf(doc, from, s.key);
      }
    }
    if (v == nullptr) {
      ++m.defaults_kept;
      return;
    }
    used.emplace(from, s.key);
    CarriedValue c;
    c.key_path = PathOf(from, s.key);
    c.written = Shown(*v);
    if (v->is_structured()) {
      c.outcome = Outcome::kDropped;
      c.why = fmt::format("{} is {}, which no setting holds",
                          from == s.section ? "it" : "found elsewhere, it",
                          v->is_array() ? "a list" : "an object");
      m.values.push_back(std::move(c));
      return;
    }
    json probe = defaults;
    Quillmoor::SlotOf(probe, s) = *v;
    const Quillmoor::ConfigReading reading = Quillmoor::ReadConfig(probe.dump());
    const std::string moved =
        from == s.section ? std::string() : fmt::format("moved to {}; ", s.KeyPath());
    if (reading.error) {
      c.outcome = Outcome::kDropped;
      c.why = fmt::format("{}the plugin cannot read it: {}", moved, Plain(reading.error->message));
    } else {
      auto runs = s.field(reading.config);
      // Alone beside a default partner, one of the ordered pair may be
      // swapped with it: the value read is the one before the swap, and
      // the pair is ordered once both are carried.
      using Field = decltype(s.field);
      if constexpr (std::is_same_v<Field, decltype(Quillmoor::kFrequencyOrder.lower)>) {
        runs = reading.swap ? reading.swap->lower_before : runs;
      } else if constexpr (std::is_same_v<Field, decltype(Quillmoor::kFrequencyOrder.upper)>) {
        runs = reading.swap ? reading.swap->upper_before : runs;
      }
      s.field(m.config) = runs;
      c.result = ValueText(runs);
      if (!reading.clamps.empty()) {
        c.outcome = Outcome::kChanged;
        c.why = fmt::format(
            "{}outside {} to {}, the plugin runs {}", moved,
            std::visit([](auto n) { return fmt::format("{}", n); }, reading.clamps.front().low),
            std::visit([](auto n) { return fmt::format("{}", n); }, reading.clamps.front().high),
            c.result);
      } else if (!ReadsAsWritten(*v, runs)) {
        c.outcome = Outcome::kChanged;
        c.why = fmt::format("{}the plugin reads it as {}", moved, c.result);
      } else if (!moved.empty()) {
        c.outcome = Outcome::kMoved;
        c.why = fmt::format("moved to {}", s.KeyPath());
      }
    }
    m.values.push_back(std::move(c));
  });

  // The pair that must not cross is exchanged by the plugin; the document
  // holds what it will run.
  json document = {{"ConfigVersion", Quillmoor::kConfigVersion}};
  Quillmoor::ForEachSetting(
      [&](const auto& s) { Quillmoor::SlotOf(document, s) = s.field(m.config); });
  if (const auto final_read = Quillmoor::ReadConfig(document.dump()); final_read.swap) {
    m.config = final_read.config;
    const auto& lower = Quillmoor::SettingOf(Quillmoor::kFrequencyOrder.lower);
    const auto& upper = Quillmoor::SettingOf(Quillmoor::kFrequencyOrder.upper);
    m.values.push_back({Outcome::kChanged, lower.KeyPath(),
                        ValueText(final_read.swap->lower_before), ValueText(lower.field(m.config)),
                        fmt::format("above {} {}: the plugin swaps the two", upper.key,
                                    ValueText(final_read.swap->upper_before))});
  }
  // Floats as an operator types them (0.2), unless that text would read
  // back as a neighbouring float; then widened, which always reads back.
  document = {{"ConfigVersion", Quillmoor::kConfigVersion}};
  Quillmoor::ForEachSetting([&](const auto& s) {
    const auto& value = s.field(m.config);
    json shown = Quillmoor::SettingValue(value, Quillmoor::FloatForm::kShortest);
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, float>) {
      if (static_cast<float>(shown.template get<double>()) != value) {
        shown = Quillmoor::SettingValue(value, Quillmoor::FloatForm::kWidened);
      }
    }
    Quillmoor::SlotOf(document, s) = std::move(shown);
  });
  m.document = document.dump(2);

  // Whatever was not carried, named so that nothing leaves unseen.
  const auto drop = [&](const std::string& section, const std::string& key, const json& v) {
    if (used.count({section, key}) != 0) {
      return;
    }
    const std::vector<std::string_view> homes = HomesOf(key);
    std::string why = "not a setting of this version";
    if (homes.size() > 1) {
      why = fmt::format("belongs to {}; which one is meant cannot be told", HomeText(homes));
    } else if (homes.size() == 1) {
      why = fmt::format("{} is carried from another place", PathOf(homes.front(), key));
    }
    m.values.push_back({Outcome::kDropped, PathOf(section, key), Shown(v), {}, why});
  };
  for (const auto& item : doc.items()) {
    const std::string& name = item.key();
    if (name == "ConfigVersion") {
      continue;
    }
    if (item.value().is_object()) {
      for (const auto& member : item.value().items()) {
        drop(name, member.key(), member.value());
      }
    } else if (Quillmoor::FindSection(name) != nullptr) {
      m.values.push_back({Outcome::kDropped,
                          name,
                          Shown(item.value()),
                          {},
                          "not a section in braces, so none of its settings is in it"});
    } else {
      drop("", name, item.value());
    }
  }
  return m;
}

}  // namespace config_tool

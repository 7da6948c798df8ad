#include "config_check/check.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <type_traits>
#include <utility>
#include <variant>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "config/command_name.h"
#include "config/default_document.h"
#include "config/reading.h"
#include "config/settings.h"
#include "config_check/closest_name.h"
#include "config_check/key_home.h"
#include "config_check/source_map.h"
#include "formats/log_text.h"
#include "formats/plugin_files.h"

namespace config_tool {

namespace {

using nlohmann::json;
using Quillmoor::Lookup;

constexpr std::string_view kRunsOnDefaults =
    "the plugin reads nothing from the file and runs on the defaults";

std::string Number(const Quillmoor::SettingNumber& n) {
  return std::visit([](auto v) { return fmt::format("{}", v); }, n);
}

// What the file and the checker look at together.
struct Source {
  std::string_view text;
  SourceMap map;
  TextPlaces places;

  std::string Written(const SourceMember& m) const {
    return Excerpt(text.substr(m.value_at, m.value_end - m.value_at));
  }
  // The value of `section.key` as written, or empty.
  std::string Written(std::string_view section, std::string_view key) const {
    const SourceMember* m = map.Find(section, key);
    return m == nullptr ? std::string() : Written(*m);
  }
};

Finding& Add(CheckResult& r, Severity s, std::string key, std::string message, std::string fix = {},
             std::string detail = {}) {
  Finding& f = r.findings.emplace_back();
  f.severity = s;
  f.key_path = std::move(key);
  f.message = std::move(message);
  f.fix = std::move(fix);
  f.detail = std::move(detail);
  return f;
}

// With the line and column of byte `at` of the text.
void AddAt(CheckResult& r, Severity s, std::string key, std::string message, std::string fix,
           const TextPlaces& places, std::optional<std::size_t> at) {
  Finding& f = Add(r, s, std::move(key), std::move(message), std::move(fix));
  if (at) {
    const LineColumn place = places.Of(*at);
    f.line = place.line;
    f.column = place.column;
  }
}

// Whether the plugin, reading `written` into a field that holds `runs`, runs
// exactly what the file writes: nothing converted, cut, clamped or swapped.
template <typename T>
bool SameAsWritten(const json& written, const T& runs) {
  if constexpr (std::is_same_v<T, bool>) {
    return written.is_boolean() && written.get<bool>() == runs;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return written.is_string() && written.get_ref<const std::string&>() == runs;
  } else if constexpr (std::is_same_v<T, float>) {
    return written.is_number() && static_cast<float>(written.get<double>()) == runs;
  } else {
    if (written.is_number_integer()) {
      return written.is_number_unsigned() ? std::cmp_equal(written.get<std::uint64_t>(), runs)
                                          : std::cmp_equal(written.get<std::int64_t>(), runs);
    }
    return written.is_number_float() && written.get<double>() == static_cast<double>(runs);
  }
}

// Calls `visit(setting)` for the row `section.key`, if there is one.
template <typename Visit>
void WithSetting(std::string_view section, std::string_view key, Visit&& visit) {
  Quillmoor::ForEachSetting([&](const auto& s) {
    if (s.section == section && s.key == key) {
      visit(s);
    }
  });
}

std::string_view KindOf(const json& v) {
  switch (v.type()) {
    case json::value_t::string:
      return "text";
    case json::value_t::boolean:
      return "true or false";
    case json::value_t::null:
      return "null";
    case json::value_t::array:
      return "a list";
    case json::value_t::object:
      return "an object";
    default:
      return "a number";
  }
}

template <typename S>
std::string_view Expected(const S&) {
  using T = typename S::Value;
  if constexpr (std::is_same_v<T, bool>) {
    return "true or false";
  } else if constexpr (std::is_same_v<T, std::string>) {
    return "text in double quotes";
  } else if constexpr (std::is_same_v<T, float>) {
    return "a number";
  } else {
    return "a whole number";
  }
}

template <typename S>
std::string InUnit(const S& s) {
  const std::string_view unit = UnitInName(s.key);
  return unit.empty() ? std::string() : fmt::format(", in {}", unit);
}

// What to write instead of `v` for the setting `s`.
template <typename S>
std::string FixFor(const S& s, const json& v) {
  using T = typename S::Value;
  if constexpr (std::is_same_v<T, bool>) {
    if (v.is_string()) {
      std::string lower = v.get<std::string>();
      std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      });
      if (lower == "true" || lower == "false") {
        return fmt::format("write {}, without quotes", lower);
      }
    }
    if (v.is_number() && (v == 0 || v == 1)) {
      return fmt::format("write {}", v == 1 ? "true" : "false");
    }
    return "write true or false";
  } else if constexpr (std::is_same_v<T, std::string>) {
    return v.is_primitive() && !v.is_null()
               ? fmt::format(
                     "write \"{}\", in double quotes",
                     formats::TerminalSafe(v.dump(-1, ' ', false, json::error_handler_t::replace)))
               : fmt::format("write a name in double quotes, such as \"{}\"",
                             formats::kForceGcCommand);
  } else {
    std::string range;
    if constexpr (S::kHasRange) {
      range = fmt::format(" from {} to {}", s.range.low, s.range.high);
    }
    if (v.is_string()) {
      // "30s", "0.2", "15 minutes": the number the operator meant.
      const std::string& text = v.get_ref<const std::string&>();
      char* end = nullptr;
      const double number = std::strtod(text.c_str(), &end);
      if (end != text.c_str() && std::isfinite(number)) {
        return fmt::format("write {}{}", std::string_view(text.c_str(), end), InUnit(s));
      }
    }
    return fmt::format("write {}{}{}", Expected(s), range, InUnit(s));
  }
}

void UnknownKeys(const json& doc, const Source& src, CheckResult& r) {
  std::vector<std::string> top = {"ConfigVersion"};
  for (const auto& s : Quillmoor::kSections) {
    top.emplace_back(s.name);
  }
  Quillmoor::ForEachSetting([&](const auto& s) {
    if (s.section.empty()) {
      top.emplace_back(s.key);
    }
  });
  const Quillmoor::Config defaults;
  // A misspelt name loses the operator's value when the right name is not
  // there too and the value is not the default anyway.
  const auto lost = [&](std::string_view section, std::string_view key, const json& v) {
    bool differs = false;
    WithSetting(section, key,
                [&](const auto& s) { differs = !SameAsWritten(v, s.field(defaults)); });
    return differs;
  };
  const auto report = [&](const std::string& path, const std::string& parent_path,
                          const std::string& near, bool near_present, bool loses,
                          const SourceMember* m) {
    const std::string full = parent_path.empty() ? near : parent_path + "." + near;
    const std::optional<std::size_t> at =
        m == nullptr ? std::nullopt : std::optional<std::size_t>(m->key_at);
    if (near.empty()) {
      AddAt(r, Severity::kWarning, path, "unknown key: the plugin ignores it", "delete it",
            src.places, at);
    } else if (loses && !near_present) {
      const bool section = Quillmoor::FindSection(full) != nullptr;
      AddAt(r, Severity::kError, path,
            fmt::format("unknown key: the plugin ignores it, so {} keeps {} and the {} written "
                        "here {} lost",
                        full, section ? "its defaults" : "its default",
                        section ? "values" : "value", section ? "are" : "is"),
            fmt::format("rename it to {}", near), src.places, at);
    } else {
      const SourceMember* used = near_present ? src.map.Find(parent_path, near) : nullptr;
      AddAt(r, Severity::kWarning, path,
            fmt::format("unknown key: the plugin ignores it; did you mean {}?", full),
            !near_present     ? fmt::format("rename it to {}", near)
            : used == nullptr ? fmt::format("delete it: {} is set too", full)
                              : fmt::format("delete it: {} is set at line {}", full,
                                            src.places.Of(used->key_at).line),
            src.places, at);
    }
  };
  // A setting's exact name in the wrong place: the plugin never looks there,
  // so the value is lost unless its place holds one too.
  const auto misplaced = [&](const std::string& path, std::string_view here, std::string_view key,
                             const SourceMember* m) {
    const std::vector<std::string_view> homes = HomesOf(key);
    if (homes.empty()) {
      return false;
    }
    const std::optional<std::size_t> at =
        m == nullptr ? std::nullopt : std::optional<std::size_t>(m->key_at);
    const std::string where = here.empty() ? "the top level" : std::string(here);
    if (homes.size() == 1 && MemberOf(doc, homes.front(), key) != nullptr) {
      const SourceMember* used = src.map.Find(homes.front(), key);
      AddAt(r, Severity::kWarning, path,
            fmt::format("{} belongs to {}, not {}: the plugin ignores it here and reads {}", key,
                        HomeText(homes), where, PathOf(homes.front(), key)),
            used == nullptr
                ? fmt::format("delete it: {} is set too", PathOf(homes.front(), key))
                : fmt::format("delete it: {} is set at line {}", PathOf(homes.front(), key),
                              src.places.Of(used->key_at).line),
            src.places, at);
      return true;
    }
    AddAt(r, Severity::kError, path,
          fmt::format("{} belongs to {}, not {}: the plugin never reads it here, so the value "
                      "written here is lost{}",
                      key, HomeText(homes), where,
                      homes.size() == 1
                          ? fmt::format(" and {} keeps its default", PathOf(homes.front(), key))
                          : ""),
          fmt::format("move it to {}", HomeText(homes)), src.places, at);
    return true;
  };
  // Named, not a structured binding: the lambda below captures the name,
  // which clang 14 refuses for a binding.
  for (const auto& item : doc.items()) {
    const std::string& name = item.key();
    const json& value = item.value();
    const SourceMember* member = src.map.Find(kTopLevel, name);
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
      for (const auto& [key, v] : value.items()) {
        const SourceMember* key_member =
            member == nullptr ? nullptr : src.map.Find(src.map.IndexOf(*member), key);
        if (std::find(keys.begin(), keys.end(), key) != keys.end() ||
            misplaced(name + "." + key, name, key, key_member)) {
          continue;
        }
        const std::string near = ClosestName(key, keys);
        report(name + "." + key, name, near, !near.empty() && value.contains(near),
               !near.empty() && lost(name, near, v), key_member);
      }
      continue;
    }
    if (misplaced(name, "", name, member)) {
      continue;
    }
    const std::string near = ClosestName(name, top);
    bool loses = false;
    if (const auto* section = Quillmoor::FindSection(near);
        section != nullptr && value.is_object()) {
      for (const auto& [key, v] : value.items()) {
        loses = loses || lost(near, key, v);
      }
    } else if (!near.empty()) {
      loses = lost("", near, value);
    }
    report(name, "", near, !near.empty() && doc.contains(near), loses, member);
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
          fmt::format("section missing: the plugin's read stops at {}, so it and every later "
                      "setting keep their defaults",
                      reading.error->key_path),
          fmt::format("add \"{}\": {{ … }} with its settings (quillmoor-config init writes a "
                      "complete file)",
                      s.name),
          reading.error->message);
    }
  }
}

// The read stopped at a value of the wrong type: name it, and every setting
// after it that the file sets but the plugin will not read.
void StoppedRead(const json& doc, const Source& src, const Quillmoor::ConfigReading& reading,
                 CheckResult& r) {
  const std::string& at = reading.error->key_path;
  const auto dot = at.find('.');
  const std::string section = dot == std::string::npos ? std::string() : at.substr(0, dot);
  const std::string_view stop =
      "the plugin stops reading here, so this and every later setting keep their defaults";
  if (!section.empty() && doc.contains(section) && !doc.at(section).is_object()) {
    const json& v = doc.at(section);
    Add(r, Severity::kError, section,
        fmt::format("`{}` is {}, not a section in braces: {}", src.Written("", section), KindOf(v),
                    stop),
        fmt::format("write \"{}\": {{ … }} with its settings inside", section),
        reading.error->message);
  } else if (section.empty() || doc.contains(section)) {
    WithSetting(section, at.substr(dot == std::string::npos ? 0 : dot + 1), [&](const auto& s) {
      const json* v = MemberOf(doc, s.section, s.key);
      if (v == nullptr) {
        return;
      }
      Add(r, Severity::kError, at,
          fmt::format("`{}` is {}, not {}: {}", src.Written(s.section, s.key), KindOf(*v),
                      Expected(s), stop),
          FixFor(s, *v), reading.error->message);
    });
  }
  const std::optional<std::size_t> stop_line = [&]() -> std::optional<std::size_t> {
    const SourceMember* m = src.map.Find(section, section.empty() ? at : at.substr(dot + 1));
    return m == nullptr ? std::nullopt
                        : std::optional<std::size_t>(src.places.Of(m->value_at).line);
  }();
  bool after = false;
  const Quillmoor::Config defaults;
  Quillmoor::ForEachSetting([&](const auto& s) {
    after = after || s.KeyPath() == at;
    if (!after || s.KeyPath() == at) {
      return;
    }
    // Only a value that differs from the default is lost.
    const json* v = MemberOf(doc, s.section, s.key);
    if (v != nullptr && !SameAsWritten(*v, s.field(defaults))) {
      Add(r, Severity::kError, s.KeyPath(),
          fmt::format("not read, because the read stops at {}: the file's `{}` is lost and the "
                      "default {} is used",
                      at, src.Written(s.section, s.key), ValueText(s.field(defaults))),
          stop_line ? fmt::format("mend {} (line {}) first", at, *stop_line)
                    : fmt::format("mend {} first", at));
    }
  });
}

// Values the plugin reads but changes on the way in: a fraction cut from a
// whole number, true or false as a number. Only for settings it reaches.
void Conversions(const json& doc, const Source& src, const Quillmoor::ConfigReading& reading,
                 CheckResult& r) {
  bool stopped = false;
  Quillmoor::ForEachSetting([&](const auto& s) {
    using T = typename std::remove_cvref_t<decltype(s)>::Value;
    stopped = stopped || (reading.error && s.KeyPath() == reading.error->key_path);
    const json* v = MemberOf(doc, s.section, s.key);
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
      if (stopped || v == nullptr) {
        return;
      }
      const std::string written = src.Written(s.section, s.key);
      if (v->is_boolean()) {
        Add(r, Severity::kWarning, s.KeyPath(),
            fmt::format("`{}` is read as {}", written, v->get<bool>() ? 1 : 0),
            fmt::format("write {}", v->get<bool>() ? 1 : 0));
      } else if (std::is_integral_v<T> && v->is_number_float() &&
                 std::trunc(v->get<double>()) != v->get<double>() &&
                 std::abs(v->get<double>()) < 2147483648.0) {
        const auto whole = static_cast<std::int64_t>(v->get<double>());
        Add(r, Severity::kWarning, s.KeyPath(),
            fmt::format("`{}` is not a whole number: the plugin cuts it to {}", written, whole),
            fmt::format("write {}", whole));
      }
    }
  });
}

void Clamps(const Source& src, const Quillmoor::ConfigReading& reading, CheckResult& r) {
  for (const auto& c : reading.clamps) {
    const auto dot = c.key_path.find('.');
    const std::string section = dot == std::string::npos ? "" : c.key_path.substr(0, dot);
    const std::string key = dot == std::string::npos ? c.key_path : c.key_path.substr(dot + 1);
    std::string written = src.Written(section, key);
    if (written.empty()) {
      written = Number(c.found);
    }
    Add(r, Severity::kWarning, c.key_path,
        fmt::format("`{}` is outside {} to {}: the plugin uses {}", written, Number(c.low),
                    Number(c.high), Number(c.used)),
        fmt::format("write a value from {} to {}{}", Number(c.low), Number(c.high),
                    UnitInName(key).empty() ? "" : fmt::format(", in {}", UnitInName(key))));
  }
}

// A key written twice in one object: reported at the earlier of each pair.
void Repeated(const Source& src, CheckResult& r) {
  const auto& members = src.map.members;
  std::map<std::pair<std::size_t, std::string_view>, std::size_t> seen;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const SourceMember& later = members[i];
    const auto [it, first] = seen.try_emplace({later.parent, later.key}, i);
    if (first) {
      continue;
    }
    const SourceMember& m = members[it->second];
    it->second = i;
    const std::string path = m.parent == kTopLevel ? m.key : members[m.parent].key + "." + m.key;
    const LineColumn again = src.places.Of(later.key_at);
    AddAt(r, Severity::kWarning, path,
          fmt::format("written again at line {}, column {}: the plugin keeps only the last one",
                      again.line, again.column),
          "delete one of the two", src.places, m.key_at);
  }
}

// Advice only (config/command_name.h): the plugin registers any name, so a
// surprising one is a warning that says what will happen.
void CommandName(const std::string& name, CheckResult& r) {
  using Kind = Quillmoor::CommandNameProblem::Kind;
  const auto problem = Quillmoor::CheckCommandName(name);
  if (!problem) {
    return;
  }
  const bool wrong_characters =
      problem->kind == Kind::kControlCharacter || problem->kind == Kind::kWhitespace;
  Add(r, Severity::kWarning, Quillmoor::kCommandNameSetting.KeyPath(), problem->Text(),
      wrong_characters
          ? std::string("write one word of letters, digits, '.' or '_'")
          : fmt::format("write another name, or {}", Quillmoor::kCommandNameSetting.default_value));
}

// The text is not JSON: the first mistake, in the operator's words where the
// scan found the same one the reader did, else in the reader's.
void NotJson(const Source& src, const json::exception& e, std::optional<std::size_t> reader_at,
             CheckResult& r) {
  const std::string_view text = src.text;
  std::optional<std::size_t> at;
  std::string message, fix;
  const std::size_t bad_byte = formats::WellFormedUtf8Prefix(text);
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
      (text.size() >= 2 && (text[0] == '\0' || text[1] == '\0'))) {
    at = 0;
    message = "the file is saved as UTF-16 (\"Unicode\" in some editors), not as UTF-8";
    fix = "save it as UTF-8";
  } else if (src.map.problem && (!reader_at || src.map.problem->at <= *reader_at) &&
             src.map.problem->at <= bad_byte) {
    at = src.map.problem->at;
    message = src.map.problem->message;
    fix = src.map.problem->fix;
  } else if (bad_byte < text.size() && (!reader_at || bad_byte <= *reader_at)) {
    at = bad_byte;
    message = fmt::format("byte 0x{:02X} is not UTF-8 (the file is saved in another encoding)",
                          static_cast<unsigned char>(text[bad_byte]));
    fix = "save it as UTF-8";
  } else {
    // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
    std::string_view what = e.what();
    if (const auto colon = what.find(": ");
        what.starts_with("[json.exception.") && colon != std::string_view::npos) {
      what.remove_prefix(colon + 2);
    } else if (const auto bracket = what.find("] "); bracket != std::string_view::npos) {
      what.remove_prefix(bracket + 2);
    }
    at = reader_at;
    message = fmt::format("the JSON reader stops here: {}", what);
  }
  AddAt(r, Severity::kError, "", fmt::format("{}; {}", message, kRunsOnDefaults), fix, src.places,
        at);
  r.findings.back().detail = e.what();
}

// Gives every finding that names a setting or section and has no place yet
// the place of its value, and the value as written.
void Place(const Source& src, CheckResult& r) {
  for (Finding& f : r.findings) {
    if (f.key_path.empty()) {
      continue;
    }
    const auto dot = f.key_path.find('.');
    const SourceMember* m = dot == std::string::npos
                                ? src.map.Find(kTopLevel, f.key_path)
                                : src.map.Find(std::string_view(f.key_path).substr(0, dot),
                                               std::string_view(f.key_path).substr(dot + 1));
    if (m == nullptr) {
      continue;
    }
    f.value = src.Written(*m);
    if (!f.line) {
      const LineColumn place = src.places.Of(m->value_at);
      f.line = place.line;
      f.column = place.column;
    }
  }
  std::stable_sort(r.findings.begin(), r.findings.end(), [](const Finding& a, const Finding& b) {
    return std::pair(a.line.value_or(0), a.column.value_or(0)) <
           std::pair(b.line.value_or(0), b.column.value_or(0));
  });
}

// Every setting as the plugin runs it beside the file's value: `doc` and
// `src` are null when it takes nothing from the file.
void Outcomes(const json* doc, const Source* src, CheckResult& r) {
  Quillmoor::ForEachSetting([&](const auto& s) {
    SettingOutcome o;
    o.key_path = s.KeyPath();
    o.runs = ValueText(s.field(r.effective));
    const json* v = doc == nullptr ? nullptr : MemberOf(*doc, s.section, s.key);
    if (v != nullptr) {
      o.written = src->Written(s.section, s.key);
      o.as_written = SameAsWritten(*v, s.field(r.effective));
    }
    r.settings.push_back(std::move(o));
  });
}

}  // namespace

std::string ValueText(bool value) {
  return value ? "true" : "false";
}

std::string ValueText(std::int32_t value) {
  return fmt::format("{}", value);
}

std::string ValueText(float value) {
  return fmt::format("{}", value);
}

std::string ValueText(const std::string& value) {
  return json(value).dump(-1, ' ', false, json::error_handler_t::replace);
}

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
  return unreadable ? 3 : has(Severity::kError) ? 2 : has(Severity::kWarning) ? 1 : 0;
}

CheckResult CheckConfigText(std::string_view text) {
  CheckResult r;
  const Quillmoor::ConfigReading reading = Quillmoor::ReadConfig(text);
  r.effective = reading.config;
  const Source src{text, MapSource(text), TextPlaces(text)};

  // The document as the plugin's stream read sees it: the first JSON value.
  json doc;
  std::istringstream in{std::string(text)};
  try {
    in >> doc;
  } catch (const json::parse_error& e) {
    NotJson(src, e, e.byte == 0 ? 0 : e.byte - 1, r);
  } catch (const json::exception& e) {  // a number beyond a double's range
    NotJson(src, e, std::nullopt, r);
  }
  if (!r.findings.empty()) {
    Outcomes(nullptr, nullptr, r);
    return r;
  }
  if (!doc.is_object()) {
    const std::size_t first = std::min(text.find_first_not_of(" \t\r\n\xEF\xBB\xBF"), text.size());
    AddAt(
        r, Severity::kError, "",
        fmt::format("the file holds {}, not an object in braces; {}", KindOf(doc), kRunsOnDefaults),
        "write the settings inside `{ }`, as quillmoor-config init does", src.places, first);
    Outcomes(nullptr, nullptr, r);
    return r;
  }

  if (reading.version && reading.version->mismatch) {
    const auto found = reading.version->found;
    const bool missing = !doc.contains("ConfigVersion");
    const std::string what =
        missing ? std::string("missing")
        : found < Quillmoor::kConfigVersion
            ? fmt::format("{}, outdated (this plugin's is {})", found, Quillmoor::kConfigVersion)
            : fmt::format("{}, newer than this plugin's {}", found, Quillmoor::kConfigVersion);
    Add(r, Severity::kError, "ConfigVersion",
        fmt::format("{0}: the plugin keeps this file as a backup ({1}.bak, or the first free "
                    "{1}.N.bak) and writes the defaults; none of its values is used",
                    what, formats::kConfigFile),
        missing ? fmt::format("add \"ConfigVersion\": {} if the values are meant for this plugin",
                              Quillmoor::kConfigVersion)
        : found < Quillmoor::kConfigVersion
            ? fmt::format("run quillmoor-config migrate on it: it carries every value into "
                          "a version-{} file, names what it changes or drops, and keeps a copy",
                          Quillmoor::kConfigVersion)
            : fmt::format("set it to {} once the values are checked against "
                          "quillmoor-config explain",
                          Quillmoor::kConfigVersion));
    Place(src, r);
    Outcomes(nullptr, nullptr, r);
    return r;
  }
  if (reading.error && reading.error->key_path == "ConfigVersion") {
    Add(r, Severity::kError, "ConfigVersion",
        fmt::format("`{}` is {}, not a whole number; {}", src.Written("", "ConfigVersion"),
                    KindOf(doc.at("ConfigVersion")), kRunsOnDefaults),
        fmt::format("write {}, without quotes", Quillmoor::kConfigVersion), reading.error->message);
    Place(src, r);
    Outcomes(nullptr, nullptr, r);
    return r;
  }

  r.values_read = true;
  if (src.map.trailing_at) {
    AddAt(r, Severity::kWarning, "",
          "text after the closing brace of the configuration: the plugin ignores it",
          "delete it, or move it inside the braces", src.places, src.map.trailing_at);
  }
  Repeated(src, r);
  UnknownKeys(doc, src, r);
  MissingSections(doc, reading, r);
  if (reading.error) {
    StoppedRead(doc, src, reading, r);
  }
  Conversions(doc, src, reading, r);
  Clamps(src, reading, r);
  if (reading.swap) {
    Add(r, Severity::kWarning, Quillmoor::SettingOf(Quillmoor::kFrequencyOrder.lower).KeyPath(),
        fmt::format("{} is above {} {}: the plugin swaps the two", reading.swap->lower_before,
                    Quillmoor::SettingOf(Quillmoor::kFrequencyOrder.upper).key,
                    reading.swap->upper_before));
    r.findings.back().fix = fmt::format("make it no more than {}",
                                        Quillmoor::SettingOf(Quillmoor::kFrequencyOrder.upper).key);
  }
  // The name as the file holds it: when an earlier error stops the read before
  // it, the operator who mends that error meets this one next.
  const json* written = MemberOf(doc, "Rcon", "CommandName");
  CommandName(written != nullptr && written->is_string() ? written->get<std::string>()
                                                         : r.effective.Rcon.CommandName,
              r);

  Place(src, r);
  Outcomes(&doc, &src, r);
  // Compared only when nothing was found: then every member is a setting's
  // scalar, so the comparison cannot recurse into a deeply nested value.
  r.defaults_document =
      r.findings.empty() && doc == Quillmoor::BuildDefaultDocument(Quillmoor::Config{});
  return r;
}

CheckResult CheckUnreadFile(const Quillmoor::ConfigFileText& file, bool named_a_folder) {
  using State = Quillmoor::ConfigFileText::State;
  CheckResult r;
  Outcomes(nullptr, nullptr, r);
  if (file.state == State::kAbsent && named_a_folder) {
    Add(r, Severity::kNote, "",
        fmt::format("no {}: the plugin creates it with the defaults when it starts",
                    formats::kConfigFile));
    return r;
  }
  r.unreadable = true;
  if (file.state == State::kAbsent) {
    Add(r, Severity::kError, "", "no such file",
        "name the file, its plugin folder or the server directory");
  } else if (file.state == State::kTooLarge) {
    Add(r, Severity::kError, "",
        fmt::format("{}: the plugin refuses to read it, runs on the defaults and leaves the file "
                    "as it is",
                    file.error),
        "the defaults document is under 1 KiB: start again from quillmoor-config init");
  } else {
    Add(r, Severity::kError, "",
        fmt::format("cannot be read ({}): the plugin cannot read it either, runs on the defaults "
                    "and leaves it as it is",
                    file.error),
        "put a regular file there that the server can read");
  }
  return r;
}

}  // namespace config_tool

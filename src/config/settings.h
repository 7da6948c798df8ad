// The settings of PluginConfig.json as one table: for each, in the order the
// loader reads them, its section and key, the Config field that holds it, its
// range and its text in the guide. The reader, the range checks, both
// documents and the fuzzer walk this table. Constant data; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "config/config.h"

namespace Quillmoor {

// How the reader finds a section. The two kinds keep the file readable the
// way it always has been, which operators' files and the lines they see rely
// on: a file without AutoGC or Rcon is reported as a parse error (its first
// read there fails, as value() on a null does) and keeps every default, while
// a file without one of the later sections quietly keeps that section's
// defaults.
enum class Lookup {
  kWithoutPresenceTest,
  kIfPresent,
};

struct Section {
  std::string_view name;
  Lookup lookup;
  std::string_view info;  // the guide's "_info"; empty for none
};

inline constexpr std::array kSections{
    Section{"AutoGC", Lookup::kWithoutPresenceTest,
            "Forces a Full Purge + Defrag GC cycle every X minutes. More aggressive than the "
            "automatic GC in GCCVars."},
    Section{"Rcon", Lookup::kWithoutPresenceTest, ""},
    Section{"GCCVars", Lookup::kIfPresent,
            "UE5 Garbage Collector CVars applied once at startup when the world is ready. Control "
            "the automatic incremental GC."},
    Section{"PhysicsCVars", Lookup::kIfPresent,
            "Chaos Physics CVars applied at startup to reduce CPU load on dedicated servers."},
    Section{"StructureNetFreq", Lookup::kIfPresent,
            "Periodically reduces the network update frequency of all structures. Lowers "
            "bandwidth from structure replication."},
};

// Inclusive bounds, of the field's own type (floats compare as floats).
template <typename T>
struct Range {
  T low;
  T high;
};
template <typename T>
Range(T, T) -> Range<T>;

struct NoRange {};

namespace detail {
template <typename Object, typename Pointer, typename... Rest>
constexpr auto& Walk(Object& object, Pointer pointer, Rest... rest) {
  if constexpr (sizeof...(Rest) == 0) {
    return object.*pointer;
  } else {
    return Walk(object.*pointer, rest...);
  }
}
}  // namespace detail

// Where a setting lives in Config: a section member and its field, or one
// field at the top level. Member<...>{}(config) is that field of `config`,
// const when `config` is.
template <auto... Pointers>
struct Member {
  template <typename C>
  constexpr auto& operator()(C& config) const {
    return detail::Walk(config, Pointers...);
  }
};

// `field(config)` is the setting's member of `config`, const when `config` is.
// `section` is empty for a setting at the top level of the document.
template <typename Field, typename Bounds>
struct Setting {
  std::string_view section;
  std::string_view key;
  Field field;
  Bounds range;
  std::string_view info;  // the guide's "_info"

  using Value =
      std::remove_cvref_t<decltype(std::declval<const Field&>()(std::declval<Config&>()))>;
  static constexpr bool kHasRange = !std::is_same_v<Bounds, NoRange>;
  static_assert(!kHasRange || std::is_same_v<Bounds, Range<Value>>,
                "a range must have the type of its field");

  // "Section.Key", or "Key" at the top level: the name in log lines.
  std::string KeyPath() const {
    return section.empty() ? std::string(key) : std::string(section) + "." + std::string(key);
  }
};
template <typename Field, typename Bounds>
Setting(std::string_view, std::string_view, Field, Bounds, std::string_view)
    -> Setting<Field, Bounds>;

inline constexpr std::tuple kSettings{
    Setting{"AutoGC", "Enabled", Member<&Config::AutoGC, &Config::AutoGCSection::Enabled>{},
            NoRange{},
            "true = auto Full-GC active | false = disabled. Recommended: true for servers running "
            "more than 4 hours."},
    Setting{"AutoGC", "IntervalMinutes",
            Member<&Config::AutoGC, &Config::AutoGCSection::IntervalMinutes>{}, Range{1, 120},
            "Range: 1-120 minutes. Recommended: 10-20 for busy servers, 30 for light servers."},
    Setting{"Rcon", "CommandName", Member<&Config::Rcon, &Config::RconSection::CommandName>{},
            NoRange{},
            "RCON command name for manual GC trigger. Zephra integration expects 'ForceGC'. Only "
            "change if not using Zephra."},
    Setting{"GCCVars", "Enabled", Member<&Config::GCCVars, &Config::GCCVarsSection::Enabled>{},
            NoRange{}, "true = apply GC CVars at startup | false = keep UE5 engine defaults."},
    Setting{"GCCVars", "TimeBetweenPurgingSeconds",
            Member<&Config::GCCVars, &Config::GCCVarsSection::TimeBetweenPurgingSeconds>{},
            Range{5.0f, 300.0f},
            "Seconds between automatic purges of pending-kill objects. Range: 5-300. Lower = more "
            "frequent smaller GC runs, less freeze risk. Recommended: 15-20 for servers with 10+ "
            "players."},
    Setting{"GCCVars", "NumRetriesBeforeForcingGC",
            Member<&Config::GCCVars, &Config::GCCVarsSection::NumRetriesBeforeForcingGC>{},
            Range{1, 20},
            "Retries before forcing GC when the lock is busy. Range: 1-20. The 'Failed to acquire "
            "GC lock' message is NORMAL — see KnownMessages."},
    Setting{"GCCVars", "ActorClusteringEnabled",
            Member<&Config::GCCVars, &Config::GCCVarsSection::ActorClusteringEnabled>{}, NoRange{},
            "Groups related actors for more efficient GC traversal. Recommended: true. Disable "
            "only if you observe GC-related crashes."},
    Setting{"GCCVars", "MaxObjectsNotConsideredByGC",
            Member<&Config::GCCVars, &Config::GCCVarsSection::MaxObjectsNotConsideredByGC>{},
            NoRange{},
            "Root-set objects excluded from GC. 0 = safest (all objects checked). Only increase "
            "with profiling data."},
    Setting{"PhysicsCVars", "Enabled",
            Member<&Config::PhysicsCVars, &Config::PhysicsCVarsSection::Enabled>{}, NoRange{},
            "true = apply physics CVars at startup | false = keep UE5 defaults."},
    Setting{"PhysicsCVars", "ChaosMaxSubSteps",
            Member<&Config::PhysicsCVars, &Config::PhysicsCVarsSection::ChaosMaxSubSteps>{},
            Range{1, 8},
            "Max physics sub-steps per tick. Range: 1-8. Recommended: 2 (half the UE5 default of "
            "4). Value 1 is too aggressive for normal gameplay."},
    Setting{"PhysicsCVars", "ServerMaxFPS",
            Member<&Config::PhysicsCVars, &Config::PhysicsCVarsSection::ServerMaxFPS>{},
            Range{10, 120},
            "Max server tick rate in frames per second. Range: 10-120. Recommended: 30. Higher "
            "values use more CPU without gameplay benefit on dedicated servers."},
    Setting{"StructureNetFreq", "Enabled",
            Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::Enabled>{},
            NoRange{},
            "true = apply net frequency adjustments | false = keep ARK defaults (~10 updates/sec "
            "per structure)."},
    Setting{"StructureNetFreq", "NetUpdateFreq",
            Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::NetUpdateFreq>{},
            Range{0.05f, 10.0f},
            "Max network updates per second per structure. Range: 0.05-10. Recommended: 0.2 "
            "(structures change rarely)."},
    Setting{"StructureNetFreq", "MinNetUpdateFreq",
            Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::MinNetUpdateFreq>{},
            Range{0.05f, 10.0f},
            "Min network updates per second. Range: 0.05-10. Must be <= NetUpdateFreq."},
    Setting{
        "StructureNetFreq", "CheckIntervalSeconds",
        Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::CheckIntervalSeconds>{},
        Range{60, 3600},
        "How often to re-apply net frequency to all structures. Range: 60-3600 seconds. Covers "
        "newly placed structures. Recommended: 300."},
    Setting{"", "VerboseLogging", Member<&Config::VerboseLogging>{}, NoRange{},
            "true = show detailed periodic messages in the ARK API console (e.g. 'Applied to 47/47 "
            "structures'). false = suppress these to keep the console clean. Errors and warnings "
            "are always shown."},
};

// Calls `visit(setting)` for every row of kSettings, in order.
template <typename Visit>
constexpr void ForEachSetting(Visit&& visit) {
  std::apply([&](const auto&... setting) { (visit(setting), ...); }, kSettings);
}

// The section named `name`, or nullptr (the top level, "", is none).
constexpr const Section* FindSection(std::string_view name) {
  for (const Section& section : kSections) {
    if (section.name == name) {
      return &section;
    }
  }
  return nullptr;
}

// The element that holds `setting` in a document shaped like
// PluginConfig.json (or its guide), created null if missing. `Json` is
// nlohmann::json; a template so that this header does not need it.
template <typename Json, typename S>
Json& SlotOf(Json& document, const S& setting) {
  Json& parent = setting.section.empty() ? document : document[std::string(setting.section)];
  return parent[std::string(setting.key)];
}

namespace detail {
constexpr bool EverySettingHasAKnownSection() {
  bool ok = true;
  // Names, not FindSection's pointer: GCC's sanitizers make a pointer test
  // non-constant.
  ForEachSetting([&](const auto& s) {
    bool known = s.section.empty();
    for (const Section& section : kSections) {
      known = known || section.name == s.section;
    }
    ok = ok && known;
  });
  return ok;
}
static_assert(EverySettingHasAKnownSection(), "a setting names a section missing from kSections");
}  // namespace detail

}  // namespace Quillmoor

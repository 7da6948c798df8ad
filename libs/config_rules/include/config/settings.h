// The settings of PluginConfig.json as one table, the only place their facts
// live: for each, in the order the loader reads them, its section and key,
// the Config field that holds it, its default, its range, the console
// variable it sets, and its text in the guide; and the one ordering between
// two of them. Config's defaults, the reader, the range checks, both
// documents, the console variables, the checker and the fuzzer walk it.
// Constant data; any thread.
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
#include "formats/replies.h"

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

// The console variable that a setting sets at start-up; none for most.
inline constexpr std::string_view kNoCVar;

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
// `section` is empty for a setting at the top level of the document. In
// `info`, "{range}" stands for the range as the guide shows it ("Range:
// 1-120") and "{order}" for the ordering the setting is the lower end of
// ("Must be <= NetUpdateFreq"); see InfoText in guide.h.
template <typename Field, typename Default, typename Bounds>
struct Setting {
  std::string_view section;
  std::string_view key;
  Field field;
  Default default_value;  // what Config{} holds
  Bounds range;
  std::string_view cvar;  // kNoCVar, or the console variable it sets
  std::string_view info;  // the guide's "_info"

  using Value =
      std::remove_cvref_t<decltype(std::declval<const Field&>()(std::declval<Config&>()))>;
  static constexpr bool kHasRange = !std::is_same_v<Bounds, NoRange>;
  static_assert(!kHasRange || std::is_same_v<Bounds, Range<Value>>,
                "a range must have the type of its field");
  static_assert(std::is_same_v<Default, Value> ||
                    (std::is_same_v<Value, std::string> && std::is_same_v<Default, const char*>),
                "a default must have the type of its field");

  // "Section.Key", or "Key" at the top level: the name in log lines.
  std::string KeyPath() const {
    return section.empty() ? std::string(key) : std::string(section) + "." + std::string(key);
  }
};
template <typename Field, typename Default, typename Bounds>
Setting(std::string_view, std::string_view, Field, Default, Bounds, std::string_view,
        std::string_view) -> Setting<Field, Default, Bounds>;

inline constexpr std::tuple kSettings{
    Setting{"AutoGC", "Enabled", Member<&Config::AutoGC, &Config::AutoGCSection::Enabled>{}, true,
            NoRange{}, kNoCVar,
            "true = auto Full-GC active | false = disabled. Recommended: true for servers running "
            "more than 4 hours."},
    Setting{"AutoGC", "IntervalMinutes",
            Member<&Config::AutoGC, &Config::AutoGCSection::IntervalMinutes>{}, 15, Range{1, 120},
            kNoCVar, "{range} minutes. Recommended: 10-20 for busy servers, 30 for light servers."},
    Setting{"Rcon", "CommandName", Member<&Config::Rcon, &Config::RconSection::CommandName>{},
            formats::kForceGcCommand, NoRange{}, kNoCVar,
            "RCON command name for manual GC trigger. Zephra integration expects 'ForceGC'. Only "
            "change if not using Zephra."},
    Setting{"GCCVars", "Enabled", Member<&Config::GCCVars, &Config::GCCVarsSection::Enabled>{},
            true, NoRange{}, kNoCVar,
            "true = apply GC CVars at startup | false = keep UE5 engine defaults."},
    Setting{"GCCVars", "TimeBetweenPurgingSeconds",
            Member<&Config::GCCVars, &Config::GCCVarsSection::TimeBetweenPurgingSeconds>{}, 20.0f,
            Range{5.0f, 300.0f}, "gc.TimeBetweenPurgingPendingKillObjects",
            "Seconds between automatic purges of pending-kill objects. {range}. Lower = more "
            "frequent smaller GC runs, less freeze risk. Recommended: 15-20 for servers with 10+ "
            "players."},
    Setting{"GCCVars", "NumRetriesBeforeForcingGC",
            Member<&Config::GCCVars, &Config::GCCVarsSection::NumRetriesBeforeForcingGC>{}, 5,
            Range{1, 20}, "gc.NumRetriesBeforeForcingGC",
            "Retries before forcing GC when the lock is busy. {range}. The 'Failed to acquire GC "
            "lock' message is NORMAL — see KnownMessages."},
    Setting{"GCCVars", "ActorClusteringEnabled",
            Member<&Config::GCCVars, &Config::GCCVarsSection::ActorClusteringEnabled>{}, true,
            NoRange{}, "gc.ActorClusteringEnabled",
            "Groups related actors for more efficient GC traversal. Recommended: true. Disable "
            "only if you observe GC-related crashes."},
    Setting{"GCCVars", "MaxObjectsNotConsideredByGC",
            Member<&Config::GCCVars, &Config::GCCVarsSection::MaxObjectsNotConsideredByGC>{}, 0,
            NoRange{}, "gc.MaxObjectsNotConsideredByGC",
            "Root-set objects excluded from GC. 0 = safest (all objects checked). Only increase "
            "with profiling data."},
    Setting{"PhysicsCVars", "Enabled",
            Member<&Config::PhysicsCVars, &Config::PhysicsCVarsSection::Enabled>{}, true, NoRange{},
            kNoCVar, "true = apply physics CVars at startup | false = keep UE5 defaults."},
    Setting{"PhysicsCVars", "ChaosMaxSubSteps",
            Member<&Config::PhysicsCVars, &Config::PhysicsCVarsSection::ChaosMaxSubSteps>{}, 2,
            Range{1, 8}, "p.Chaos.MaxSubSteps",
            "Max physics sub-steps per tick. {range}. Recommended: 2 (half the UE5 default of "
            "4). Value 1 is too aggressive for normal gameplay."},
    Setting{"PhysicsCVars", "ServerMaxFPS",
            Member<&Config::PhysicsCVars, &Config::PhysicsCVarsSection::ServerMaxFPS>{}, 30,
            Range{10, 120}, "t.MaxFPS",
            "Max server tick rate in frames per second. {range}. Recommended: 30. Higher values "
            "use more CPU without gameplay benefit on dedicated servers."},
    Setting{"StructureNetFreq", "Enabled",
            Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::Enabled>{}, true,
            NoRange{}, kNoCVar,
            "true = apply net frequency adjustments | false = keep ARK defaults (~10 updates/sec "
            "per structure)."},
    Setting{"StructureNetFreq", "NetUpdateFreq",
            Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::NetUpdateFreq>{},
            0.2f, Range{0.05f, 10.0f}, kNoCVar,
            "Max network updates per second per structure. {range}. Recommended: 0.2 "
            "(structures change rarely)."},
    Setting{"StructureNetFreq", "MinNetUpdateFreq",
            Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::MinNetUpdateFreq>{},
            0.1f, Range{0.05f, 10.0f}, kNoCVar,
            "Min network updates per second. {range}. {order}."},
    Setting{
        "StructureNetFreq", "CheckIntervalSeconds",
        Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::CheckIntervalSeconds>{},
        300, Range{60, 3600}, kNoCVar,
        "How often to re-apply net frequency to all structures. {range} seconds. Covers newly "
        "placed structures. Recommended: 300."},
    Setting{"", "VerboseLogging", Member<&Config::VerboseLogging>{}, false, NoRange{}, kNoCVar,
            "true = show detailed periodic messages in the ARK API console (e.g. 'Applied to 47/47 "
            "structures'). false = suppress these to keep the console clean. Errors and warnings "
            "are always shown."},
};

// Two settings whose values must not cross: after the range checks, a
// `lower` above `upper` is exchanged with it. The reader applies it, the
// loader and the checker report it, the guide states it.
template <typename Lower, typename Upper>
struct Ordering {
  Lower lower;  // the Member of each
  Upper upper;
};
template <typename Lower, typename Upper>
Ordering(Lower, Upper) -> Ordering<Lower, Upper>;

inline constexpr Ordering kFrequencyOrder{
    Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::MinNetUpdateFreq>{},
    Member<&Config::StructureNetFreq, &Config::StructureNetFreqSection::NetUpdateFreq>{}};

// The row of kSettings whose field is `field` (a Member).
template <typename Field, std::size_t I = 0>
constexpr const auto& SettingOf(Field field) {
  using Row = std::remove_cvref_t<decltype(std::get<I>(kSettings))>;
  if constexpr (std::is_same_v<decltype(Row::field), Field>) {
    return std::get<I>(kSettings);
  } else {
    return SettingOf<Field, I + 1>(field);
  }
}

// The force-GC command's name: read as written, with no range; the offline
// checker advises on it (command_name.h).
inline constexpr const auto& kCommandNameSetting =
    SettingOf(Member<&Config::Rcon, &Config::RconSection::CommandName>{});

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

// The guide's text shows a range exactly where there is one, and the
// ordering at its lower end; console variables take numbers or flags.
constexpr bool EveryInfoMatchesItsRow() {
  bool ok = true;
  ForEachSetting([&](const auto& s) {
    using S = std::remove_cvref_t<decltype(s)>;
    const bool lower = std::is_same_v<decltype(s.field), decltype(kFrequencyOrder.lower)>;
    ok = ok && (s.info.find("{range}") != std::string_view::npos) == S::kHasRange &&
         (s.info.find("{order}") != std::string_view::npos) == lower &&
         (s.cvar.empty() || std::is_arithmetic_v<typename S::Value>);
  });
  return ok;
}
static_assert(EveryInfoMatchesItsRow(),
              "a row's info, range, ordering and console variable differ");
}  // namespace detail

}  // namespace Quillmoor

// The plugin's settings as one plain copyable record. A default-constructed
// Config is the default configuration; LoadConfig fills one from the file.
// Each field's default, range and place in the document are settings.h.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace Quillmoor {

// The version written to and expected in "ConfigVersion".
inline constexpr int kConfigVersion = 3;

struct Config {
  // Every setting at its default, from the settings table.
  Config();

  struct AutoGCSection {
    bool Enabled;
    std::int32_t IntervalMinutes;
    bool operator==(const AutoGCSection&) const = default;
  };
  struct RconSection {
    std::string CommandName;  // UTF-8
    bool operator==(const RconSection&) const = default;
  };
  struct GCCVarsSection {
    bool Enabled;
    float TimeBetweenPurgingSeconds;
    std::int32_t NumRetriesBeforeForcingGC;
    bool ActorClusteringEnabled;
    std::int32_t MaxObjectsNotConsideredByGC;
    bool operator==(const GCCVarsSection&) const = default;
  };
  struct PhysicsCVarsSection {
    bool Enabled;
    std::int32_t ChaosMaxSubSteps;
    std::int32_t ServerMaxFPS;
    bool operator==(const PhysicsCVarsSection&) const = default;
  };
  struct StructureNetFreqSection {
    bool Enabled;
    float NetUpdateFreq;
    float MinNetUpdateFreq;
    std::int32_t CheckIntervalSeconds;
    bool operator==(const StructureNetFreqSection&) const = default;
  };

  AutoGCSection AutoGC;
  RconSection Rcon;
  GCCVarsSection GCCVars;
  PhysicsCVarsSection PhysicsCVars;
  StructureNetFreqSection StructureNetFreq;
  bool VerboseLogging;

  // Field by field; floats compare exactly (the loader never yields a NaN).
  bool operator==(const Config&) const = default;
};

// Every setting as "key.path: value", in the table's order; floats in the
// shortest form that reads back as the same float, strings quoted. For test
// failures and diagnostics.
std::ostream& operator<<(std::ostream& out, const Config& config);

}  // namespace Quillmoor

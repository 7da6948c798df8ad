// The plugin's settings as one plain copyable record. A default-constructed
// Config is the default configuration; LoadConfig fills one from the file.
// Where each field stands in the document, and its range, is settings.h.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace Quillmoor {

// The version written to and expected in "ConfigVersion".
inline constexpr int kConfigVersion = 3;

struct Config {
  struct AutoGCSection {
    bool Enabled = true;
    std::int32_t IntervalMinutes = 15;
    bool operator==(const AutoGCSection&) const = default;
  };
  struct RconSection {
    std::string CommandName = "ForceGC";  // UTF-8
    bool operator==(const RconSection&) const = default;
  };
  struct GCCVarsSection {
    bool Enabled = true;
    float TimeBetweenPurgingSeconds = 20.0f;
    std::int32_t NumRetriesBeforeForcingGC = 5;
    bool ActorClusteringEnabled = true;
    std::int32_t MaxObjectsNotConsideredByGC = 0;
    bool operator==(const GCCVarsSection&) const = default;
  };
  struct PhysicsCVarsSection {
    bool Enabled = true;
    std::int32_t ChaosMaxSubSteps = 2;
    std::int32_t ServerMaxFPS = 30;
    bool operator==(const PhysicsCVarsSection&) const = default;
  };
  struct StructureNetFreqSection {
    bool Enabled = true;
    float NetUpdateFreq = 0.2f;
    float MinNetUpdateFreq = 0.1f;
    std::int32_t CheckIntervalSeconds = 300;
    bool operator==(const StructureNetFreqSection&) const = default;
  };

  AutoGCSection AutoGC;
  RconSection Rcon;
  GCCVarsSection GCCVars;
  PhysicsCVarsSection PhysicsCVars;
  StructureNetFreqSection StructureNetFreq;
  bool VerboseLogging = false;

  // Field by field; floats compare exactly (the loader never yields a NaN).
  bool operator==(const Config&) const = default;
};

// Every setting as "key.path: value", in the table's order; floats in the
// shortest form that reads back as the same float, strings quoted. For test
// failures and diagnostics.
std::ostream& operator<<(std::ostream& out, const Config& config);

}  // namespace Quillmoor

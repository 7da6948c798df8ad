// The plugin's settings as one plain copyable record. A default-constructed
// Config is the default configuration; LoadConfig fills one from the file.
#pragma once

#include <cstdint>
#include <string>

namespace Quillmoor {

// The version written to and expected in "ConfigVersion".
inline constexpr int kConfigVersion = 3;

struct Config {
  struct AutoGCSection {
    bool Enabled = true;
    std::int32_t IntervalMinutes = 15;
  };
  struct RconSection {
    std::string CommandName = "ForceGC";  // UTF-8
  };
  struct GCCVarsSection {
    bool Enabled = true;
    float TimeBetweenPurgingSeconds = 20.0f;
    std::int32_t NumRetriesBeforeForcingGC = 5;
    bool ActorClusteringEnabled = true;
    std::int32_t MaxObjectsNotConsideredByGC = 0;
  };
  struct PhysicsCVarsSection {
    bool Enabled = true;
    std::int32_t ChaosMaxSubSteps = 2;
    std::int32_t ServerMaxFPS = 30;
  };
  struct StructureNetFreqSection {
    bool Enabled = true;
    float NetUpdateFreq = 0.2f;
    float MinNetUpdateFreq = 0.1f;
    std::int32_t CheckIntervalSeconds = 300;
  };

  AutoGCSection AutoGC;
  RconSection Rcon;
  GCCVarsSection GCCVars;
  PhysicsCVarsSection PhysicsCVars;
  StructureNetFreqSection StructureNetFreq;
  bool VerboseLogging = false;
};

}  // namespace Quillmoor

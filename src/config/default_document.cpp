#include "config/default_document.h"

#include <spdlog/logger.h>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/log.h"

namespace Quillmoor {

namespace detail {

// The floats go in widened rather than re-rounded to a short decimal: 0.2f is
// written as 0.20000000298023224, which reads back as exactly the same float.
nlohmann::json BuildDefaultDocument(const Config& config) {
  return {
      {"ConfigVersion", kConfigVersion},
      {"AutoGC",
       {
           {"Enabled", config.AutoGC.Enabled},
           {"IntervalMinutes", config.AutoGC.IntervalMinutes},
       }},
      {"Rcon", {{"CommandName", config.Rcon.CommandName}}},
      {"GCCVars",
       {
           {"Enabled", config.GCCVars.Enabled},
           {"TimeBetweenPurgingSeconds",
            static_cast<double>(config.GCCVars.TimeBetweenPurgingSeconds)},
           {"NumRetriesBeforeForcingGC", config.GCCVars.NumRetriesBeforeForcingGC},
           {"ActorClusteringEnabled", config.GCCVars.ActorClusteringEnabled},
           {"MaxObjectsNotConsideredByGC", config.GCCVars.MaxObjectsNotConsideredByGC},
       }},
      {"PhysicsCVars",
       {
           {"Enabled", config.PhysicsCVars.Enabled},
           {"ChaosMaxSubSteps", config.PhysicsCVars.ChaosMaxSubSteps},
           {"ServerMaxFPS", config.PhysicsCVars.ServerMaxFPS},
       }},
      {"StructureNetFreq",
       {
           {"Enabled", config.StructureNetFreq.Enabled},
           {"NetUpdateFreq", static_cast<double>(config.StructureNetFreq.NetUpdateFreq)},
           {"MinNetUpdateFreq", static_cast<double>(config.StructureNetFreq.MinNetUpdateFreq)},
           {"CheckIntervalSeconds", config.StructureNetFreq.CheckIntervalSeconds},
       }},
      {"VerboseLogging", config.VerboseLogging},
  };
}

}  // namespace detail

void WriteDefaultConfig(const std::string& path, const nlohmann::json& document,
                        const std::string& reason) {
  std::ofstream out(path, std::ios::out | std::ios::trunc);
  if (!out) {
    Log().warn("[Quillmoor] PluginConfig.json {} but could not be created at: {}. Using defaults.",
               reason, path);
    return;
  }
  out << document.dump(2);
  out.close();
  Log().info("[Quillmoor] PluginConfig.json {} — generated with defaults at: {}", reason, path);
}

}  // namespace Quillmoor

#include "config/document_files.h"

#include <spdlog/logger.h>
#include <fstream>
#include <nlohmann/json.hpp>

#include "config/guide.h"
#include "common/log.h"

namespace Quillmoor {

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

void WriteConfigGuide(const std::string& folder) {
  const std::string text = BuildGuideDocument().dump(2);
  std::ofstream out(folder + "/PluginConfig.guide.json", std::ios::out | std::ios::trunc);
  if (!out) {
    return;
  }
  out << text;
}

}  // namespace Quillmoor

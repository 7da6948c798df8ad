#include "config/document_files.h"

#include <spdlog/logger.h>
#include <nlohmann/json.hpp>

#include "common/log.h"
#include "config/guide.h"
#include "config/whole_file.h"
#include "formats/plugin_files.h"

namespace Quillmoor {

void WriteDefaultConfig(const std::string& path, const nlohmann::json& document,
                        const std::string& reason) {
  if (!WriteWholeFile(path, document.dump(2))) {
    Log().warn("[Quillmoor] {} {} but could not be created at: {}. Using defaults.",
               formats::kConfigFile, reason, path);
    return;
  }
  Log().info("[Quillmoor] {} {} — generated with defaults at: {}", formats::kConfigFile, reason,
             path);
}

void WriteConfigGuide(const std::string& folder) {
  WriteWholeFile(folder + "/" + formats::kGuideFile, BuildGuideDocument().dump(2));
}

}  // namespace Quillmoor

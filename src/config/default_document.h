// The defaults document that PluginConfig.json is created from, and its
// writer. Runs inside LoadConfig, on the thread that loads the plugin.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "config/config.h"

namespace Quillmoor {

// Writes `document` to `path` (created or truncated, text mode) and logs the
// outcome with `reason` ("not found", "outdated, replaced"). The folder is not
// created: if it is missing, a warning is logged and nothing is written. Only
// a failing open is noticed; a failure while writing is not.
void WriteDefaultConfig(const std::string& path, const nlohmann::json& document,
                        const std::string& reason);

namespace detail {

// The document for `config`: every setting as a bare value under its key,
// floats widened to double, and "ConfigVersion" set to kConfigVersion.
nlohmann::json BuildDefaultDocument(const Config& config);

}  // namespace detail
}  // namespace Quillmoor

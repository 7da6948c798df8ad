// The defaults document that PluginConfig.json is created from. Pure: builds
// a value and touches nothing; any thread.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include "config/config.h"

namespace Quillmoor {

// The document for `config`: every setting of the table as a bare value under
// its key, floats widened to double, and "ConfigVersion" set to
// kConfigVersion.
nlohmann::json BuildDefaultDocument(const Config& config);

}  // namespace Quillmoor

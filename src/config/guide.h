// The configuration guide, PluginConfig.guide.json: a read-only companion to
// PluginConfig.json that explains each setting and shows its built-in
// default. Pure: builds a value and touches nothing; any thread.
#pragma once

#include <nlohmann/json_fwd.hpp>

namespace Quillmoor {

// The guide's content. Constant: it shows the defaults of Config{}, not the
// loaded values, and the texts of the settings table.
nlohmann::json BuildGuideDocument();

}  // namespace Quillmoor

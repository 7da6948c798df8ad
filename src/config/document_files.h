// Writing the two documents to their files in the plugin folder:
// PluginConfig.json when it is created or replaced, and the guide on every
// load. Runs inside LoadConfig, on the thread that loads the plugin.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace Quillmoor {

// Writes `document` to `path` (created or truncated, text mode) and logs the
// outcome with `reason` ("not found", "outdated, replaced"). The folder is not
// created: if it is missing, a warning is logged and nothing is written. Only
// a failing open is noticed; a failure while writing is not.
void WriteDefaultConfig(const std::string& path, const nlohmann::json& document,
                        const std::string& reason);

// Writes the guide to `folder` + "/PluginConfig.guide.json" (no trailing
// separator on `folder`), replacing the file. A file that cannot be opened is
// skipped without a word; nothing else is reported either. Throws only when
// memory runs out.
void WriteConfigGuide(const std::string& folder);

}  // namespace Quillmoor

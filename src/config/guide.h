// The configuration guide, PluginConfig.guide.json: a read-only companion to
// PluginConfig.json that explains each setting and shows its built-in
// default. Written by LoadConfig on every load; never read back.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace Quillmoor {

// Writes the guide to `folder` + "/PluginConfig.guide.json" (no trailing
// separator on `folder`), replacing the file. A file that cannot be opened is
// skipped without a word; nothing else is reported either. Throws only when
// memory runs out.
void WriteConfigGuide(const std::string& folder);

namespace detail {

// The guide's content. Constant: it lists the built-in defaults, not the
// loaded values.
nlohmann::json BuildGuideDocument();

}  // namespace detail
}  // namespace Quillmoor

// The plugin folder: the server's directory followed by
// "/ArkApi/Plugins/Quillmoor", without a trailing separator. Computed where
// it is needed, never stored.
#pragma once

#include <string>

namespace Quillmoor {

std::string PluginFolder();

}  // namespace Quillmoor

// The plugin folder: the server's directory followed by the plugin's folder
// below it (formats/plugin_files.h), without a trailing separator. Computed
// where it is needed, never stored.
#pragma once

#include <string>

namespace Quillmoor {

std::string PluginFolder();

}  // namespace Quillmoor

#include "plugin/folder.h"

#include "formats/plugin_files.h"
#include "host/framework.h"

namespace Quillmoor {

std::string PluginFolder() {
  return AsaApi::Tools::GetCurrentDir() + formats::kPluginFolder;
}

}  // namespace Quillmoor

#include "plugin/folder.h"

#include "host/framework.h"

namespace Quillmoor {

std::string PluginFolder() {
  return AsaApi::Tools::GetCurrentDir() + "/ArkApi/Plugins/Quillmoor";
}

}  // namespace Quillmoor

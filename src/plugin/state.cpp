#include "plugin/state.h"

namespace Quillmoor {

Config g_config;

}  // namespace Quillmoor

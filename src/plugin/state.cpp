#include "plugin/state.h"

namespace Quillmoor {

Config g_config;
Rcon::Registered g_rcon_commands;

}  // namespace Quillmoor

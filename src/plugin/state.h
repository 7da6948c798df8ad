// The plugin's process-wide state. The configuration holds the defaults
// from static initialisation on, is replaced once by Plugin_Init before any
// callback is registered, and is never written again: readers need no lock.
// The RCON commands this load registered are added by Plugin_Init and
// taken out by Plugin_Unload, on the thread that loads the plugin.
#pragma once

#include "config/config.h"
#include "rcon/commands.h"

namespace Quillmoor {

extern Config g_config;
extern Rcon::Registered g_rcon_commands;

}  // namespace Quillmoor

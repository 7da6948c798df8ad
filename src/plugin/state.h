// The plugin's process-wide configuration. Holds the defaults from static
// initialisation on, is replaced once by Plugin_Init before any callback is
// registered, and is never written again: readers need no lock.
#pragma once

#include "config/config.h"

namespace Quillmoor {

extern Config g_config;

}  // namespace Quillmoor

// Must not compile: the RCON commands reaching sideways into the GC manager,
// whose collection the plugin hands them instead.
#include "gc/gc_manager.h"

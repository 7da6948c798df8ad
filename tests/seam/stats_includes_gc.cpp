// Must not compile: the statistics log reaching up into the GC manager.
#include "gc/gc_manager.h"

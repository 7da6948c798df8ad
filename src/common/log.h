// The host log channel: the logger "Quillmoor" on the framework's shared
// sinks. Before Plugin_Init has made that logger, lines go to standard error.
// The logger itself is thread-safe; replacing it is not, see CreateHostLogger.
#pragma once

#include <memory>

namespace spdlog {
class logger;
}

namespace Quillmoor {

// The channel's current logger. Never null.
spdlog::logger& Log();

// Makes the channel's logger on the sinks that GetLogSinks() returns now,
// with the channel's pattern and flushing at info, replacing any earlier one.
// REQUIRES: no other thread is inside Log() (Plugin_Init calls it before any
// of the plugin's callbacks exist).
void CreateHostLogger();

}  // namespace Quillmoor

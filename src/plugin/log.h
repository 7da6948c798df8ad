// The host log channel: the logger "Quillmoor" on the framework's shared
// sinks. Safe to use from any thread and at any time, also before
// Plugin_Init has made the logger (lines then go to standard error).
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
void CreateHostLogger();

}  // namespace Quillmoor

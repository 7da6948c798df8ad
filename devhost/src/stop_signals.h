// How the operating system asks the dev server to stop: the signals (or, on
// Windows, console events) that end a server turned into a flag that the game
// loop polls, so that the plugin is unloaded before the process ends.
#pragma once

#include <string_view>

namespace devhost {

// Makes the stop requests set the flag instead of ending the process, and
// makes a write to a closed pipe or socket fail with an error instead of
// ending it (standard output piped into `head`, a client gone mid-reply).
// Process-wide and lasting. REQUIRES: main thread, before other threads
// start. Throws std::system_error if a handler cannot be installed.
void InstallStopSignals();

// The name of what asked to stop ("SIGTERM"), or empty while nothing has.
// Any thread.
std::string_view StopRequest();

}  // namespace devhost

// The watcher's live run: the poll of every server (one thread, Asio
// coroutines, one request in flight per server), each observation handed to
// the run's outputs.
#pragma once

#include "watch/lookup.h"
#include "watch/options.h"
#include "watch/sink.h"

namespace watch {

// Polls options.servers until SIGINT, SIGTERM, SIGHUP or the duration stops
// it, starting `outputs` first and finishing them at the end; host names are
// found with `lookup` (see lookup.h). Returns the process's exit code (see
// options.h): kExitAuth when every server refused the password, else
// kExitFailure when an output failed or a password was refused.
int RunWatch(const WatchOptions& options, Outputs& outputs, LookupFunction lookup = SystemLookup);

}  // namespace watch

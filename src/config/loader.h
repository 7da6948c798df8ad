// Loading of PluginConfig.json into a Config, with the effects: creation of a
// missing file, backup and regeneration of an outdated one, the guide, and
// the host log lines for every decision of ReadConfig (reading.h). Runs on
// the thread that loads the plugin, before any callback exists.
#pragma once

#include <string>

#include "config/config.h"

namespace Quillmoor {

// Reads the configuration from `folder` + "/PluginConfig.json"; `folder` is
// the plugin folder, without a trailing separator. Needs no host.
// Never reports a bad file to its caller: every problem is logged and the
// affected settings keep their defaults; the guide is written on every path.
// The operator's file is written only when absent (created) or outdated
// (kept under the first free backup name, then regenerated); an outdated
// file that cannot be kept stays as it is. Anything at the name that is not
// a regular file of at most 1 MiB (config_file.h) is left alone.
// Throws only what escapes outside the read (memory).
Config LoadConfig(const std::string& folder);

}  // namespace Quillmoor

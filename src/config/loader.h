// Loading of PluginConfig.json into a Config: creation of a missing file,
// regeneration of an outdated one, typed reads with defaults, range checks.
// Runs on the thread that loads the plugin, before any callback exists.
#pragma once

#include <cstdint>
#include <string>

#include "config/config.h"

namespace Quillmoor {

// Reads the configuration from `folder` + "/PluginConfig.json"; `folder` is
// the plugin folder, without a trailing separator. Needs no host.
// Never reports a bad file to its caller: every problem is logged and the
// affected settings keep their defaults; the guide is written on every path.
// Throws only what escapes outside the read (memory).
Config LoadConfig(const std::string& folder);

// Sets `field` to the nearer bound if it lies outside [low, high], with one
// warning naming `name`.
void ClampSetting(std::int32_t& field, std::int32_t low, std::int32_t high,
                  const std::string& name);
void ClampSetting(float& field, float low, float high, const std::string& name);

}  // namespace Quillmoor

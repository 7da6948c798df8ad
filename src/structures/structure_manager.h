// The structure net-frequency updater: a recurring timer whose every pass
// writes the configured network update frequencies into every structure of
// the world. Init runs where the plugin is loaded; the pass on the game thread.
#pragma once

#include "config/config.h"

namespace Quillmoor::StructureManager {

// Starts the timer "Quillmoor_StructNetFreq" with copies of the frequencies,
// the interval and the verbose flag, unless the updater is disabled. Never
// throws.
void Init(const Config& config);

}  // namespace Quillmoor::StructureManager

namespace Quillmoor {

// One pass: writes `netFreq` and `minNetFreq` into every non-null structure
// and records "Applied to <applied>/<total>" in the statistics log. Never
// throws: a failure is logged and ends the pass, and the actor array is
// released on every path.
// REQUIRES: game thread.
void UpdateStructureNetFreq(float netFreq, float minNetFreq, bool verbose);

}  // namespace Quillmoor

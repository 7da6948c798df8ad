// Console variables applied once, as soon as the game world exists, by an
// update callback that then removes itself. Game thread only.
#pragma once

#include <memory>
#include <string>

#include "config/config.h"

class UWorld;

namespace Quillmoor {

inline constexpr const wchar_t* kApplyCVarsOnceId = L"Quillmoor_ApplyCVarsOnce";

// Runs the enabled groups of console commands against the current world, each
// logged, then one summary line per group. Without a world: one error line,
// nothing run.
void ApplyGCCVars(const Config& config);

// Logs "[Quillmoor] CVar -> <command>" and has the engine execute `command`.
// REQUIRES: `command` is ASCII.
void ExecuteCVar(UWorld* world, const std::wstring& command);

// The update callback "Quillmoor_ApplyCVarsOnce". Copies share the snapshot
// and the applied flag, so whichever copy the framework calls, the variables
// are applied once. Never throws.
class ApplyCVarsOnce {
 public:
  explicit ApplyCVarsOnce(std::shared_ptr<const Config> snapshot)
      : snapshot_(std::move(snapshot)), applied_(std::make_shared<bool>(false)) {}
  void operator()() const noexcept;

 private:
  std::shared_ptr<const Config> snapshot_;
  std::shared_ptr<bool> applied_;
};

}  // namespace Quillmoor

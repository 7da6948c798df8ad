#include "devhost/commands.h"

#include <spdlog/logger.h>
#include <algorithm>
#include <cwctype>

#include "devhost/faults.h"
#include "devhost/log.h"
#include "devhost/plugin_guard.h"
#include "devhost/utf8.h"

namespace devhost {

namespace {

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
         });
}

// The plugin a module path stands for, for log lines: "Quillmoor" for
// ".../Quillmoor/Quillmoor.so"; the host itself for none.
std::string Owner(const std::string& module) {
  if (module.empty()) {
    return "the host";
  }
  const auto slash = module.find_last_of("/\\");
  std::string name = slash == std::string::npos ? module : module.substr(slash + 1);
  if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return "plugin " + name;
}

}  // namespace

CommandRegistry::~CommandRegistry() = default;

bool CommandRegistry::MayRemove(const std::string& owner, const char* what,
                                const std::wstring& key) {
  // The host (or its tests) may remove anything; a plugin only its own, so
  // that a second plugin asking for the same names cannot, at its unload,
  // take the first one's away while it runs.
  const std::string caller = current_module_();
  if (caller.empty() || caller == owner) {
    return true;
  }
  log_.Host().warn("{} '{}' belongs to {}; {} may not remove it, and it stays.", what,
                   Utf8Encode(key), Owner(owner), Owner(caller));
  return false;
}

void CommandRegistry::RegisterRconCommand(const FString& name, const AsaApi::RconHandler& handler) {
  faults_.Check("RegisterRconCommand");
  std::wstring key(*name);
  for (auto& entry : rcon_) {
    if (EqualsIgnoringCase(entry.name, key)) {
      log_.Host().warn("RCON command '{}' is registered already by {}; the name is refused to {}.",
                       Utf8Encode(key), Owner(entry.module), Owner(current_module_()));
      return;
    }
  }
  rcon_.push_back(
      Rcon{std::move(key), std::make_shared<AsaApi::RconHandler>(handler), current_module_()});
}

void CommandRegistry::RegisterUpdateCallback(const FString& id,
                                             const AsaApi::UpdateCallback& callback) {
  faults_.Check("RegisterUpdateCallback");
  std::wstring key(*id);
  for (auto& entry : updates_) {
    if (!entry.removed && entry.id == key) {
      log_.Host().warn(
          "Update callback '{}' is registered already by {}; the name is refused to {}.",
          Utf8Encode(key), Owner(entry.module), Owner(current_module_()));
      return;
    }
  }
  updates_.push_back(Update{std::move(key), std::make_shared<AsaApi::UpdateCallback>(callback),
                            current_module_(), false});
}

bool CommandRegistry::UnregisterRconCommand(const FString& name) {
  faults_.Check("UnregisterRconCommand");
  const std::wstring key(*name);
  auto it = std::find_if(rcon_.begin(), rcon_.end(),
                         [&](const Rcon& e) { return EqualsIgnoringCase(e.name, key); });
  if (it == rcon_.end() || !MayRemove(it->module, "RCON command", key)) {
    return false;
  }
  rcon_.erase(it);
  return true;
}

bool CommandRegistry::UnregisterUpdateCallback(const FString& id) {
  faults_.Check("UnregisterUpdateCallback");
  const std::wstring key(*id);
  for (auto& entry : updates_) {
    if (!entry.removed && entry.id == key) {
      if (!MayRemove(entry.module, "Update callback", key)) {
        return false;
      }
      // Erased only after the round: the callable may be the one running now.
      entry.removed = true;
      if (dispatching_ == 0) {
        Compact();
      }
      return true;
    }
  }
  return false;
}

bool CommandRegistry::ExecuteRcon(const std::wstring& name, RCONClientConnection* connection,
                                  RCONPacket* packet, UWorld* world) {
  auto it = std::find_if(rcon_.begin(), rcon_.end(),
                         [&](const Rcon& e) { return EqualsIgnoringCase(e.name, name); });
  if (it == rcon_.end()) {
    return false;
  }
  // A copy keeps the handler alive if it unregisters its own command.
  auto handler = it->handler;
  guard_.Run("RCON command handler", [&] { (*handler)(connection, packet, world); });
  return true;
}

void CommandRegistry::RunUpdateCallbacks() {
  ++dispatching_;
  // Callbacks registered during the round run from the next round on.
  const std::size_t n = updates_.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (updates_[i].removed) {
      continue;
    }
    auto callback = updates_[i].callback;
    guard_.Run("update callback", [&] { (*callback)(); });
  }
  --dispatching_;
  if (dispatching_ == 0) {
    Compact();
  }
}

void CommandRegistry::Compact() {
  std::erase_if(updates_, [](const Update& u) { return u.removed; });
}

bool CommandRegistry::HasRconCommand(const std::wstring& name) const {
  return std::any_of(rcon_.begin(), rcon_.end(),
                     [&](const Rcon& e) { return EqualsIgnoringCase(e.name, name); });
}

bool CommandRegistry::HasUpdateCallback(const std::wstring& id) const {
  return std::any_of(updates_.begin(), updates_.end(),
                     [&](const Update& u) { return !u.removed && u.id == id; });
}

std::vector<std::wstring> CommandRegistry::RconCommandNames() const {
  std::vector<std::wstring> names;
  for (auto& e : rcon_) {
    names.push_back(e.name);
  }
  return names;
}

std::size_t CommandRegistry::UpdateCallbackCount() const {
  return static_cast<std::size_t>(
      std::count_if(updates_.begin(), updates_.end(), [](const Update& u) { return !u.removed; }));
}

std::size_t CommandRegistry::DropModule(const std::string& module) {
  std::size_t dropped = 0;
  dropped += std::erase_if(rcon_, [&](const Rcon& e) { return e.module == module; });
  for (auto& u : updates_) {
    if (!u.removed && u.module == module) {
      u.removed = true;
      ++dropped;
    }
  }
  if (dispatching_ == 0) {
    Compact();
  }
  return dropped;
}

}  // namespace devhost

// The framework's command registry: remote-console commands by name (matched
// without regard to case) and update callbacks by identifier, each owned by
// the plugin that registered it. A name that is taken is refused to anyone
// else, and a plugin may remove only what it owns; each refusal is a host
// log line naming both plugins (the caller sees only `false` or nothing).
// Game thread only. Every call into a plugin's callable is guarded: an exception that
// escapes is logged and counted, and the host carries on.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devhost/export.h"
#include "host/framework.h"

namespace devhost {

class Faults;
class HostLog;
class PluginGuard;

class DEVHOST_API CommandRegistry final : public AsaApi::ICommands {
 public:
  // The module whose Plugin_Init or Plugin_Unload is running, or empty: the
  // owner of what gets registered now.
  using ModuleLookup = std::function<std::string()>;

  // REQUIRES: `faults`, `log` and `guard` outlive the registry.
  CommandRegistry(Faults& faults, HostLog& log, PluginGuard& guard, ModuleLookup current_module)
      : faults_(faults), log_(log), guard_(guard), current_module_(std::move(current_module)) {}
  CommandRegistry(const CommandRegistry&) = delete;
  CommandRegistry& operator=(const CommandRegistry&) = delete;
  ~CommandRegistry();

  void RegisterRconCommand(const FString& name, const AsaApi::RconHandler& handler) override;
  void RegisterUpdateCallback(const FString& id, const AsaApi::UpdateCallback& callback) override;
  bool UnregisterRconCommand(const FString& name) override;
  bool UnregisterUpdateCallback(const FString& id) override;

  // Runs the handler registered under `name`; false if there is none.
  bool ExecuteRcon(const std::wstring& name, RCONClientConnection* connection, RCONPacket* packet,
                   UWorld* world);
  // One round of update callbacks, in registration order. A callback may
  // unregister itself or another one while it runs.
  void RunUpdateCallbacks();

  bool HasRconCommand(const std::wstring& name) const;
  bool HasUpdateCallback(const std::wstring& id) const;
  std::vector<std::wstring> RconCommandNames() const;
  std::size_t UpdateCallbackCount() const;

  // Drops what a module left registered; returns how many entries went.
  std::size_t DropModule(const std::string& module);

 private:
  struct Rcon {
    std::wstring name;
    std::shared_ptr<AsaApi::RconHandler> handler;
    std::string module;
  };
  struct Update {
    std::wstring id;
    std::shared_ptr<AsaApi::UpdateCallback> callback;
    std::string module;
    bool removed = false;
  };
  void Compact();
  // True if the module running now may remove an entry of `owner`; logs the
  // refusal otherwise.
  bool MayRemove(const std::string& owner, const char* what, const std::wstring& key);

  Faults& faults_;
  HostLog& log_;
  PluginGuard& guard_;
  ModuleLookup current_module_;
  std::vector<Rcon> rcon_;
  std::vector<Update> updates_;
  int dispatching_ = 0;
};

}  // namespace devhost

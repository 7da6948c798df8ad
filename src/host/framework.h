// The plugin framework (AsaApi) as the plugin sees it: command registry,
// update callbacks, timers, world queries, tools and the shared log sinks.
// Everything here is called on the framework's game thread unless noted.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/ue_types.h"

namespace spdlog::sinks {
class sink;
}

namespace AsaApi {

using RconHandler = std::function<void(RCONClientConnection*, RCONPacket*, UWorld*)>;
using UpdateCallback = std::function<void()>;

class ICommands {
 public:
  // The handler runs once per request of that name, on the game thread.
  virtual void RegisterRconCommand(const FString& name, const RconHandler& handler) = 0;
  // The callback runs again and again, once per frame, until unregistered.
  virtual void RegisterUpdateCallback(const FString& id, const UpdateCallback& callback) = 0;
  // After these return, the command or callback is never called again. Safe
  // inside the callback being removed and for a name never registered.
  virtual bool UnregisterRconCommand(const FString& name) = 0;
  virtual bool UnregisterUpdateCallback(const FString& id) = 0;

 protected:
  ~ICommands() = default;
};

class IApiUtils {
 public:
  // The game world, or null until it exists.
  virtual UWorld* GetWorld() const = 0;
  // A new array of the actors of `group` within `radius` of `center`; the
  // caller owns it. Entries may be null.
  QM_HOST_API TArray<AActor*> GetAllActorsInRange(UE::Math::TVector<double> center, float radius,
                                                  EServerOctreeGroup::Type group) const;

 protected:
  ~IApiUtils() = default;
};

QM_HOST_API ICommands& GetCommands();
QM_HOST_API IApiUtils& GetApiUtils();

namespace Tools {
// The server's directory, narrow, without a trailing separator.
QM_HOST_API std::string GetCurrentDir();
// Decodes UTF-8; malformed sequences become U+FFFD, never an error.
QM_HOST_API std::wstring Utf8Decode(const std::string& text);
}  // namespace Tools

}  // namespace AsaApi

namespace API {
class Timer {
 public:
  QM_HOST_API static Timer& Get();
  // Runs `callback` every `interval_seconds` of game time, `count` times
  // (-1: without end), on the game thread when `async` is false. The timer
  // belongs to the module at `module_path`: the framework drops it when that
  // module is unloaded.
  QM_HOST_API void RecurringExecuteInternal(const std::function<void()>& callback,
                                            int interval_seconds, int count, bool async,
                                            const FString& identifier, const FString& module_path);

 private:
  Timer() = default;
};
}  // namespace API

// The framework's shared log sinks; loggers made on them write to the
// server's console and log file.
QM_HOST_API const std::vector<std::shared_ptr<spdlog::sinks::sink>>& GetLogSinks();

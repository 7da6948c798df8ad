// Lookups of engine functions, globals and fields by symbol name, as the
// framework offers them, and the names and call signatures of the engine
// symbols that the plugin reaches. Nothing here is cached: callers look a
// symbol up at every use.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/host_api.h"

class UEngine;
class UObject;
class APlayerController;
class RCONClientConnection;
class FString;

// Each returns a usable address, or throws std::runtime_error naming the
// symbol: an unknown name never yields an address. The names are taken as
// views so that a lookup by a literal allocates nothing.
QM_HOST_API void* GetAddress(std::string_view name);
QM_HOST_API void* GetAddress(const void* object, std::string_view name);
QM_HOST_API void* GetDataAddress(std::string_view name);

namespace Symbols {

inline constexpr std::string_view kGEngine = "Global.GEngine";
inline constexpr std::string_view kGUObjectArray = "Global.GUObjectArray";
inline constexpr std::string_view kForceGarbageCollection = "UEngine.ForceGarbageCollection(bool)";
inline constexpr std::string_view kExecuteConsoleCommand =
    "UKismetSystemLibrary.ExecuteConsoleCommand(UObject*,FString&,APlayerController*)";
inline constexpr std::string_view kSendMessage =
    "RCONClientConnection.SendMessage(int,int,FString&)";
inline constexpr std::string_view kNetUpdateFrequency = "AActor.NetUpdateFrequency";
inline constexpr std::string_view kMinNetUpdateFrequency = "AActor.MinNetUpdateFrequency";
inline constexpr std::string_view kFree = "FMemory.Free(void*)";

// Byte offset of the live object count inside the global object array.
inline constexpr std::size_t kObjectCountOffset = 36;

// Member functions take their object as the first argument, as the engine's
// calling convention passes `this`.
using ForceGarbageCollectionFn = void (*)(UEngine* engine, bool full_purge);
using ExecuteConsoleCommandFn = void (*)(UObject* world_context, FString* command,
                                         APlayerController* player);
using SendMessageFn = void (*)(RCONClientConnection* connection, int id, int type, FString* body);
using FreeFn = void (*)(void* data);

}  // namespace Symbols

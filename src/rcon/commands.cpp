#include "rcon/commands.h"

#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>

#include "common/guard.h"
#include "gc/gc_manager.h"
#include "host/framework.h"
#include "host/symbols.h"

namespace Quillmoor::Rcon {
namespace {

constexpr const wchar_t* kStatsCommand = L"GetServerStats";
// The RCON protocol's response-value packet type.
constexpr int kResponseValue = 0;

void SendReply(RCONClientConnection* connection, const RCONPacket* packet,
               const nlohmann::json& document) {
  FString body(AsaApi::Tools::Utf8Decode(document.dump()).c_str());
  auto send = reinterpret_cast<Symbols::SendMessageFn>(GetAddress(Symbols::kSendMessage));
  send(connection, packet->Id, kResponseValue, &body);
}

nlohmann::json ErrorReply(const char* cmd, const char* message) {
  return {{"cmd", cmd}, {"message", message}, {"status", "error"}};
}

}  // namespace

void RegisterCommands(const std::string& command_name) {
  auto& commands = AsaApi::GetCommands();
  commands.RegisterRconCommand(FString(AsaApi::Tools::Utf8Decode(command_name).c_str()),
                               &HandleForceGC);
  commands.RegisterRconCommand(FString(kStatsCommand), &HandleGetServerStats);
  Log().info("[Quillmoor] RCON command '{}' registered.", command_name);
  Log().info("[Quillmoor] RCON command 'GetServerStats' registered.");
}

void UnregisterCommands(const std::string& command_name) {
  auto& commands = AsaApi::GetCommands();
  commands.UnregisterRconCommand(FString(AsaApi::Tools::Utf8Decode(command_name).c_str()));
  commands.UnregisterRconCommand(FString(kStatsCommand));
  Log().info("[Quillmoor] RCON command '{}' unregistered.", command_name);
  Log().info("[Quillmoor] RCON command 'GetServerStats' unregistered.");
}

void HandleForceGC(RCONClientConnection* connection, RCONPacket* packet, UWorld*) {
  // The client waits for an answer: whatever happened, it gets one, and only
  // a requested collection is reported as a success.
  nlohmann::json reply =
      ErrorReply("ForceGC", "Garbage collection could not be forced: internal error");
  Guarded("Rcon::HandleForceGC", [&] {
    if (ForceGC("rcon", true)) {
      reply = {{"cmd", "ForceGC"},
               {"message", "Garbage collection forced successfully"},
               {"status", "success"}};
    } else {
      reply = ErrorReply("ForceGC", "Garbage collection could not be forced: engine not available");
    }
  });
  Guarded("Rcon::HandleForceGC reply", [&] { SendReply(connection, packet, reply); });
}

void HandleGetServerStats(RCONClientConnection* connection, RCONPacket* packet, UWorld*) {
  nlohmann::json reply = ErrorReply("GetServerStats", "Server statistics are not available");
  Guarded("Rcon::HandleGetServerStats", [&] {
    const auto* array = static_cast<const unsigned char*>(GetDataAddress(Symbols::kGUObjectArray));
    std::int32_t count = 0;
    std::memcpy(&count, array + Symbols::kObjectCountOffset, sizeof count);
    reply = {{"cmd", "GetServerStats"},
             {"data", {{"uobjects", static_cast<std::int64_t>(count)}}},
             {"status", "success"}};
  });
  Guarded("Rcon::HandleGetServerStats reply", [&] { SendReply(connection, packet, reply); });
}

}  // namespace Quillmoor::Rcon

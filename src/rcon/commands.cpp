#include "rcon/commands.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "common/guard.h"
#include "formats/log_text.h"
#include "formats/replies.h"
#include "formats/stats_line.h"
#include "host/framework.h"
#include "host/symbols.h"

namespace Quillmoor::Rcon {
namespace {

// The RCON protocol's response-value packet type.
constexpr int kResponseValue = 0;

FString CommandName(const std::string& name) {
  return FString(AsaApi::Tools::Utf8Decode(name).c_str());
}

// The name as the operator wrote it, with control characters and bytes that
// are not UTF-8 escaped: a name holding a line break must not forge a line
// of the host log.
std::string Shown(const std::string& name) {
  return formats::LogSafe(name, name.size());
}

void SendReply(RCONClientConnection* connection, const RCONPacket* packet,
               const std::string& reply) {
  FString body(AsaApi::Tools::Utf8Decode(reply).c_str());
  auto send = reinterpret_cast<Symbols::SendMessageFn>(GetAddress(Symbols::kSendMessage));
  send(connection, packet->Id, kResponseValue, &body);
}

}  // namespace

void RegisterCommands(const std::string& command_name, ForceCollection force,
                      Registered& registered) {
  auto& commands = AsaApi::GetCommands();
  // Room first: a name the framework took must be recorded without fail.
  registered.reserve(registered.size() + 2);
  commands.RegisterRconCommand(CommandName(command_name),
                               [force = std::move(force)](RCONClientConnection* connection,
                                                          RCONPacket* packet, UWorld* world) {
                                 HandleForceGC(force, connection, packet, world);
                               });
  registered.push_back(command_name);
  commands.RegisterRconCommand(CommandName(formats::kStatsCommand), &HandleGetServerStats);
  registered.emplace_back(formats::kStatsCommand);
  Log().info("[Quillmoor] RCON command '{}' registered.", Shown(command_name));
  Log().info("[Quillmoor] RCON command '{}' registered.", formats::kStatsCommand);
}

void UnregisterCommands(Registered& registered) {
  auto& commands = AsaApi::GetCommands();
  // Every removal first, then the lines. A name leaves `registered` as soon
  // as it is removed, so a framework that throws half-way is never asked to
  // remove it twice.
  Registered removed;
  removed.reserve(registered.size());
  while (!registered.empty()) {
    commands.UnregisterRconCommand(CommandName(registered.front()));
    removed.push_back(std::move(registered.front()));
    registered.erase(registered.begin());
  }
  for (const std::string& name : removed) {
    Log().info("[Quillmoor] RCON command '{}' unregistered.", Shown(name));
  }
}

void HandleForceGC(const ForceCollection& force, RCONClientConnection* connection,
                   RCONPacket* packet, UWorld*) {
  // The client waits for an answer: whatever happened, it gets one, and only
  // a requested collection is reported as a success.
  std::string reply = formats::ForceGcReply(formats::ForceGcOutcome::kFailed);
  Guarded("Rcon::HandleForceGC", [&] {
    reply = formats::ForceGcReply(force(formats::kRconTrigger, true)
                                      ? formats::ForceGcOutcome::kForced
                                      : formats::ForceGcOutcome::kNoEngine);
  });
  Guarded("Rcon::HandleForceGC reply", [&] { SendReply(connection, packet, reply); });
}

void HandleGetServerStats(RCONClientConnection* connection, RCONPacket* packet, UWorld*) {
  std::string reply = formats::StatsUnavailableReply();
  Guarded("Rcon::HandleGetServerStats", [&] {
    const auto* array = static_cast<const unsigned char*>(GetDataAddress(Symbols::kGUObjectArray));
    std::int32_t count = 0;
    std::memcpy(&count, array + Symbols::kObjectCountOffset, sizeof count);
    reply = formats::StatsReply(count);
  });
  Guarded("Rcon::HandleGetServerStats reply", [&] { SendReply(connection, packet, reply); });
}

}  // namespace Quillmoor::Rcon

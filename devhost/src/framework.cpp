// The framework's and the engine's functions as plugins call them, over the
// running devhost::Host.
#include <spdlog/logger.h>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <stdexcept>

#include "devhost/connection.h"
#include "devhost/host.h"
#include "devhost/utf8.h"
#include "host/framework.h"
#include "host/symbols.h"
#include "platform/native_path.h"

using devhost::Host;

namespace {

// --- engine functions handed out by GetAddress ---

void EngineFree(void* data) {
  Host& host = Host::Current();
  if (!host.allocator().Free(data)) {
    host.log().Host().error("FMemory.Free: {} is not a live engine block (freed twice?)", data);
  }
}

void EngineForceGarbageCollection(UEngine* engine, bool full_purge) {
  if (engine == nullptr) {
    throw std::invalid_argument("UEngine.ForceGarbageCollection called on a null engine");
  }
  ++engine->forced_collections;
  // The collection itself runs at the end of the frame, as the engine's does.
  (void)full_purge;  // every forced collection here is a full one
  engine->purge_pending = true;
}

void EngineExecuteConsoleCommand(UObject* /*world_context*/, FString* command,
                                 APlayerController* /*player*/) {
  Host::Current().engine().ExecuteConsoleCommand(command ? std::wstring(**command)
                                                         : std::wstring());
}

void EngineSendMessage(RCONClientConnection* connection, int id, int type, FString* body) {
  Host& host = Host::Current();
  host.faults().Check("SendMessage");
  if (connection == nullptr) {
    throw std::invalid_argument("RCONClientConnection.SendMessage called on a null connection");
  }
  connection->Deliver(RCONClientConnection::Reply{id, type, body ? std::wstring(**body) : L""});
}

struct Named {
  std::string_view name;
  void* address;
};

const Named kFunctions[] = {
    {Symbols::kFree, reinterpret_cast<void*>(&EngineFree)},
    {Symbols::kForceGarbageCollection, reinterpret_cast<void*>(&EngineForceGarbageCollection)},
    {Symbols::kExecuteConsoleCommand, reinterpret_cast<void*>(&EngineExecuteConsoleCommand)},
    {Symbols::kSendMessage, reinterpret_cast<void*>(&EngineSendMessage)},
};

struct Field {
  std::string_view name;
  std::size_t offset;
};

// The plugin reads the object count at this offset of the global object
// array; the simulated array must put it there.
static_assert(offsetof(FUObjectArray, NumElements) == Symbols::kObjectCountOffset);

const Field kFields[] = {
    {Symbols::kNetUpdateFrequency, offsetof(AActor, NetUpdateFrequency)},
    {Symbols::kMinNetUpdateFrequency, offsetof(AActor, MinNetUpdateFrequency)},
};

[[noreturn]] void Unknown(const char* kind, std::string_view name) {
  throw std::runtime_error(std::string("unknown ") + kind + " symbol: " + std::string(name));
}

class ApiUtils final : public AsaApi::IApiUtils {
 public:
  UWorld* GetWorld() const override {
    Host& host = Host::Current();
    host.faults().Check("GetWorld");
    return host.engine().world();
  }
};

}  // namespace

// --- lookups ---

void* GetAddress(std::string_view name) {
  Host& host = Host::Current();
  host.faults().CheckLookup(name);
  for (const auto& f : kFunctions) {
    if (f.name == name) {
      return f.address;
    }
  }
  Unknown("function", name);
}

// Runs for every actor of every structure pass: a comparison of a few short
// strings, no allocation.
void* GetAddress(const void* object, std::string_view name) {
  Host& host = Host::Current();
  host.faults().CheckLookup(name);
  for (const auto& f : kFields) {
    if (f.name == name) {
      return const_cast<char*>(static_cast<const char*>(object)) + f.offset;
    }
  }
  Unknown("field", name);
}

void* GetDataAddress(std::string_view name) {
  Host& host = Host::Current();
  host.faults().CheckLookup(name);
  if (name == Symbols::kGEngine) {
    return host.engine().engine_slot();
  }
  if (name == Symbols::kGUObjectArray) {
    return host.engine().object_array();
  }
  Unknown("data", name);
}

// --- engine value types ---

FString::FString(const wchar_t* text) {
  const std::size_t len = text ? std::wcslen(text) : 0;
  auto* buffer =
      static_cast<wchar_t*>(Host::Current().allocator().Allocate((len + 1) * sizeof(wchar_t)));
  if (len > 0) {
    std::memcpy(buffer, text, len * sizeof(wchar_t));
  }
  buffer[len] = L'\0';
  data_ = TArray<wchar_t>(buffer, static_cast<int32>(len + 1), static_cast<int32>(len + 1));
}

// --- framework ---

namespace AsaApi {

ICommands& GetCommands() {
  return Host::Current().commands();
}

IApiUtils& GetApiUtils() {
  static ApiUtils utils;
  return utils;
}

TArray<AActor*> IApiUtils::GetAllActorsInRange(UE::Math::TVector<double> center, float radius,
                                               EServerOctreeGroup::Type group) const {
  auto& host = Host::Current();
  const std::size_t capacity = host.engine().QueryCapacity();
  if (capacity == 0 || group != EServerOctreeGroup::STRUCTURES) {
    return {};
  }
  auto* data = static_cast<AActor**>(host.allocator().Allocate(capacity * sizeof(AActor*)));
  const std::size_t n = host.engine().Query(center, radius, group, data);
  return TArray<AActor*>(data, static_cast<int32>(n), static_cast<int32>(capacity));
}

namespace Tools {

std::string GetCurrentDir() {
  Host& host = Host::Current();
  host.faults().Check("GetCurrentDir");
  // Narrow as the framework's is: in the code page that the plugin's narrow
  // file functions read on Windows.
  std::string dir = devhost::NarrowPath(host.options().server_dir);
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) {
    dir.pop_back();
  }
  return dir;
}

}  // namespace Tools
}  // namespace AsaApi

namespace API {

Timer& Timer::Get() {
  static Timer timer;
  return timer;
}

void Timer::RecurringExecuteInternal(const std::function<void()>& callback, int interval_seconds,
                                     int count, bool /*async*/, const FString& identifier,
                                     const FString& module_path) {
  Host& host = Host::Current();
  host.faults().Check("Timer");
  host.timers().Add(callback, interval_seconds, count, std::wstring(*identifier),
                    Host::CanonicalModule(devhost::Utf8Encode(*module_path)), host.GameTime());
}

}  // namespace API

const std::vector<std::shared_ptr<spdlog::sinks::sink>>& GetLogSinks() {
  return Host::Current().log().Sinks();
}

// The framework's and the engine's functions as plugins call them, over the
// running devhost::Host.
#include <spdlog/logger.h>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <stdexcept>

#include "devhost/connection.h"
#include "devhost/host.h"
#include "host/framework.h"
#include "host/symbols.h"

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
  std::string dir = host.options().server_dir.string();
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) {
    dir.pop_back();
  }
  return dir;
}

std::wstring Utf8Decode(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  constexpr char32_t kReplacement = 0xFFFD;
  auto put = [&](char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        return;
      }
    }
    out.push_back(static_cast<wchar_t>(cp));
  };
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (c < 0x80) {
      put(c);
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      put(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= n || (s[j] & 0xC0) != 0x80) {
        break;
      }
      cp = (cp << 6) | (s[j] & 0x3F);
    }
    if (j - i != static_cast<std::size_t>(extra) + 1 || cp < min || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      put(kReplacement);
      i = (j == i + 1) ? i + 1 : j;  // skip the bad sequence, resync on the next lead byte
      continue;
    }
    put(cp);
    i = j;
  }
  return out;
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

namespace devhost {

std::string Utf8Encode(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto cp = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
        const auto low = static_cast<char32_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace devhost

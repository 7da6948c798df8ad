// The simulated engine and world: the engine object and its collections, the
// global object array, console variables, and a world of structure actors.
// Game thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "devhost/export.h"
#include "host/ue_types.h"

class UEngine {
 public:
  std::uint64_t forced_collections = 0;  // requests received
  bool purge_pending = false;
};

// The engine's global object array; only the count is modelled.
struct FUObjectArray {
  unsigned char header[36] = {};
  std::int32_t NumElements = 0;
  std::int32_t MaxElements = 0;
};

// About the size of a placed structure in a real engine, and allocated one by
// one, so that walking many of them costs what it costs on a server.
class AActor {
 public:
  static constexpr float kDefaultNetUpdateFrequency = 10.0f;
  static constexpr float kDefaultMinNetUpdateFrequency = 2.0f;

  unsigned char head[0x2a8] = {};
  float NetUpdateFrequency = kDefaultNetUpdateFrequency;
  float MinNetUpdateFrequency = kDefaultMinNetUpdateFrequency;
  unsigned char tail[1024 - 0x2a8 - 8] = {};
};
static_assert(sizeof(AActor) == 1024);

class UWorld {
 public:
  unsigned char opaque[64] = {};
};

namespace devhost {

struct EngineOptions {
  std::int32_t objects = 100000;     // live objects at start
  std::int32_t object_churn = 1000;  // objects created per game second
  bool engine = true;                // false: "Global.GEngine" holds null
  int structures = 1000;
  int null_structures = 0;  // null entries added to each structure query
  std::uint32_t seed = 1;
};

// The console commands an Engine keeps for ConsoleHistory(): a plugin
// reloaded a thousand times sends its commands a thousand times, and the host
// must not keep them all. (Outside the class: a member of an exported class
// would have to be imported from the DLL.)
inline constexpr std::size_t kConsoleHistoryKept = 64;

class DEVHOST_API Engine {
 public:
  explicit Engine(const EngineOptions& options);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine();

  // --- engine objects ---
  UEngine** engine_slot() { return &engine_ptr_; }
  void SetEngineNull(bool null);
  FUObjectArray* object_array() { return &objects_; }
  std::int32_t ObjectCount() const { return objects_.NumElements; }
  std::uint64_t ForcedCollections() const { return engine_.forced_collections; }
  std::uint64_t Purges() const { return purges_; }

  // Advances the simulation by `dt` game seconds: objects are created, an
  // automatic purge runs when due, a requested full collection runs.
  void Advance(double dt);

  // --- console variables ---
  void ExecuteConsoleCommand(const std::wstring& command);
  // The last kConsoleHistoryKept console commands, oldest first.
  std::vector<std::wstring> ConsoleHistory() const {
    return std::vector<std::wstring>(history_.begin(), history_.end());
  }
  // Every console command since the engine started, kept or not.
  std::uint64_t ConsoleCommandCount() const { return console_commands_; }
  // The value last set for `name`, or empty.
  std::string ConsoleVariable(const std::string& name) const;
  double TickRate() const;       // follows t.MaxFPS
  double PurgeInterval() const;  // follows gc.TimeBetweenPurgingPendingKillObjects

  // --- world ---
  bool WorldExists() const { return world_exists_; }
  void SetWorldExists(bool exists) { world_exists_ = exists; }
  UWorld* world() { return world_exists_ ? &world_ : nullptr; }
  // Creates `n` more structures (allocated one by one).
  void AddStructures(int n);
  const std::vector<std::unique_ptr<AActor>>& Structures() const { return actors_; }
  // Writes the actors of `group` within `radius` of `center` into `out`, in
  // octree order (not allocation order), with the configured null entries
  // spread among them; returns how many it wrote.
  // REQUIRES: `out` holds QueryCapacity() entries.
  std::size_t Query(UE::Math::TVector<double> center, float radius, int group, AActor** out) const;
  std::size_t QueryCapacity() const {
    return octree_.size() + static_cast<std::size_t>(null_structures_);
  }

 private:
  // One octree entry: the actor and where it stands, kept in octree order so
  // that a query streams through them instead of jumping around.
  struct Entry {
    AActor* actor;
    double x, y, z;
  };

  UEngine engine_;
  UEngine* engine_ptr_ = nullptr;
  FUObjectArray objects_;
  std::int64_t live_ = 0;
  double pending_kill_ = 0;  // purged by automatic and forced collections
  double unreachable_ = 0;   // found only by a full collection
  double since_purge_ = 0;
  std::uint64_t purges_ = 0;
  std::int32_t churn_ = 0;

  std::map<std::string, std::string, std::less<>> cvars_;
  std::deque<std::wstring> history_;
  std::uint64_t console_commands_ = 0;

  bool world_exists_ = false;
  UWorld world_;
  std::vector<std::unique_ptr<AActor>> actors_;
  std::vector<Entry> octree_;
  int null_structures_ = 0;
  std::mt19937 rng_;
};

}  // namespace devhost

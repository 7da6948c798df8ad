#include "devhost/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>

#include "devhost/utf8.h"

namespace devhost {

namespace {

// Engine defaults for the two variables the simulation follows.
constexpr double kDefaultTickRate = 60.0;
constexpr double kDefaultPurgeInterval = 60.0;
// Share of new objects that only a full collection finds (the slow leak that
// forced collections exist for); the rest die as pending-kill garbage.
constexpr double kUnreachableShare = 0.1;
// Structures stand inside this square (in engine units) around the origin.
constexpr double kWorldHalfExtent = 400000.0;

double ParseOr(const std::string& text, double fallback) {
  if (text.empty()) {
    return fallback;
  }
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return (end == text.c_str() || !std::isfinite(v)) ? fallback : v;
}

}  // namespace

Engine::Engine(const EngineOptions& options)
    : live_(std::max<std::int32_t>(options.objects, 0)),
      churn_(std::max<std::int32_t>(options.object_churn, 0)),
      null_structures_(std::max(options.null_structures, 0)),
      rng_(options.seed) {
  engine_ptr_ = options.engine ? &engine_ : nullptr;
  objects_.NumElements = static_cast<std::int32_t>(live_);
  objects_.MaxElements = std::numeric_limits<std::int32_t>::max();
  AddStructures(options.structures);
}

Engine::~Engine() = default;

void Engine::SetEngineNull(bool null) {
  engine_ptr_ = null ? nullptr : &engine_;
}

void Engine::Advance(double dt) {
  if (dt > 0) {
    const double created = churn_ * dt;
    unreachable_ += created * kUnreachableShare;
    pending_kill_ += created * (1.0 - kUnreachableShare);
    since_purge_ += dt;
  }
  if (engine_.purge_pending) {
    engine_.purge_pending = false;
    pending_kill_ = 0;
    unreachable_ = 0;
    since_purge_ = 0;
    ++purges_;
  } else if (since_purge_ >= PurgeInterval()) {
    pending_kill_ = 0;
    since_purge_ = 0;
    ++purges_;
  }
  const double total =
      static_cast<double>(live_) + std::floor(pending_kill_) + std::floor(unreachable_);
  objects_.NumElements = static_cast<std::int32_t>(
      std::min(total, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

void Engine::ExecuteConsoleCommand(const std::wstring& command) {
  ++console_commands_;
  if (history_.size() == kConsoleHistoryKept) {
    history_.pop_front();
  }
  history_.push_back(command);
  const std::string narrow = Utf8Encode(command);
  const auto space = narrow.find(' ');
  const std::string name = narrow.substr(0, space);
  if (name.empty()) {
    return;
  }
  cvars_[name] = space == std::string::npos ? std::string() : narrow.substr(space + 1);
}

std::string Engine::ConsoleVariable(const std::string& name) const {
  auto it = cvars_.find(name);
  return it == cvars_.end() ? std::string() : it->second;
}

double Engine::TickRate() const {
  const double fps = ParseOr(ConsoleVariable("t.MaxFPS"), kDefaultTickRate);
  return fps >= 1.0 ? std::min(fps, 1000.0) : kDefaultTickRate;
}

double Engine::PurgeInterval() const {
  const double s =
      ParseOr(ConsoleVariable("gc.TimeBetweenPurgingPendingKillObjects"), kDefaultPurgeInterval);
  return s > 0 ? s : kDefaultPurgeInterval;
}

void Engine::AddStructures(int n) {
  if (n <= 0) {
    return;
  }
  std::uniform_real_distribution<double> coordinate(-kWorldHalfExtent, kWorldHalfExtent);
  actors_.reserve(actors_.size() + static_cast<std::size_t>(n));
  octree_.reserve(octree_.size() + static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    actors_.push_back(std::make_unique<AActor>());
    octree_.push_back(Entry{actors_.back().get(), coordinate(rng_), coordinate(rng_), 0.0});
  }
  // An octree hands actors back by cell, which has nothing to do with the
  // order in which they were allocated.
  std::shuffle(octree_.begin(), octree_.end(), rng_);
}

std::size_t Engine::Query(UE::Math::TVector<double> center, float radius, int group,
                          AActor** out) const {
  if (group != EServerOctreeGroup::STRUCTURES || !(radius >= 0)) {
    return 0;
  }
  const double r = radius;
  // As in an octree, a node that lies wholly inside the sphere is taken whole,
  // without testing its members one by one.
  const double far_x = kWorldHalfExtent + std::abs(center.X);
  const double far_y = kWorldHalfExtent + std::abs(center.Y);
  const double far_z = std::abs(center.Z);
  const bool whole_world = far_x * far_x + far_y * far_y + far_z * far_z <= r * r;
  // Null entries are spread evenly through the result, the first entry included.
  const std::size_t nulls = static_cast<std::size_t>(null_structures_);
  const std::size_t stride = nulls == 0 ? 0 : std::max<std::size_t>(1, QueryCapacity() / nulls);
  std::size_t n = 0;
  std::size_t next_null = 0;
  std::size_t placed_nulls = 0;
  for (const Entry& e : octree_) {
    if (placed_nulls < nulls && n >= next_null) {
      out[n++] = nullptr;
      ++placed_nulls;
      next_null += stride;
    }
    const double dx = e.x - center.X, dy = e.y - center.Y, dz = e.z - center.Z;
    if (whole_world || dx * dx + dy * dy + dz * dz <= r * r) {
      out[n++] = e.actor;
    }
  }
  for (; placed_nulls < nulls; ++placed_nulls) {
    out[n++] = nullptr;
  }
  return n;
}

}  // namespace devhost

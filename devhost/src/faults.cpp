#include "devhost/faults.h"

#include <stdexcept>

namespace devhost {

namespace {
struct UnknownFault {};
}  // namespace

void Faults::ThrowOn(std::string point, int nth) {
  Add(std::move(point), nth, false);
}

void Faults::ThrowUnknownOn(std::string point, int nth) {
  Add(std::move(point), nth, true);
}

void Faults::Add(std::string point, int nth, bool unknown) {
  if (nth < 1) {
    throw std::invalid_argument("Faults: nth must be at least 1, got " + std::to_string(nth));
  }
  std::lock_guard lock(mutex_);
  arms_[std::move(point)] = Arm{nth, unknown};
  armed_.store(static_cast<int>(arms_.size()));
}

void Faults::CheckSlow(std::string_view point) {
  bool unknown = false;
  {
    std::lock_guard lock(mutex_);
    auto it = arms_.find(point);
    if (it == arms_.end() || --it->second.remaining > 0) {
      return;
    }
    unknown = it->second.unknown;
    arms_.erase(it);
    armed_.store(static_cast<int>(arms_.size()));
  }
  if (unknown) {
    throw UnknownFault{};
  }
  throw std::runtime_error("injected fault: " + std::string(point));
}

}  // namespace devhost

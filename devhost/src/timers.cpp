#include "devhost/timers.h"

#include <algorithm>
#include <stdexcept>

#include "devhost/plugin_guard.h"

namespace devhost {

namespace {
// A long stall (a debugger, a huge --time-scale) must not turn into
// thousands of firings in one frame.
constexpr int kMaxCatchUp = 16;
}  // namespace

TimerService::~TimerService() = default;

void TimerService::Add(std::function<void()> callback, int interval_seconds, int count,
                       std::wstring id, std::string module, double now) {
  if (interval_seconds < 1) {
    throw std::invalid_argument("timer interval must be at least 1 second, got " +
                                std::to_string(interval_seconds));
  }
  if (count == 0 || count < -1) {
    throw std::invalid_argument("timer count must be -1 or positive, got " + std::to_string(count));
  }
  Entry e;
  e.info = TimerInfo{std::move(id), interval_seconds, count, std::move(module), 0};
  e.callback = std::make_shared<std::function<void()>>(std::move(callback));
  e.next_due = now + interval_seconds;
  timers_.push_back(std::move(e));
}

void TimerService::RunDue(double now) {
  running_ = true;
  const std::size_t n = timers_.size();
  for (std::size_t i = 0; i < n; ++i) {
    for (int k = 0; k < kMaxCatchUp; ++k) {
      Entry& e = timers_[i];
      if (e.removed || e.next_due > now) {
        break;
      }
      e.next_due += e.info.interval_seconds;
      ++e.info.fired;
      if (e.info.remaining > 0 && --e.info.remaining == 0) {
        e.removed = true;
      }
      auto callback = e.callback;
      guard_.Run("timer", [&] { (*callback)(); });
    }
    Entry& e = timers_[i];
    if (!e.removed && e.next_due <= now) {
      e.next_due = now + e.info.interval_seconds;  // give up on the backlog
    }
  }
  running_ = false;
  std::erase_if(timers_, [](const Entry& e) { return e.removed; });
}

std::size_t TimerService::DropModule(const std::string& module) {
  std::size_t dropped = 0;
  for (auto& e : timers_) {
    if (!e.removed && e.info.module == module) {
      e.removed = true;
      ++dropped;
    }
  }
  if (!running_) {
    std::erase_if(timers_, [](const Entry& e) { return e.removed; });
  }
  return dropped;
}

std::vector<TimerInfo> TimerService::List() const {
  std::vector<TimerInfo> out;
  for (auto& e : timers_) {
    if (!e.removed) {
      out.push_back(e.info);
    }
  }
  return out;
}

}  // namespace devhost

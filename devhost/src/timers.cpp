#include "devhost/timers.h"

#include <spdlog/logger.h>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "devhost/log.h"
#include "devhost/plugin_guard.h"
#include "devhost/utf8.h"
#include "formats/log_text.h"

namespace devhost {

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
    Entry& e = timers_[i];
    if (e.removed || e.next_due > now) {
      continue;
    }
    const double interval = e.info.interval_seconds;
    e.next_due += interval;
    if (e.next_due <= now) {
      // Catching up would run a whole pass per missed interval in one frame:
      // at a time scale of a million, a structure pass over millions of
      // actors a hundred times over, while RCON waits for the frame to end.
      const auto behind = static_cast<std::size_t>(std::floor((now - e.next_due) / interval)) + 1;
      e.next_due += static_cast<double>(behind) * interval;
      if (e.info.skipped == 0) {
        log_.Host().warn(
            "Timer {} fell {} firing(s) behind game time in one frame; they are skipped: a timer "
            "fires at most once a frame (later skips are counted, not logged)",
            formats::LogSafe(Utf8Encode(e.info.id), 64), behind);
      }
      e.info.skipped += behind;
    }
    ++e.info.fired;
    if (e.info.remaining > 0 && --e.info.remaining == 0) {
      e.removed = true;
    }
    auto callback = e.callback;
    guard_.Run("timer", [&] { (*callback)(); });
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

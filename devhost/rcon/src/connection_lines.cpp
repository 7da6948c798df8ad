#include "rcon_server/connection_lines.h"

#include <fmt/format.h>
#include <algorithm>

namespace devhost::rcon {

namespace {

// Addresses with lines and a summary of their own per period; more are
// counted together. With the total below, a period writes at most about 270
// lines (about 30 KB) however many addresses take part: the default 40 MiB
// of host log hold more than a day of the worst flood.
constexpr std::size_t kMaxAddresses = 64;
constexpr std::size_t kMaxWrittenPerPeriod = 200;

}  // namespace

ConnectionLines::ConnectionLines(std::size_t per_address, Clock::duration period)
    : per_address_(per_address), period_(period) {}

bool ConnectionLines::Admit(const asio::ip::address& address, Kind kind, Clock::time_point now) {
  // A period that counted nothing ends by itself; one that did ends with
  // its summary (Summaries).
  if (start_ && now - *start_ >= period_ && counted_ == 0) {
    start_.reset();
    addresses_.clear();
    written_ = 0;
  }
  if (!start_) {
    start_ = now;
  }
  Counts* counts = nullptr;
  if (auto it = addresses_.find(address); it != addresses_.end()) {
    counts = &it->second;
  } else if (addresses_.size() < kMaxAddresses) {
    counts = &addresses_[address];
  }
  const auto k = static_cast<std::size_t>(kind);
  if (counts != nullptr && counts->written[k] < per_address_ && written_ < kMaxWrittenPerPeriod) {
    ++counts->written[k];
    ++written_;
    return true;
  }
  Counts& into = counts != nullptr ? *counts : others_;
  if (kind == Kind::kWrongPassword) {
    ++into.wrong;
  } else {
    ++into.counted;
    into.refused += kind == Kind::kRefusal ? 1 : 0;
  }
  ++counted_;
  return false;
}

std::optional<ConnectionLines::Clock::time_point> ConnectionLines::SummaryDue() const {
  if (counted_ == 0 || !start_) {
    return std::nullopt;
  }
  return *start_ + period_;
}

std::vector<std::string> ConnectionLines::Summaries(Clock::time_point now) {
  std::vector<std::string> out;
  if (counted_ > 0 && start_) {
    const auto seconds =
        std::max<std::int64_t>(1, std::chrono::round<std::chrono::seconds>(now - *start_).count());
    auto line = [&](const Counts& c, const std::string& from) {
      if (c.counted > 0) {
        out.push_back(fmt::format(
            "RCON: ... and {} more connections from {} in the last {} s{}", c.counted, from,
            seconds,
            c.refused == 0 ? std::string() : fmt::format(" ({} of them refused)", c.refused)));
      }
      if (c.wrong > 0) {
        out.push_back(fmt::format("RCON: ... and {} more wrong passwords from {} in the last {} s",
                                  c.wrong, from, seconds));
      }
    };
    for (const auto& [address, counts] : addresses_) {
      line(counts, address.to_string());
    }
    line(others_, fmt::format("addresses beyond the first {}", kMaxAddresses));
  }
  start_.reset();
  addresses_.clear();
  others_ = {};
  written_ = 0;
  counted_ = 0;
  return out;
}

}  // namespace devhost::rcon

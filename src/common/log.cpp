#include "common/log.h"

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "host/framework.h"

namespace Quillmoor {
namespace {

constexpr const char* kLoggerName = "Quillmoor";

struct Channel {
  // Until Plugin_Init makes the real logger, lines must not vanish: a failure
  // to make it is reported through this one.
  std::shared_ptr<spdlog::logger> logger = std::make_shared<spdlog::logger>(
      kLoggerName, std::make_shared<spdlog::sinks::stderr_sink_mt>());
};

Channel& TheChannel() {
  static Channel channel;
  return channel;
}

}  // namespace

spdlog::logger& Log() {
  return *TheChannel().logger;
}

void CreateHostLogger() {
  const auto& sinks = GetLogSinks();
  auto logger = std::make_shared<spdlog::logger>(kLoggerName, sinks.begin(), sinks.end());
  logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      "%D %R [%n][%l] %v", spdlog::pattern_time_type::local));
  logger->flush_on(spdlog::level::info);
  TheChannel().logger = std::move(logger);
}

}  // namespace Quillmoor

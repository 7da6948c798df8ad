#include "stats/stats_logger.h"

#include <rotating_log/rotating_file_sink.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>
#include <filesystem>
#include <string>

#include "common/log.h"
#include "formats/plugin_files.h"
#include "formats/stats_line.h"

namespace Quillmoor::StatsLogger {
namespace {

constexpr const char* kLoggerName = "Quillmoor_stats";
constexpr std::size_t kMaxFileSize = 5 * 1024 * 1024;
constexpr std::size_t kMaxFiles = 3;

// Called once when a rotation fails (again only with another reason) and
// once when it works again; the lines go on into the live file meanwhile.
void ReportRotation(const rotating_log::RotationNews& news) {
  if (news.failed) {
    Quillmoor::Log().error(
        "[Quillmoor] StatsLogger rotation failed: {}. No file was renamed: {} takes the lines "
        "and grows past 5 MiB, the older files stay as they were; rotation is tried again at "
        "every line.",
        news.message, formats::kStatsLogFile);
  } else {
    Quillmoor::Log().info("[Quillmoor] StatsLogger rotation works again.");
  }
}

}  // namespace

void Init(const std::string& folder) {
  try {
    // The library would create a missing folder; a plugin folder that is not
    // there means a broken installation, which must be reported, not patched.
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
      throw spdlog::spdlog_ex("plugin folder does not exist: " + folder);
    }
    // Our own sink, not the library's: a regular file only (never a link or a
    // FIFO), and a rotation that fails keeps the history instead of
    // truncating it.
    auto logger = std::make_shared<spdlog::logger>(
        kLoggerName, std::make_shared<rotating_log::RotatingFileSink>(
                         rotating_log::PathFromNarrow(folder + "/" + formats::kStatsLogFile),
                         kMaxFileSize, kMaxFiles, ReportRotation));
    spdlog::initialize_logger(logger);  // registers it; throws if the name is taken
    // CR LF on every platform: the file is read on Windows servers.
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        std::string(formats::kStatsLinePattern), spdlog::pattern_time_type::local,
        std::string(formats::kStatsLineEnd)));
    logger->set_level(spdlog::level::info);
    logger->flush_on(spdlog::level::info);
  } catch (const std::exception& e) {
    Quillmoor::Log().error("[Quillmoor] StatsLogger::Init exception: {}", e.what());
  }
}

void Log(const std::string& message) {
  try {
    if (auto logger = spdlog::get(kLoggerName)) {
      // Passed as an argument, never as the format: "{}" and "%d" stay as written.
      logger->info("{}", message);
    }
  } catch (...) {
    // The library reports its own write errors; nothing else may escape.
  }
}

void Shutdown() {
  spdlog::drop(kLoggerName);
}

}  // namespace Quillmoor::StatsLogger

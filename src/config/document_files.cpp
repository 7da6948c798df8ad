#include "config/document_files.h"

#include <spdlog/logger.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "common/log.h"
#include "config/guide.h"
#include "formats/plugin_files.h"

namespace Quillmoor {
namespace {

// Returns whether `path` now holds `text`; on failure it holds what it held.
bool WriteWhole(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  std::error_code ec;
  // A leftover of a crash, or a link planted there: removed, not followed.
  std::filesystem::remove(temp, ec);
  bool written = false;
  {
    std::ofstream out(temp, std::ios::out | std::ios::trunc);
    if (out.is_open()) {
      out << text;
      out.flush();
      out.close();  // a failing close sets failbit too
      written = !out.fail();
    }
  }
  // rename replaces an existing file atomically on POSIX; on Windows,
  // libstdc++ implements it with MoveFileExW and MOVEFILE_REPLACE_EXISTING,
  // so an existing target is replaced there as well.
  if (written) {
    std::filesystem::rename(temp, path, ec);
    written = !ec;
  }
  if (!written) {
    std::filesystem::remove(temp, ec);
  }
  return written;
}

}  // namespace

void WriteDefaultConfig(const std::string& path, const nlohmann::json& document,
                        const std::string& reason) {
  if (!WriteWhole(path, document.dump(2))) {
    Log().warn("[Quillmoor] {} {} but could not be created at: {}. Using defaults.",
               formats::kConfigFile, reason, path);
    return;
  }
  Log().info("[Quillmoor] {} {} — generated with defaults at: {}", formats::kConfigFile, reason,
             path);
}

void WriteConfigGuide(const std::string& folder) {
  WriteWhole(folder + "/" + formats::kGuideFile, BuildGuideDocument().dump(2));
}

}  // namespace Quillmoor

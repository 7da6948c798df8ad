#include "config/document_files.h"

#include <spdlog/logger.h>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/log.h"
#include "config/guide.h"
#include "config/whole_file.h"
#include "formats/plugin_files.h"

namespace Quillmoor {
namespace {

namespace fs = std::filesystem;

// The text as a text-mode stream stores it, so that it can be compared and
// rewritten in place as bytes.
std::string FileBytes(const std::string& text) {
  std::string bytes;
  for (const char c : text) {
    if (c == '\n') {
      bytes += formats::kDocumentLineEnd;
    } else {
      bytes += c;
    }
  }
  return bytes;
}

// Rewrites the file at `path`, `old_size` bytes long, to hold `bytes`,
// without a second file: for a folder in which no file can be created. The
// new blocks are taken before any old byte is overwritten, so a full disk
// fails the growth, which is cut off again, and the old text stays whole.
// Only a file system that copies on write can still fail the overwrite and
// leave a mixture.
void RewriteInPlace(const std::string& path, std::uintmax_t old_size, const std::string& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file.is_open()) {
    return;
  }
  const auto kept = static_cast<std::size_t>(std::min<std::uintmax_t>(old_size, bytes.size()));
  std::error_code ec;
  if (bytes.size() > kept) {
    file.seekp(static_cast<std::streamoff>(kept));
    file.write(bytes.data() + kept, static_cast<std::streamsize>(bytes.size() - kept));
    file.flush();
    if (file.fail()) {
      file.close();
      fs::resize_file(path, old_size, ec);
      return;
    }
  }
  file.seekp(0);
  file.write(bytes.data(), static_cast<std::streamsize>(kept));
  file.close();
  if (!file.fail() && bytes.size() < old_size) {
    fs::resize_file(path, bytes.size(), ec);
  }
}

// Brings the regular file at `path` to `text`, unless the server may not
// write it: a read-only guide (no write permission for the server's user,
// or for anyone; the read-only attribute on Windows) or one another program
// holds locked is the operator's, and stays as it is.
void RefreshGuide(const std::string& path, const std::string& text) {
  const std::string bytes = FileBytes(text);
  std::error_code ec;
  const std::uintmax_t old_size = fs::file_size(path, ec);
  if (ec) {
    return;
  }
  // Made read-only (write permission for nobody; on Windows the read-only
  // attribute): the operator's, even to a server that runs as root or as an
  // administrator, whom the system would let write it anyway.
  constexpr fs::perms kWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  const fs::file_status status = fs::status(path, ec);
  if (!ec && (status.permissions() & kWrite) == fs::perms::none) {
    return;
  }
  {
    // Opened for writing as a test of that permission; nothing is truncated.
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file.is_open()) {
      return;
    }
    if (old_size == bytes.size()) {
      std::string old(bytes.size(), '\0');
      file.read(old.data(), static_cast<std::streamsize>(old.size()));
      if (file && old == bytes) {
        return;  // nothing to change, nothing to risk
      }
    }
  }
  // In a folder in which no file can be created the rename is impossible.
  if (!WriteWholeFile(path, text)) {
    RewriteInPlace(path, old_size, bytes);
  }
}

}  // namespace

void WriteDefaultConfig(const std::string& path, const nlohmann::json& document,
                        const std::string& reason) {
  if (!WriteWholeFile(path, document.dump(2))) {
    Log().warn("[Quillmoor] {} {} but could not be created at: {}. Using defaults.",
               formats::kConfigFile, reason, path);
    return;
  }
  Log().info("[Quillmoor] {} {} — generated with defaults at: {}", formats::kConfigFile, reason,
             path);
}

void WriteConfigGuide(const std::string& folder) {
  const std::string path = folder + "/" + formats::kGuideFile;
  const std::string text = BuildGuideDocument().dump(2);
  std::error_code ec;
  switch (fs::symlink_status(path, ec).type()) {
    case fs::file_type::regular:
      RefreshGuide(path, text);
      break;
    case fs::file_type::not_found:
    case fs::file_type::symlink:  // replaced, never written through
      WriteWholeFile(path, text);
      break;
    default:
      // A folder, a FIFO, a device, or a name that cannot be looked at: not
      // the plugin's to touch, and a FIFO would block the start-up.
      break;
  }
}

}  // namespace Quillmoor

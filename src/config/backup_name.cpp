#include "config/backup_name.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace Quillmoor {

std::string BackupName(const std::string& path, unsigned n) {
  return n == 0 ? path + ".bak" : path + "." + std::to_string(n) + ".bak";
}

std::string FreeBackupName(const std::string& path) {
  for (unsigned n = 0;; ++n) {
    std::string name = BackupName(path, n);
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(name, ec))) {
      return name;
    }
  }
}

std::optional<unsigned> BackupNumber(std::string_view config_name, std::string_view file_name) {
  if (!file_name.starts_with(config_name) || !file_name.ends_with(".bak")) {
    return std::nullopt;
  }
  std::string_view middle = file_name.substr(config_name.size());
  middle.remove_suffix(4);
  if (middle.empty()) {
    return 0u;
  }
  // ".7": digits only, without a sign or leading zero, so that each number
  // has exactly one name.
  unsigned n = 0;
  if (middle.size() < 2 || middle[0] != '.' || middle[1] == '0') {
    return std::nullopt;
  }
  const char* first = middle.data() + 1;
  const char* last = middle.data() + middle.size();
  const auto [end, ec] = std::from_chars(first, last, n);
  if (ec != std::errc() || end != last) {
    return std::nullopt;
  }
  return n;
}

}  // namespace Quillmoor

#include <system_error>

#include "platform/native_path.h"

namespace devhost {

std::filesystem::path ExecutablePath() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self;
}

std::string NarrowPath(const std::filesystem::path& path) {
  return path.string();
}

std::filesystem::path PathFromNarrow(const std::string& text) {
  return std::filesystem::path(text);
}

}  // namespace devhost

#include "watch/credentials.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "watch/regular_file.h"

namespace watch {

std::optional<std::string> ServerPassword(const char* from_environment,
                                          const char* credentials_directory) {
  if (from_environment != nullptr) {
    return std::string(from_environment);
  }
  if (credentials_directory == nullptr || *credentials_directory == '\0') {
    return std::nullopt;
  }
  const std::filesystem::path path =
      std::filesystem::path(credentials_directory) / kPasswordCredential;
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    return std::nullopt;
  }
  std::string password = ReadRegularFile(path);
  if (password.ends_with('\n')) {
    password.pop_back();
    if (password.ends_with('\r')) {
      password.pop_back();
    }
  }
  if (password.empty()) {
    throw std::runtime_error(path.string() + " is empty");
  }
  return password;
}

}  // namespace watch

#include "config/config_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace Quillmoor {

ConfigFileText ReadConfigFile(const std::string& path) {
  namespace fs = std::filesystem;
  using State = ConfigFileText::State;
  std::error_code ec;
  // The name itself first, not what a link points to: a broken link is
  // something the operator put there, not a missing file.
  const fs::file_status name = fs::symlink_status(path, ec);
  if (name.type() == fs::file_type::not_found) {
    return {State::kAbsent, {}, {}};
  }
  if (ec) {
    return {State::kUnknown, {}, ec.message()};
  }
  // Opening a FIFO for reading blocks until a writer comes, for ever at
  // start-up. A file swapped in between this test and the open is the
  // operator's own doing.
  if (fs::status(path, ec).type() != fs::file_type::regular) {
    return {State::kUnreadable, {}, {}};
  }
  if (fs::file_size(path, ec) > kMaxConfigFileBytes && !ec) {
    return {State::kTooLarge, {}, {}};
  }
  std::ifstream in(path);
  if (!in.is_open()) {
    return {State::kUnreadable, {}, {}};
  }
  // One more than the limit, to notice a file that grew since its size was
  // taken.
  std::string text(kMaxConfigFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    return {State::kUnreadable, {}, {}};
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxConfigFileBytes) {
    return {State::kTooLarge, {}, {}};
  }
  return {State::kRead, std::move(text), {}};
}

}  // namespace Quillmoor

#include "config/config_file.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>

namespace Quillmoor {
namespace {

namespace fs = std::filesystem;

// What stands at a name that is not a regular file, through any link.
std::string WhatItIs(fs::file_type link, fs::file_type target) {
  switch (target) {
    case fs::file_type::not_found:
      return link == fs::file_type::symlink ? "a link to nothing" : "missing";
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device";
    default:
      return "not a regular file";
  }
}

std::string SystemMessage(int error) {
  return error != 0 ? std::generic_category().message(error) : "the read failed";
}

}  // namespace

ConfigFileText ReadConfigFile(const std::string& path) {
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
  const fs::file_type type = fs::status(path, ec).type();
  if (type != fs::file_type::regular) {
    const bool told = !ec || type == fs::file_type::not_found;
    return {State::kUnreadable, {}, told ? WhatItIs(name.type(), type) : ec.message()};
  }
  if (const auto size = fs::file_size(path, ec); size > kMaxConfigFileBytes && !ec) {
    return {State::kTooLarge, {}, "larger than 1 MiB (" + std::to_string(size) + " bytes)"};
  }
  errno = 0;
  std::ifstream in(path);
  if (!in.is_open()) {
    return {State::kUnreadable, {}, SystemMessage(errno)};
  }
  // One more than the limit, to notice a file that grew since its size was
  // taken.
  std::string text(kMaxConfigFileBytes + 1, '\0');
  errno = 0;
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    return {State::kUnreadable, {}, SystemMessage(errno)};
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxConfigFileBytes) {
    return {State::kTooLarge, {}, "larger than 1 MiB"};
  }
  return {State::kRead, std::move(text), {}};
}

}  // namespace Quillmoor

// Reading PluginConfig.json's text the way the plugin does, with the checks
// that keep a start-up from hanging or swallowing a huge file. Reads only:
// never creates, writes or removes anything. Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace Quillmoor {

// The largest PluginConfig.json that is read: 1 MiB. The defaults document
// is under 1 KiB; anything near the limit is not a configuration.
inline constexpr std::uintmax_t kMaxConfigFileBytes = std::uintmax_t{1} << 20;

struct ConfigFileText {
  enum class State {
    kRead,        // `text` holds the file
    kAbsent,      // nothing at all has the name (not even a broken link)
    kUnknown,     // whether something has the name cannot be told; see `error`
    kUnreadable,  // something has the name, but not a regular file that opens
    kTooLarge,    // a regular file of more than kMaxConfigFileBytes
  };
  State state;
  std::string text;
  // Why it is not kRead, for an operator: the system's message ("Permission
  // denied"), or what has the name instead of a regular file ("a FIFO").
  // Empty for kRead and kAbsent.
  std::string error;
};

// Reads the file at `path` in text mode. Only a regular file (also through a
// link) is opened: a FIFO, socket, device or directory is kUnreadable without
// being opened, so nothing can block. Never throws but std::bad_alloc.
ConfigFileText ReadConfigFile(const std::string& path);

}  // namespace Quillmoor

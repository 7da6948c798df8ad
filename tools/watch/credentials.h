// The password for --server when the watcher runs as a systemd service:
// systemd copies a root-only file into the service's credentials folder
// (LoadCredential=), so the secret never sits in the environment, where
// `systemctl show` and /proc would show it.
#pragma once

#include <optional>
#include <string>

namespace watch {

// The name of the credential that holds the --server password.
inline constexpr const char* kPasswordCredential = "rcon-password";

// The password: `from_environment` (QUILLMOOR_RCON_PASSWORD) when set, else
// the credential kPasswordCredential inside `credentials_directory` (the
// value of $CREDENTIALS_DIRECTORY) when that is set and holds it; one
// trailing line break (LF or CR LF) is not part of it. None when neither
// gives one. Throws std::runtime_error naming the file (never its content)
// when the credential exists but cannot be read, is not a regular file, or
// is empty.
std::optional<std::string> ServerPassword(const char* from_environment,
                                          const char* credentials_directory);

}  // namespace watch

// Running a piece of a test as an ordinary user, so that file permissions
// apply to it as they do to a server's own user: tests run as root in CI,
// and root writes a read-only file or folder all the same. POSIX only.
#pragma once

#include <filesystem>
#include <functional>

namespace quillmoor_test {

// Runs `body` as the user nobody and the group nogroup without supplementary
// groups, in a child process, and returns its result (0 to 255; 98 when the
// rights could not be dropped, 99 when `body` threw). Without root, `body`
// runs here, as the current user, whose permissions apply already.
int RunUnprivileged(const std::function<int()>& body);

// Gives `path` to the user that RunUnprivileged runs as; nothing without
// root, since the current user owns what it made.
void GiveToUnprivileged(const std::filesystem::path& path);

}  // namespace quillmoor_test

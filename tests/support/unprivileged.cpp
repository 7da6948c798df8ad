#include "support/unprivileged.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace quillmoor_test {
namespace {

struct Ids {
  uid_t user;
  gid_t group;
};

Ids Nobody() {
  const passwd* user = getpwnam("nobody");
  const group* grp = getgrnam("nogroup");
  if (user == nullptr || grp == nullptr) {
    throw std::runtime_error("no user nobody or group nogroup on this system");
  }
  return {user->pw_uid, grp->gr_gid};
}

}  // namespace

int RunUnprivileged(const std::function<int()>& body) {
  if (geteuid() != 0) {
    return body();
  }
  const Ids ids = Nobody();
  const pid_t child = fork();
  if (child < 0) {
    throw std::system_error(errno, std::generic_category(), "fork");
  }
  if (child == 0) {
    // The group first: without root, it could no longer be changed.
    if (setgroups(0, nullptr) != 0 || setgid(ids.group) != 0 || setuid(ids.user) != 0) {
      _exit(98);
    }
    int code = 99;
    try {
      code = body();
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    throw std::runtime_error("the unprivileged child did not exit normally");
  }
  return WEXITSTATUS(status);
}

void GiveToUnprivileged(const std::filesystem::path& path) {
  if (geteuid() != 0) {
    return;
  }
  const Ids ids = Nobody();
  if (chown(path.c_str(), ids.user, ids.group) != 0) {
    throw std::system_error(errno, std::generic_category(), "chown " + path.string());
  }
}

}  // namespace quillmoor_test

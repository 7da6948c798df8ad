// Windows has no SIGHUP or SIGPIPE, and closing the console window or logging
// off is no signal at all: the system calls a console control handler on a
// thread of its own, and for those events ends the process as soon as the
// handler returns (about five seconds later at the latest). The handler sets
// the flag and, for those, holds the process until the game loop has
// unloaded the plugin and main has returned, which ends the process and this
// thread with it.
#include <windows.h>

#include <atomic>
#include <system_error>

#include "stop_signals.h"

namespace devhost {
namespace {

constexpr DWORD kCloseGraceMs = 4500;

// The event that asked to stop, plus one (0: none yet).
std::atomic<DWORD> g_request{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  g_request.store(event + 1);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    Sleep(kCloseGraceMs);
  }
  return TRUE;
}

}  // namespace

void InstallStopSignals() {
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "SetConsoleCtrlHandler");
  }
}

std::string_view StopRequest() {
  switch (g_request.load()) {
    case 0:
      return {};
    case CTRL_C_EVENT + 1:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT + 1:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT + 1:
      return "console closed";
    case CTRL_LOGOFF_EVENT + 1:
      return "log-off";
    default:
      return "shut-down";
  }
}

}  // namespace devhost

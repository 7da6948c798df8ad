#include "stop_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace devhost {

namespace {

// Set from a signal handler: a lock-free atomic is one of the few things a
// handler may touch.
std::atomic<int> g_request{0};
static_assert(std::atomic<int>::is_always_lock_free);

// SIGHUP: the terminal was closed; a server has nothing to reread.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int signal) {
  g_request.store(signal);
}

void Install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // A read or write on the thread that takes the signal is resumed rather
  // than failed with EINTR; the game loop sees the flag at its next frame.
  action.sa_flags = SA_RESTART;
  if (sigaction(signal, &action, nullptr) != 0) {
    throw std::system_error(errno, std::generic_category(), "sigaction");
  }
}

}  // namespace

void InstallStopSignals() {
  // With SIGPIPE ignored, spdlog's standard-output sink and std::cout see
  // EPIPE, which they drop silently: the server runs on and logs to its file.
  Install(SIGPIPE, SIG_IGN);
  for (int signal : kStopSignals) {
    Install(signal, OnStopSignal);
  }
}

std::string_view StopRequest() {
  switch (g_request.load()) {
    case 0:
      return {};
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

}  // namespace devhost

// The service built for this machine, for development: the protocol and the port table as on
// Windows, with a monitor that sees no devices.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "protocol/command_loop.h"

int main() {
  // A host that goes away must not kill the service mid-event with a signal; writes just fail.
  std::signal(SIGPIPE, SIG_IGN);
  static vorlin::service_state state(stdout);
  const int status = vorlin::command_loop(state, stdin, [] {
    try {
      std::thread([] { state.initial_scan_gate.open(); }).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  });
  // The monitor thread is never stopped: end the process where it stands, as on Windows.
  std::fflush(nullptr);
  std::_Exit(status);
}

// The service built for this machine, for development: the protocol, the port table and the
// monitor as on Windows, over a device world with no boards.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "simulation.h"

int main() {
  // A host that goes away must not kill the service mid-event with a signal; writes just fail.
  std::signal(SIGPIPE, SIG_IGN);
  const int status = vorlin::run_simulation({});
  // The monitor thread is never stopped: end the process where it stands, as on Windows.
  std::fflush(nullptr);
  std::_Exit(status);
}

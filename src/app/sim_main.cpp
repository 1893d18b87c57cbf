// vorlin-discovery-sim WORLD-FILE: the service over a simulated device world described by a world
// file, speaking the same protocol on standard input and output.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "simulation.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vorlin-discovery-sim WORLD-FILE\n");
    return 2;
  }
  vorlin::world::world_description description;
  std::string error;
  if (!vorlin::world::load_world_file(argv[1], description, error)) {
    std::fprintf(stderr, "vorlin-discovery-sim: %s\n", error.c_str());
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const int status = vorlin::run_simulation(description);
  std::fflush(nullptr);
  std::_Exit(status);
}

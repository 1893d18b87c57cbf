// The service running over a simulated device world: the real command loop, port table and
// monitor, with the world's timeline played in real time.
#pragma once

#include "platform/world/world_file.h"

namespace vorlin {

// Runs the service on standard input and output until "QUIT" or the end of input; returns the
// exit status. The monitor thread is never stopped: the caller ends the process.
int run_simulation(const world::world_description& description);

}  // namespace vorlin

// The seam between the process entry and the command loop.
#pragma once

namespace vorlin {

// Runs the command loop on standard input and output until "QUIT" or the end of input, with the
// monitor thread in the background; returns the exit status.
int run_command_loop(void* module_instance);

}  // namespace vorlin

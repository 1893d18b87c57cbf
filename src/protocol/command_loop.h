// The main thread: reads the host's commands from standard input, one line at a time, answers
// each, and keeps the protocol state that tells the port updates whether to push events.
#pragma once

#include <cstdio>
#include <functional>

#include "protocol/service_state.h"

namespace vorlin {

// Starts the monitor thread; returns false when it could not be started. The thread is never
// joined or stopped by the command loop.
using monitor_starter = std::function<bool()>;

// Runs until "QUIT" or the end of `in`; returns the exit status, 0.
int command_loop(service_state& state, std::FILE* in, const monitor_starter& start_monitor);

// The "HELLO" test: "HELLO", white space, a signed decimal number, white space, a double quote and
// at least one character that is not a double quote, carriage return or line feed. The closing
// quote need not be there.
bool is_hello_line(const char* line);

}  // namespace vorlin

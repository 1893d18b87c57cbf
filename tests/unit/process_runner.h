// Runs a program the way a host runs the service: standard input, output and error on pipes.
#pragma once

#include <string>
#include <vector>

namespace vorlin::testing {

struct process_result {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when the program did not exit normally or timed out
};

// Writes `input` to the program's standard input, closes it, and collects everything the program
// writes until it exits (at most `timeout_ms`, then it is killed).
process_result run_process(const std::vector<std::string>& argv, const std::string& input,
                           int timeout_ms = 10000);

}  // namespace vorlin::testing

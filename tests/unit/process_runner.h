// Runs a program the way a host runs the service: standard input, output and error on pipes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vorlin::testing {

struct process_result {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when the program did not exit normally or timed out
};

// A running program that a test talks to line by line, as a host does.
class host_session {
 public:
  explicit host_session(const std::vector<std::string>& argv);
  ~host_session();
  host_session(const host_session&) = delete;
  host_session& operator=(const host_session&) = delete;

  bool started() const { return pid_ > 0; }
  void send(const std::string& text);
  void close_input();
  // Reads standard output until `done` holds for all of it or `timeout_ms` passes; returns
  // whether it held.
  bool read_until(const std::function<bool(const std::string&)>& done, int timeout_ms);
  // Closes standard input, collects the rest of the output and the exit status.
  process_result finish(int timeout_ms = 10000);

  const std::string& out() const { return out_; }

 private:
  // Reads what is there, waiting at most `wait_ms`; false once both output pipes are closed.
  bool pump(int wait_ms);

  pid_t pid_ = -1;
  int in_fd_ = -1, out_fd_ = -1, err_fd_ = -1;
  std::string out_, err_;
};

// Writes `input` to the program's standard input, closes it, and collects everything the program
// writes until it exits (at most `timeout_ms`, then it is killed).
process_result run_process(const std::vector<std::string>& argv, const std::string& input,
                           int timeout_ms = 10000);

}  // namespace vorlin::testing

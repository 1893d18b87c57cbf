// LIST reply latency as a host sees it: starts the service (or the simulator) on pipes, asks once
// so the first scan is behind us, then times 1,000 LIST requests from the write of the command to
// the last byte of the "list" event. Usage: vorlin_list_latency PROGRAM [ARGS...]
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Reads until the output holds a whole "list" event; false on end of output or after 10 s.
bool read_list_event(int fd, std::string& pending) {
  static const std::string end_of_list = "]\n}\n";
  for (;;) {
    const auto at = pending.find(end_of_list);
    if (at != std::string::npos) {
      pending.erase(0, at + end_of_list.size());
      return true;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vorlin_list_latency PROGRAM [ARGS...]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  int to_child[2], from_child[2];
  if (pipe(to_child) != 0 || pipe(from_child) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  posix_spawn_file_actions_addclose(&actions, to_child[1]);
  posix_spawn_file_actions_addclose(&actions, from_child[0]);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[1], &actions, nullptr, argv + 1, environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[1]);
    return 1;
  }
  close(to_child[0]);
  close(from_child[1]);

  std::string pending;
  const std::string list = "LIST\n";
  if (write(to_child[1], list.data(), list.size()) < 0 ||
      !read_list_event(from_child[0], pending)) {
    std::fprintf(stderr, "no answer to the first LIST\n");
    return 1;
  }
  constexpr int requests = 1000;
  std::vector<double> micros;
  micros.reserve(requests);
  for (int i = 0; i < requests; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (write(to_child[1], list.data(), list.size()) < 0 ||
        !read_list_event(from_child[0], pending)) {
      std::fprintf(stderr, "no answer to LIST %d\n", i);
      return 1;
    }
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  close(to_child[1]);
  waitpid(pid, nullptr, 0);
  std::sort(micros.begin(), micros.end());
  std::printf(
      "LIST latency over %d requests: median %.1f us, 99th percentile %.1f us, max %.1f us\n",
      requests, micros[requests / 2], micros[requests * 99 / 100], micros.back());
  return 0;
}

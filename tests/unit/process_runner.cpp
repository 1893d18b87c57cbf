#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace vorlin::testing {

process_result run_process(const std::vector<std::string>& argv, const std::string& input,
                           int timeout_ms) {
  process_result result;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
  }

  // Feed the input while reading, so a chatty program never blocks on a full pipe.
  signal(SIGPIPE, SIG_IGN);
  fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  int in_fd = in_pipe[1];
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  int out_fd = out_pipe[0], err_fd = err_pipe[0];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool timed_out = false;
  while (out_fd >= 0 || err_fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd fds[3];
    nfds_t count = 0;
    if (in_fd >= 0) fds[count++] = {in_fd, POLLOUT, 0};
    if (out_fd >= 0) fds[count++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[count++] = {err_fd, POLLIN, 0};
    if (poll(fds, count, static_cast<int>(left.count())) < 0) continue;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_fd) {
        const ssize_t n = write(in_fd, input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if (n < 0 || written == input.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      std::string& sink = fds[i].fd == out_fd ? result.out : result.err;
      if (n > 0) {
        sink.append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        (fds[i].fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  for (int fd : {in_fd, out_fd, err_fd}) {
    if (fd >= 0) close(fd);
  }
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!timed_out && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

}  // namespace vorlin::testing

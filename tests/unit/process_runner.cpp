#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace vorlin::testing {
namespace {

using clock_type = std::chrono::steady_clock;

int milliseconds_left(clock_type::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

host_session::host_session(const std::vector<std::string>& argv) {
  signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0) return;
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return;
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
  in_fd_ = in_pipe[1];
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  if (spawned != 0) {
    close_fd(in_fd_);
    close_fd(out_fd_);
    close_fd(err_fd_);
    return;
  }
  pid_ = pid;
}

host_session::~host_session() {
  close_fd(in_fd_);
  close_fd(out_fd_);
  close_fd(err_fd_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void host_session::send(const std::string& text) {
  std::size_t written = 0;
  while (in_fd_ >= 0 && written < text.size()) {
    // Keep reading while writing, so a chatty program never blocks us both on full pipes.
    pollfd fds[3] = {{in_fd_, POLLOUT, 0}, {out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (poll(fds, 3, 1000) <= 0) continue;
    if (fds[0].revents & (POLLERR | POLLHUP)) {
      close_fd(in_fd_);
      return;
    }
    if (fds[0].revents & POLLOUT) {
      const ssize_t n = write(in_fd_, text.data() + written, text.size() - written);
      if (n < 0) {
        close_fd(in_fd_);
        return;
      }
      written += static_cast<std::size_t>(n);
    }
    if ((fds[1].revents | fds[2].revents) != 0) pump(0);
  }
}

void host_session::close_input() {
  close_fd(in_fd_);
}

bool host_session::pump(int wait_ms) {
  if (out_fd_ < 0 && err_fd_ < 0) return false;
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (poll(fds, 2, wait_ms) <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    if (fds[i].revents == 0) continue;
    char buffer[4096];
    int& fd = i == 0 ? out_fd_ : err_fd_;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
    } else {
      close_fd(fd);
    }
  }
  return true;
}

bool host_session::read_until(const std::function<bool(const std::string&)>& done, int timeout_ms) {
  const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  while (!done(out_)) {
    const int left = milliseconds_left(deadline);
    if (left == 0 || !pump(left)) return done(out_);
  }
  return true;
}

process_result host_session::finish(int timeout_ms) {
  process_result result;
  close_input();
  const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  bool timed_out = false;
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    const int left = milliseconds_left(deadline);
    if (left == 0) {
      timed_out = true;
      break;
    }
    pump(left);
  }
  if (pid_ > 0) {
    if (timed_out) kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (!timed_out && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  }
  result.out = out_;
  result.err = err_;
  return result;
}

process_result run_process(const std::vector<std::string>& argv, const std::string& input,
                           int timeout_ms) {
  host_session session(argv);
  if (!session.started()) return {};
  session.send(input);
  return session.finish(timeout_ms);
}

}  // namespace vorlin::testing

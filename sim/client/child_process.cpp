#include "child_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "sim_client.h"

extern char** environ;

namespace kpsim::child {

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

pid_t Spawn(const std::vector<std::string>& words, int in, int out, int err) {
  std::vector<std::string> copy = words;
  std::vector<char*> argv;
  for (std::string& word : copy) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, copy[0].c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw SimError("cannot start " + copy[0] + ": " + std::strerror(spawned));
  return pid;
}

// On a process descriptor where the kernel offers one, else by checking
// every few milliseconds.
int WaitUntil(pid_t pid, Clock::time_point deadline) {
  int status = 0;
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd fd{pidfd, POLLIN, 0};
    while (poll(&fd, 1, MillisLeft(deadline)) < 0 && errno == EINTR) {
    }
    close(pidfd);
    const pid_t done = waitpid(pid, &status, WNOHANG);
    return done == pid ? status : -1;
  }
#endif
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 || Clock::now() >= deadline) return -1;
    const timespec pause{0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

int Stop(pid_t pid, std::chrono::milliseconds timeout) {
  kill(pid, SIGTERM);
  int status = WaitUntil(pid, Clock::now() + timeout);
  if (status == -1) {
    kill(pid, SIGKILL);
    status = WaitUntil(pid, Clock::now() + std::chrono::seconds(5));
  }
  return status;
}

}  // namespace kpsim::child

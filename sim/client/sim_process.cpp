#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "sim_client.h"

extern char** environ;

namespace kpsim {

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for the child to end, up to the deadline: on a process descriptor
// where the kernel offers one, else by checking every few milliseconds.
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

}  // namespace

SimProcess::SimProcess(const std::string& executable, const std::vector<std::string>& args,
                       std::chrono::milliseconds timeout) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw SimError(std::string("pipe: ") + std::strerror(errno));

  // The child's standard input: end of file there ends it.  Our end is
  // close-on-exec, so no other child keeps it open.
  int lifeline[2];
  if (pipe2(lifeline, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    throw SimError(std::string("pipe: ") + std::strerror(errno));
  }

  std::vector<std::string> words{executable};
  // Programs driving the emulator want its behaviour, not its real time,
  // unless they ask for pacing themselves.
  if (std::find(args.begin(), args.end(), "--pacing") == args.end()) {
    words.push_back("--pacing");
    words.push_back("off");
  }
  if (std::find(args.begin(), args.end(), "--lifeline") == args.end()) {
    words.push_back("--lifeline");
    words.push_back("0");
  }
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, lifeline[0], STDIN_FILENO);
  // The emulator gets a process group of its own, so that a Ctrl-C meant
  // for the program driving it (a tool cancelling a wait, say) does not
  // kill the device under it; the owner stops it explicitly.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = posix_spawn(&pid_, executable.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(lifeline[0]);
  lifeline_ = lifeline[1];
  if (spawned != 0) {
    close(out[0]);
    CloseLifeline();
    pid_ = -1;
    throw SimError("cannot start " + executable + ": " + std::strerror(spawned));
  }

  const Clock::time_point deadline = Clock::now() + timeout;
  std::string text;
  bool ready = false;
  std::string failure;
  while (!ready && failure.empty()) {
    pollfd fd{out[0], POLLIN, 0};
    const int polled = poll(&fd, 1, MillisLeft(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) {
      failure = "no 'ready' from " + executable + " in time";
      break;
    }
    char buffer[512];
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got <= 0) {
      failure = executable + " ended before 'ready'";
      break;
    }
    text.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = text.find('\n')) != std::string::npos) {
      const std::string line = text.substr(0, end);
      text.erase(0, end + 1);
      if (line.rfind("port ", 0) == 0) {
        port_path_ = line.substr(5);
      } else if (line.rfind("control ", 0) == 0) {
        control_port_ = std::atoi(line.c_str() + 8);
      } else if (line == "ready") {
        ready = true;
      }
    }
  }
  close(out[0]);
  if (ready && (port_path_.empty() || control_port_ <= 0))
    failure = executable + " said ready without port and control";
  if (!failure.empty()) {
    Terminate(std::chrono::seconds(2));
    CloseLifeline();
    throw SimError(failure);
  }
}

SimProcess::~SimProcess() {
  Terminate();
  CloseLifeline();
}

void SimProcess::CloseLifeline() {
  if (lifeline_ >= 0) close(lifeline_);
  lifeline_ = -1;
}

int SimProcess::Terminate(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = WaitUntil(pid_, Clock::now() + timeout);
  if (status == -1) {
    kill(pid_, SIGKILL);
    status = WaitUntil(pid_, Clock::now() + std::chrono::seconds(5));
  }
  pid_ = -1;
  return status;
}

int SimProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const int status = WaitUntil(pid_, Clock::now() + timeout);
  if (status != -1) pid_ = -1;
  return status;
}

}  // namespace kpsim

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "child_process.h"
#include "sim_client.h"

namespace kpsim {

using child::Clock;
using child::MillisLeft;

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
  try {
    pid_ = child::Spawn(words, lifeline[0], out[1], -1);
  } catch (...) {
    close(out[0]);
    close(out[1]);
    close(lifeline[0]);
    close(lifeline[1]);
    throw;
  }
  close(out[1]);
  close(lifeline[0]);
  lifeline_ = lifeline[1];

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
  const int status = child::Stop(pid_, timeout);
  pid_ = -1;
  return status;
}

int SimProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const int status = child::WaitUntil(pid_, Clock::now() + timeout);
  if (status != -1) pid_ = -1;
  return status;
}

}  // namespace kpsim

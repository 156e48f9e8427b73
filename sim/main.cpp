// kpdev-sim: the virtual reader as a process of its own.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

#include "core/options.h"
#include "core/simulator.h"

namespace {

kpsim::Simulator* g_simulator = nullptr;

extern "C" void OnSignal(int) {
  if (g_simulator != nullptr) g_simulator->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  kpsim::SimOptions options;
  std::string message;
  bool help = false;
  if (!kpsim::ParseCommandLine(argc, argv, &options, &message, &help)) {
    std::fputs(message.c_str(), help ? stdout : stderr);
    if (!help) std::fputc('\n', stderr);
    return help ? 0 : 2;
  }

  if (options.lifeline >= 0 && fcntl(options.lifeline, F_GETFD) < 0) {
    std::fprintf(stderr, "kpdev-sim: --lifeline %d: no such open descriptor\n", options.lifeline);
    return 2;
  }

  kpsim::Simulator simulator(options);
  std::string error;
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "kpdev-sim: %s\n", error.c_str());
    return 1;
  }

  for (const std::string& insert : options.inserts) {
    const std::string reply = simulator.Control("insert " + insert);
    if (reply.compare(0, 2, "ok") != 0) {
      std::fprintf(stderr, "kpdev-sim: --insert \"%s\": %s\n", insert.c_str(), reply.c_str());
      return 2;
    }
  }

  g_simulator = &simulator;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (options.lifeline >= 0) {
    // The end of the lifeline stops the reader the way SIGTERM does (the
    // handler above), so the link is removed and the exit status is 0.
    std::thread([fd = options.lifeline] {
      char byte = 0;
      for (;;) {
        const ssize_t n = read(fd, &byte, 1);
        if (n > 0 || (n < 0 && errno == EINTR)) continue;  // bytes on it mean nothing
        kill(getpid(), SIGTERM);
        return;
      }
    }).detach();
  }

  std::printf("port %s\ncontrol %d\nready\n", simulator.slave_path().c_str(), simulator.control_port());
  std::fflush(stdout);

  simulator.Run();
  g_simulator = nullptr;
  return 0;
}

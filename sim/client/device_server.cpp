#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "sim_client.h"

namespace kpsim {

namespace {

using child::Clock;

// How long ser2net may take to start listening.
constexpr auto kStartTimeout = std::chrono::seconds(5);

bool IsExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Inodes of the sockets the process holds.
std::set<unsigned long> SocketInodes(pid_t pid) {
  std::set<unsigned long> inodes;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return inodes;
  while (const dirent* entry = readdir(fds)) {
    char target[256];
    const ssize_t n = readlink((dir + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    unsigned long inode = 0;
    if (std::sscanf(target, "socket:[%lu]", &inode) == 1) inodes.insert(inode);
  }
  closedir(fds);
  return inodes;
}

// The TCP port the process listens on, 0 while it listens on none.  A port
// asked for as 0 is chosen by the system when ser2net binds it, so the
// kernel's socket table is the one place that tells.
int ListeningPort(pid_t pid) {
  const std::set<unsigned long> inodes = SocketInodes(pid);
  if (inodes.empty()) return 0;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
      unsigned long inode = 0;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state != "0A" || inodes.count(inode) == 0) continue;  // 0A: listening
      const std::size_t colon = local.rfind(':');
      if (colon != std::string::npos) return static_cast<int>(std::strtol(local.c_str() + colon + 1, nullptr, 16));
    }
  }
  return 0;
}

}  // namespace

std::string DeviceServer::Executable() {
  const char* override = std::getenv("KPDEV_SER2NET");
  if (override != nullptr && *override != '\0') return override;
  for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
    if (IsExecutable(path)) return path;
  }
  const char* searchPath = std::getenv("PATH");
  std::istringstream dirs(searchPath != nullptr ? searchPath : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && IsExecutable(dir + "/ser2net")) return dir + "/ser2net";
  }
  return {};
}

DeviceServer::DeviceServer(const std::string& device, Protocol protocol, int deviceBaud, int port,
                           const std::vector<std::string>& options)
    : executable_(Executable()),
      device_(device),
      protocol_(protocol),
      deviceBaud_(deviceBaud),
      port_(port),
      options_(options) {
  if (executable_.empty()) throw SimError("ser2net is not installed (Debian package ser2net)");
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kpdev-ser2net.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw SimError("mkdtemp: " + std::string(std::strerror(errno)));
  dir_ = pattern;
  try {
    Start();
  } catch (...) {
    for (const char* name : {"/ser2net.yaml", "/ser2net.pid", "/ser2net.log"}) std::remove((dir_ + name).c_str());
    rmdir(dir_.c_str());
    throw;
  }
}

DeviceServer::~DeviceServer() {
  if (pid_ > 0) child::Stop(pid_, std::chrono::seconds(2));
  for (const char* name : {"/ser2net.yaml", "/ser2net.pid", "/ser2net.log"}) std::remove((dir_ + name).c_str());
  rmdir(dir_.c_str());
}

std::string DeviceServer::Url() const {
  return std::string(protocol_ == Protocol::kRfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

void DeviceServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  child::WaitUntil(pid_, Clock::now() + std::chrono::seconds(5));
  pid_ = -1;
}

void DeviceServer::Start() {
  if (pid_ > 0) return;
  const std::string config = dir_ + "/ser2net.yaml";
  {
    std::ofstream out(config);
    out << "connection: &kpdev\n";
    out << "  accepter: " << (protocol_ == Protocol::kRfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
        << port_ << "\n";
    out << "  connector: serialdev," << device_ << "," << deviceBaud_ << "n81,local\n";
    if (!options_.empty()) {
      out << "  options:\n";
      for (const std::string& option : options_) out << "    " << option << "\n";
    }
    if (!out) throw SimError("cannot write " + config);
  }
  const std::string log = dir_ + "/ser2net.log";
  const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (logFd < 0) throw SimError("cannot create " + log);
  // -n: foreground; -u: no UUCP lock files (tests in other trees run side by
  // side); -P: a pid file of its own instead of the system's.
  try {
    pid_ = child::Spawn({executable_, "-n", "-u", "-c", config, "-P", dir_ + "/ser2net.pid"}, -1, logFd, logFd);
  } catch (...) {
    close(logFd);
    throw;
  }
  close(logFd);

  const Clock::time_point deadline = Clock::now() + kStartTimeout;
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw SimError("ser2net ended at start-up: " + ReadFile(log));
    }
    const int listening = ListeningPort(pid_);
    if (listening > 0 && (port_ == 0 || listening == port_)) {
      port_ = listening;
      return;
    }
    if (Clock::now() >= deadline) {
      child::Stop(pid_, std::chrono::seconds(2));
      pid_ = -1;
      throw SimError("ser2net does not listen on 127.0.0.1:" + std::to_string(port_) + ": " + ReadFile(log));
    }
    // The socket table has no event to wait on.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kpsim

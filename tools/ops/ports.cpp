#include "ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>

#include "platform/network_line.h"
#include "platform/network_target.h"
#include "platform/rfc2217.h"
#include "platform/socket.h"
#include "wire/com_port.h"

extern char** environ;

namespace kpdev::tool {

namespace {

// The group udev rules on Debian give serial devices to.
constexpr char kSerialGroup[] = "dialout";
// Major numbers of the pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned kPtyMajorFirst = 136, kPtyMajorLast = 143;

long NumberAfter(const std::string& text, const std::string& prefix) {
  if (text.size() <= prefix.size() || text.compare(0, prefix.size(), prefix) != 0) return -1;
  const std::string digits = text.substr(prefix.size());
  if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stol(digits);
}

std::string Resolve(const std::string& path) {
  if (IsNetworkTarget(path)) return path;
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

// A ttyS device whose UART type the driver knows; the others are
// placeholders the kernel creates whether or not a port exists.  sysfs
// tells anyone; the ioctl is asked only when sysfs cannot.
bool RealUart(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  std::ifstream type("/sys/class/tty/" + name + "/type");
  int uart = -1;
  if (type >> uart) return uart != PORT_UNKNOWN;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EBUSY;  // can't tell: list it
  serial_struct info{};
  const bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return real;
}

std::string GroupName(gid_t gid) {
  if (const struct group* g = getgrgid(gid)) return g->gr_name;
  return std::to_string(gid);
}

std::string UserName(uid_t uid) {
  if (const struct passwd* p = getpwuid(uid)) return p->pw_name;
  return std::to_string(uid);
}

// Whether this process holds `gid` now.
bool InGroupNow(gid_t gid) {
  if (getegid() == gid) return true;
  gid_t groups[256];
  const int n = getgroups(256, groups);
  return std::find(groups, groups + std::max(n, 0), gid) != groups + std::max(n, 0);
}

// Whether the account belongs to `gid` (a membership added since this
// login shows here and not in InGroupNow).
bool InGroupByAccount(gid_t gid) {
  const struct passwd* me = getpwuid(getuid());
  if (me == nullptr) return false;
  gid_t groups[256];
  int n = 256;
  if (getgrouplist(me->pw_name, me->pw_gid, groups, &n) < 0) return false;
  return std::find(groups, groups + n, gid) != groups + n;
}

// The kernel's name of a character device ("ttyS0"), from sysfs; empty
// when sysfs does not know the number.
std::string KernelName(dev_t device) {
  std::ifstream uevent("/sys/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)) +
                       "/uevent");
  std::string line;
  while (std::getline(uevent, line)) {
    if (line.rfind("DEVNAME=", 0) == 0) {
      const std::string name = line.substr(8);
      // Only plain names go into a rule printed for the shell.
      if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") ==
          std::string::npos) {
        return name;
      }
    }
  }
  return {};
}

const char* FileKind(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a character device";
}

// " (process 1234 kpdev)" for each process that holds the device open;
// empty when none can be seen.
std::string Holders(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return {};
  std::string found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return {};
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::string pid = entry->d_name;
    if (pid == std::to_string(getpid())) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    bool holds = false;
    while (const dirent* fd = readdir(fds)) {
      char target[PATH_MAX];
      const ssize_t n = readlink((fdDir + "/" + fd->d_name).c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = '\0';
      if (std::strcmp(target, resolved) == 0) holds = true;
    }
    closedir(fds);
    if (!holds) continue;
    std::string name;
    if (FILE* comm = std::fopen(("/proc/" + pid + "/comm").c_str(), "r")) {
      char buffer[64] = {};
      if (std::fgets(buffer, sizeof buffer, comm) != nullptr) name = buffer;
      std::fclose(comm);
      while (!name.empty() && name.back() == '\n') name.pop_back();
    }
    found += (found.empty() ? " (process " : ", process ") + pid + (name.empty() ? "" : " " + name);
  }
  closedir(proc);
  return found.empty() ? found : found + ")";
}

}  // namespace

bool IsNetworkTarget(const std::string& path) { return kp::platform::IsNetworkTarget(path); }

nlohmann::json PortJson(const PortEntry& entry) {
  nlohmann::json j{{"device", entry.path},
                   {"resolved", entry.resolved},
                   {"source", entry.source},
                   {"access", entry.access},
                   {"can_open", entry.usable}};
  j["com"] = entry.com > 0 ? nlohmann::json(entry.com) : nlohmann::json(nullptr);
  if (!entry.fix.empty()) j["fix"] = entry.fix;
  return j;
}

void CheckReachable(PortEntry* entry) {
  const PortDiagnosis reach = DiagnoseTarget(entry->path);
  entry->usable = reach.ok;
  entry->access = entry->usable ? "yes (device server)" : "no: " + reach.reason;
  entry->fix = reach.hint;
}

AccessAdvice AdviseOnAccess(const struct stat& info) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  const std::string group = GroupName(info.st_gid);
  AccessAdvice advice;
  advice.reason = "permission denied (owner " + UserName(info.st_uid) + ":" + group + ", mode " + mode + ")";
  const unsigned devMajor = major(info.st_rdev);
  if (devMajor >= kPtyMajorFirst && devMajor <= kPtyMajorLast) {
    advice.fix = "a pseudo-terminal belongs to whoever opened its other side: run kpdev as " + UserName(info.st_uid);
    return advice;
  }
  const bool groupMayOpen = (info.st_mode & S_IRGRP) != 0 && (info.st_mode & S_IWGRP) != 0;
  // Group root is no group to join: its membership opens far more than a
  // serial port.
  if (groupMayOpen && info.st_gid != 0) {
    if (InGroupNow(info.st_gid)) return advice;  // something else refuses (an ACL, a security module)
    if (InGroupByAccount(info.st_gid)) {
      advice.fix = "you joined the group '" + group + "' after this login: log in again (or run: newgrp " + group + ")";
    } else {
      advice.fix = "join the group '" + group + "': sudo usermod -aG " + group + " $USER, then log in again";
    }
    return advice;
  }
  // Nobody but the owner may open it, so only a rule that changes the
  // device's group and mode helps.
  const std::string name = KernelName(info.st_rdev);
  const struct group* serial = getgrnam(kSerialGroup);
  const bool inSerialGroup = serial != nullptr && InGroupByAccount(serial->gr_gid);
  if (name.empty()) {
    advice.fix = "the device gives its group no access; a udev rule can (README, 'Serial devices and permissions')";
    return advice;
  }
  advice.fix = "its group may not open it, so joining a group would not help; a udev rule gives it to the group " +
               std::string(kSerialGroup) + ": echo 'SUBSYSTEM==\"tty\", KERNEL==\"" + name + "\", GROUP=\"" +
               kSerialGroup + "\", MODE=\"0660\"' | sudo tee /etc/udev/rules.d/70-kpdev.rules && sudo udevadm " +
               "control --reload && sudo udevadm trigger --name-match=" + name;
  if (!inSerialGroup) {
    advice.fix += "; then join the group: sudo usermod -aG " + std::string(kSerialGroup) + " $USER, and log in again";
  }
  if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) {
    advice.fix += " (a USB adapter is better matched by its vendor and product: see the README)";
  }
  return advice;
}

void CheckAccess(PortEntry* entry) {
  entry->usable = false;
  entry->fix.clear();
  if (IsNetworkTarget(entry->path)) {
    entry->usable = true;
    entry->access = "not checked (network)";
    return;
  }
  struct stat info {};
  if (stat(entry->path.c_str(), &info) != 0) {
    entry->access = errno == EACCES ? "no: no access to a directory on the way" : "missing";
    return;
  }
  if (!S_ISCHR(info.st_mode)) {
    entry->access = std::string("no: not a serial device (") + FileKind(info.st_mode) + ")";
    return;
  }
  if (access(entry->path.c_str(), R_OK | W_OK) == 0) {
    entry->usable = true;
    entry->access = "yes";
    return;
  }
  const AccessAdvice advice = AdviseOnAccess(info);
  entry->access = "no: " + advice.reason;
  entry->fix = advice.fix;
}

std::vector<PortEntry> CollectPorts() {
  std::vector<PortEntry> ports;
  std::map<std::string, int> comOf;  // resolved device -> COM number through a variable
  std::map<int, std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals + 1 == text.size()) continue;
    const long n = NumberAfter(text.substr(0, equals), "KPDEV_COM");
    if (n < 1 || n > 32) continue;
    variables[static_cast<int>(n)] = text.substr(equals + 1);
    comOf[Resolve(text.substr(equals + 1))] = static_cast<int>(n);
  }
  std::vector<std::string> devices;
  if (DIR* dev = opendir("/dev")) {
    while (const dirent* entry = readdir(dev)) {
      const std::string name = entry->d_name;
      if (NumberAfter(name, "ttyS") >= 0 || NumberAfter(name, "ttyUSB") >= 0 || NumberAfter(name, "ttyACM") >= 0) {
        devices.push_back("/dev/" + name);
      }
    }
    closedir(dev);
  }
  if (DIR* byId = opendir("/dev/serial/by-id")) {
    while (const dirent* entry = readdir(byId)) {
      if (entry->d_name[0] != '.') devices.push_back(std::string("/dev/serial/by-id/") + entry->d_name);
    }
    closedir(byId);
  }
  std::sort(devices.begin(), devices.end());
  for (const std::string& path : devices) {
    const long s = NumberAfter(path, "/dev/ttyS");
    if (s >= 0 && !RealUart(path)) continue;
    PortEntry entry;
    entry.path = path;
    entry.resolved = Resolve(path);
    const auto mapped = comOf.find(entry.resolved);
    if (mapped != comOf.end()) {
      entry.com = mapped->second;
      entry.source = kp::wire::ComVariable(entry.com);
    } else if (s >= 0 && s < 32 && variables.count(static_cast<int>(s + 1)) == 0) {
      entry.com = static_cast<int>(s + 1);
      entry.source = "default";
    } else {
      entry.source = "none";
    }
    CheckAccess(&entry);
    ports.push_back(entry);
  }
  // Variables that name something not listed above (a pseudo-terminal, a
  // file, a network target).
  for (const auto& [n, path] : variables) {
    const std::string resolved = Resolve(path);
    const bool listed =
        std::any_of(ports.begin(), ports.end(), [&](const PortEntry& p) { return p.resolved == resolved; });
    if (listed) continue;
    PortEntry entry;
    entry.path = path;
    entry.resolved = resolved;
    entry.com = n;
    entry.source = kp::wire::ComVariable(n);
    CheckAccess(&entry);
    ports.push_back(entry);
  }
  return ports;
}

std::vector<std::string> MapUnmappedDevices() {
  std::vector<std::string> assigned;
  for (const PortEntry& p : CollectPorts()) {
    if (p.com != 0 || p.path.rfind("/dev/serial/by-id/", 0) == 0 || p.path.rfind("/dev/ttyS", 0) == 0) continue;
    for (int n = 32; n >= 1; --n) {
      const std::string variable = kp::wire::ComVariable(n);
      const char* value = std::getenv(variable.c_str());
      if (value != nullptr && *value != '\0') continue;
      // COM numbers of existing ttyS devices stay theirs.
      struct stat info {};
      if (stat(("/dev/ttyS" + std::to_string(n - 1)).c_str(), &info) == 0) continue;
      setenv(variable.c_str(), p.path.c_str(), 1);
      assigned.push_back(variable + "=" + p.path);
      break;
    }
  }
  return assigned;
}

PortDiagnosis DiagnoseTarget(const std::string& text) {
  kp::platform::NetworkTarget target;
  if (!kp::platform::ParseNetworkTarget(text, &target)) {
    return {false, "not a device server address", "name one as rfc2217://HOST:PORT or tcp://HOST:PORT"};
  }
  const std::string where = "host " + target.host + " port " + std::to_string(target.port);
  kp::platform::TcpConnection connection;
  const kp::platform::ConnectError error =
      connection.Connect(target.host, target.port, kp::platform::kConnectTimeoutMs);
  if (error != kp::platform::ConnectError::kNone) {
    return {false, std::string(kp::platform::ConnectErrorText(error)) + " (" + where + ")",
            "is the device server running and listening there? (README: Readers on the network)"};
  }
  // A server whose port is taken says so and hangs up at once; what it
  // says is read past its Telnet negotiation.
  kp::platform::rfc2217::Session telnet;
  std::deque<std::uint8_t> said;
  kp::Bytes replies;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (!ended && std::chrono::steady_clock::now() < deadline && said.size() < 200) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!connection.WaitReadable(static_cast<int>(left.count()) + 1)) break;
    std::uint8_t chunk[256];
    std::size_t got = 0;
    const auto r = connection.Receive(chunk, sizeof chunk, &got);
    if (r == kp::platform::TcpConnection::Received::kEnded) ended = true;
    if (r != kp::platform::TcpConnection::Received::kBytes) continue;
    if (target.protocol == kp::platform::NetworkProtocol::kRfc2217) {
      telnet.Take(chunk, got, &said, &replies);
    } else {
      said.insert(said.end(), chunk, chunk + got);
    }
  }
  if (!ended) return {true, "", ""};
  std::string words;
  for (std::uint8_t b : said) {
    if (b >= 0x20 && b < 0x7F) words.push_back(static_cast<char>(b));
  }
  return {
      false,
      "the device server ended the connection at once (" + where + (words.empty() ? "" : ": \"" + words + "\"") + ")",
      "another program may hold the reader's port there"};
}

PortDiagnosis DiagnosePort(const std::string& path) {
  if (kp::platform::IsNetworkTarget(path)) return DiagnoseTarget(path);
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == EACCES) return {false, "permission denied", "no access to a directory on the way to " + path};
    return {false, "no such device",
            "'kpdev ports' lists the serial devices; KPDEV_COM<n>=DEVICE points a COM number at one"};
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      const AccessAdvice advice = AdviseOnAccess(info);
      return {false, advice.reason, advice.fix};
    }
    if (error == EBUSY) return {false, "in use by another process" + Holders(path), ""};
    if (error == ENXIO || error == ENODEV) return {false, "no such device (nothing behind the device node)", ""};
    return {false, std::strerror(error), ""};
  }
  PortDiagnosis diagnosis{true, "", ""};
  if (!isatty(fd)) {
    diagnosis = {false, "not a serial device", ""};
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    diagnosis = {false, "in use by another process" + Holders(path), ""};
  } else {
    flock(fd, LOCK_UN);
  }
  close(fd);
  return diagnosis;
}

}  // namespace kpdev::tool

#include "support/sim_reader.h"

#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>

#include "kp_dev.h"

namespace kptest {

namespace {

std::mutex g_comMutex;
std::set<int> g_comsInUse;

int NibbleValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string SimExecutable() {
  const char* override = std::getenv("KPDEV_SIM");
  if (override != nullptr && *override != '\0') return override;
  return KPDEV_SIM_PATH;
}

int ReserveComNumber() {
  std::lock_guard<std::mutex> lock(g_comMutex);
  // The serial layer accepts COM1 to COM32; start high so a developer's
  // real ports (COM1, COM2) are never shadowed by a test that leaks.
  for (int com = 32; com >= 1; --com) {
    if (g_comsInUse.insert(com).second) return com;
  }
  throw std::runtime_error("no free COM number for another virtual reader");
}

void ReleaseComNumber(int com) {
  std::lock_guard<std::mutex> lock(g_comMutex);
  g_comsInUse.erase(com);
}

Bytes CommandFrame(std::uint16_t command, const Bytes& data) {
  Bytes plain;  // N, command, data, checksum as bytes; each becomes two nibbles
  const std::size_t n = data.size() + 2;
  plain.push_back(static_cast<std::uint8_t>(n >> 8));
  plain.push_back(static_cast<std::uint8_t>(n));
  plain.push_back(static_cast<std::uint8_t>(command >> 8));
  plain.push_back(static_cast<std::uint8_t>(command));
  std::uint8_t sum = static_cast<std::uint8_t>((command >> 8) ^ (command & 0xFF));
  for (std::uint8_t b : data) {
    plain.push_back(b);
    sum ^= b;
  }
  plain.push_back(sum);
  Bytes wire{0x02};
  for (std::uint8_t b : plain) {
    wire.push_back(static_cast<std::uint8_t>(0x30 + (b >> 4)));
    wire.push_back(static_cast<std::uint8_t>(0x30 + (b & 0x0F)));
  }
  wire.push_back(0x03);
  return wire;
}

Bytes HexBytes(const std::string& hex) {
  Bytes bytes;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    const int v = NibbleValue(c);
    if (v < 0) throw std::invalid_argument("bad hex text: " + hex);
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd hex text: " + hex);
  return bytes;
}

std::string Hex(const Bytes& bytes) { return kpsim::ToHexText(bytes); }

SimReader::SimReader(const std::string& family, const std::vector<std::string>& extra) : com_(ReserveComNumber()) {
  try {
    std::vector<std::string> args{"--family", family};
    args.insert(args.end(), extra.begin(), extra.end());
    process_ = std::make_unique<kpsim::SimProcess>(SimExecutable(), args);
    control_ = std::make_unique<kpsim::Control>(process_->control_port());
  } catch (...) {
    ReleaseComNumber(com_);
    throw;
  }
  variable_ = "KPDEV_COM" + std::to_string(com_);
  setenv(variable_.c_str(), process_->port_path().c_str(), 1);
}

SimReader::~SimReader() {
  Close();
  control_.reset();
  process_.reset();
  unsetenv(variable_.c_str());
  ReleaseComNumber(com_);
}

std::string SimReader::PortSpec(int baud) const {
  return "COM" + std::to_string(com_) + ":" + std::to_string(baud) + ":N:8:1";
}

int SimReader::Open(int type, int baud) {
  int handle = -1;
  const int r = KP_DEV_OpenDevice(type, PortSpec(baud).c_str(), &handle);
  if (r == 0) handle_ = handle;
  return r;
}

int SimReader::Close() {
  if (handle_ == 0) return 0;
  const int r = KP_DEV_CloseDevice(handle_);
  handle_ = 0;
  return r;
}

}  // namespace kptest

#include "reader_link.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "kp_dev.h"
#include "platform/network_target.h"
#include "wire/com_port.h"

namespace kpifd {

namespace {

// The library keeps its readers in one process-wide registry without locks,
// and a COM number reaches a device through the process environment: every
// call into it is made under this one lock.
std::mutex g_library;

// COM numbers this driver has pointed at a device (KPDEV_COM<n>). They are
// handed out from the top of the library's range, so a COM number that an
// administrator set for pcscd itself stays untouched.
constexpr int kFirstCom = 1;
constexpr int kLastCom = 32;
std::array<bool, kLastCom + 1> g_com_taken{};

std::string com_variable(int com) { return kp::wire::ComVariable(com); }

int take_com(const std::string& device) {
  for (int com = kLastCom; com >= kFirstCom; --com) {
    if (g_com_taken[com] || std::getenv(com_variable(com).c_str()) != nullptr) continue;
    if (setenv(com_variable(com).c_str(), device.c_str(), 1) != 0) return 0;
    g_com_taken[com] = true;
    return com;
  }
  return 0;
}

void release_com(int com) {
  unsetenv(com_variable(com).c_str());
  g_com_taken[com] = false;
}

// Decodes at most `max_chars` characters of a NUL-terminated hex text.
bool from_hex(const char* text, std::size_t max_chars, Bytes& out) {
  out.clear();
  if (kp::wire::FromHex(std::string_view(text, strnlen(text, max_chars)), &out)) return true;
  out.clear();
  return false;
}

// Room for any answer text: the library's response frames hold at most 2080
// characters, so no text it writes comes near this.
constexpr std::size_t kTextRoom = 4200;
constexpr int kBadAnswer = KP_DEV_ERR_STATUS;

}  // namespace

std::unique_ptr<ReaderLink> ReaderLink::open(const std::string& device, int type, int baud, std::string& why) {
  std::lock_guard<std::mutex> lock(g_library);
  const int com = take_com(device);
  if (com == 0) {
    why = "no free COM number left for " + device;
    return nullptr;
  }
  std::vector<int> speeds;
  if (baud > 0) {
    speeds = {baud};
  } else if (type == 61) {
    speeds = {115200, 19200, 38400, 57600};
  } else {
    speeds = {9600, 115200, 19200, 38400, 57600};
  }
  for (int speed : speeds) {
    char port[64];
    std::snprintf(port, sizeof port, "COM%d:%d:N:8:1", com, speed);
    int handle = 0;
    int r = KP_DEV_OpenDevice(type, port, &handle);
    if (r != 0) {
      const char* cause = r == KP_DEV_ERR_PARAM ? ": speed refused"
                          : kp::platform::IsNetworkTarget(device)
                              ? ": cannot be reached (refused, unreachable or in use)"
                              : ": cannot be opened (missing, busy or not a serial port)";
      why = device + cause + " (result " + std::to_string(r) + ")";
      if (r == KP_DEV_ERR_OPEN) break;  // the same at every speed
      continue;
    }
    std::array<char, kTextRoom> version{};
    r = KP_DEV_GetDeviceVersion(handle, version.data());
    if (r == 0) {
      std::unique_ptr<ReaderLink> link(new ReaderLink(com, handle, speed));
      version[version.size() - 1] = '\0';
      link->version_ = version.data();
      return link;
    }
    why = device + ": no answer from a type-" + std::to_string(type) + " reader at " + std::to_string(speed) +
          " baud (result " + std::to_string(r) + ")";
    KP_DEV_CloseDevice(handle);
  }
  release_com(com);
  return nullptr;
}

ReaderLink::~ReaderLink() {
  std::lock_guard<std::mutex> lock(g_library);
  KP_DEV_CloseDevice(handle_);
  release_com(com_);
}

int ReaderLink::seat_state(int seat, int& state) {
  std::lock_guard<std::mutex> lock(g_library);
  state = 0;
  return KP_DEV_IC_GetStatus(handle_, seat, &state);
}

int ReaderLink::power_on(int seat, Bytes& atr) {
  std::lock_guard<std::mutex> lock(g_library);
  constexpr int kRoom = 64;
  int len = kRoom;
  std::array<char, 2 * kRoom + 1> text{};
  const int r = KP_DEV_IC_PowerOn(handle_, seat, &len, text.data());
  if (r != 0) return r;
  if (len < 0 || len > kRoom || !from_hex(text.data(), 2 * static_cast<std::size_t>(len), atr)) return kBadAnswer;
  return 0;
}

int ReaderLink::power_off(int seat) {
  std::lock_guard<std::mutex> lock(g_library);
  return KP_DEV_IC_PowerOff(handle_, seat);
}

int ReaderLink::apdu(int seat, const std::uint8_t* cmd, std::size_t len, Bytes& answer) {
  if (len > kMaxApdu) return KP_DEV_ERR_PARAM;
  const std::string text = kp::wire::ToHex(cmd, len);
  std::lock_guard<std::mutex> lock(g_library);
  std::array<char, kTextRoom> response{};
  const int r = KP_DEV_IC_SendApdu(handle_, seat, 0, text.c_str(), static_cast<int>(text.size()), response.data());
  if (r != 0) return r;
  response[response.size() - 1] = '\0';
  if (!from_hex(response.data(), response.size(), answer) || answer.size() < 2) return kBadAnswer;
  return 0;
}

int ReaderLink::activate(Activation& card) {
  std::lock_guard<std::mutex> lock(g_library);
  constexpr int kUidRoom = 16;
  constexpr int kAtsRoom = 64;
  int type = 0;
  int uid_len = kUidRoom;
  int ats_len = kAtsRoom;
  std::array<char, 2 * kUidRoom + 1> uid{};
  std::array<char, 2 * kAtsRoom + 1> ats{};
  const int r = KP_DEV_IC_ConnectlessActive(handle_, &type, &uid_len, uid.data(), &ats_len, ats.data());
  if (r != 0) return r;
  if (uid_len < 1 || uid_len > kUidRoom || ats_len < 0 || ats_len > kAtsRoom) return kBadAnswer;
  card.type = type;
  if (!from_hex(uid.data(), 2 * static_cast<std::size_t>(uid_len), card.uid)) return kBadAnswer;
  card.ats.clear();
  if (ats_len > 0 && !from_hex(ats.data(), 2 * static_cast<std::size_t>(ats_len), card.ats)) return kBadAnswer;
  return 0;
}

int ReaderLink::halt() {
  std::lock_guard<std::mutex> lock(g_library);
  return KP_DEV_IC_ConnectlessHalt(handle_);
}

int ReaderLink::authenticate(int sector, int key_type, const std::uint8_t key[6]) {
  const std::string text = kp::wire::ToHex(key, 6);
  std::lock_guard<std::mutex> lock(g_library);
  return KP_DEV_IC_ConnectlessCertifySector(handle_, sector, key_type, text.c_str());
}

int ReaderLink::read_block(int block, std::uint8_t out[16]) {
  std::lock_guard<std::mutex> lock(g_library);
  int room = 64;  // characters
  std::array<char, 65> text{};
  const int r = KP_DEV_IC_ConnectlessReadBlock(handle_, block / 4, block % 4, &room, text.data());
  if (r != 0) return r;
  Bytes data;
  if (room != 16 || !from_hex(text.data(), 32, data) || data.size() != 16) return kBadAnswer;
  std::copy(data.begin(), data.end(), out);
  return 0;
}

int ReaderLink::write_block(int block, const std::uint8_t in[16]) {
  const std::string text = kp::wire::ToHex(in, 16);
  std::lock_guard<std::mutex> lock(g_library);
  return KP_DEV_IC_ConnectlessWriteBlock(handle_, block / 4, block % 4, text.c_str());
}

}  // namespace kpifd

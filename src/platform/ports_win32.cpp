#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/ports.h"

namespace kp::platform {

namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";
constexpr DWORD kNameRoom = 256;
constexpr DWORD kDataRoom = 256;

}  // namespace

std::vector<int> SystemSerialPorts() {
  std::vector<int> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return ports;
  for (DWORD index = 0; ports.size() < kMaxListedPorts; ++index) {
    char name[kNameRoom] = {};
    // One byte more than the room given to the call: the data of a value
    // is not always terminated, and its number is read as a text.
    BYTE data[kDataRoom + 1] = {};
    DWORD nameLength = kNameRoom;
    DWORD dataLength = kDataRoom;
    DWORD type = 0;
    const LONG r = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
    if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) break;
    // "COM7" names port 7; the number starts at the 4th character.  Data
    // that was not filled in (too long for the room) or carries no number
    // gives port 0, whose attempts fail.
    const char* text = reinterpret_cast<const char*>(data);
    ports.push_back(strnlen(text, kDataRoom) > 3 ? std::atoi(text + 3) : 0);
  }
  RegCloseKey(key);
  return ports;
}

}  // namespace kp::platform

// Automatic open: the port and speed the caller suggests first, then every
// serial port the system lists, each at a fixed series of speeds.  A
// candidate counts when the reader opens and then answers the version query.
#include <iterator>
#include <vector>

#include "base/results.h"
#include "platform/ports.h"
#include "readers/device.h"
#include "readers/registry.h"
#include "serial/port_text.h"
#include "services/auto_open.h"

namespace kp {

namespace {

constexpr int kType61 = 61;
constexpr int kLowestBaud = 9600;
constexpr int kType61DefaultBaud = 115200;
constexpr int kBauds[] = {9600, 115200, 19200, 38400, 57600};
constexpr int kType61Bauds[] = {115200, 19200, 38400, 57600};

// One candidate (port, baud).  The caller's variables show the candidate
// being tried; the handle variable is written only by a successful open.
int Attempt(int port, int baud, int* handle, int deviceType) {
  const PortSpec target = MakePortSpec(port, baud);
  ReaderLease lease;
  const int opened = Registry().Open(deviceType, target, &lease);
  if (opened != 0) return opened;
  *handle = target.handle;
  // The version text only proves that a reader answers; its buffer is as
  // large as any answer the reader can hand back, and is dropped.
  char version[kTextBuffer] = {};
  Use<Device> device(*lease);
  const int answered = device ? device->GetDeviceVersion(version) : device.refusal();
  if (answered == 0) return kOk;
  Registry().Close(lease);
  return answered;
}

}  // namespace

int AutoOpenDevice(int* port, int* baud, int* handle, int deviceType) {
  if (port == nullptr || baud == nullptr || handle == nullptr) return kErrOpen;
  const bool type61 = deviceType == kType61;

  // With neither a suggested port nor a listed one there is nothing to open:
  // that is a failure, never a 0 that could be taken for an open handle.
  int result = kErrOpen;
  if (*port > 0) {
    if (*baud < kLowestBaud) *baud = type61 ? kType61DefaultBaud : kLowestBaud;
    result = Attempt(*port, *baud, handle, deviceType);
    if (result == 0) return kOk;
  }

  const std::vector<int> ports = platform::ListSerialPorts();
  for (const int listed : ports) {
    const int* first = type61 ? std::begin(kType61Bauds) : std::begin(kBauds);
    const int* last = type61 ? std::end(kType61Bauds) : std::end(kBauds);
    for (const int* b = first; b != last; ++b) {
      *port = listed;
      *baud = *b;
      result = Attempt(listed, *b, handle, deviceType);
      if (result == 0) return kOk;
    }
  }
  return result;
}

}  // namespace kp

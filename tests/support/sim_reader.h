// The virtual reader for integration tests: one kpdev-sim process of a
// firmware family, reachable through the library as COM<n> (KPDEV_COM<n>
// points at its pseudo-terminal), with its control interface at hand.
//
//   kptest::SimReader reader("t1");
//   int h = reader.Open(1, 115200);          // KP_DEV_OpenDevice through the exports
//   reader.control().Fault("silent");
//   kpsim::WireTraffic t = reader.control().Traffic();
//
// The destructor closes the handle (when still open), stops the process and
// removes the variable.  Environment variables are process-wide: create
// every SimReader a test needs before starting its threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim_client.h"

namespace kptest {

using kpsim::Bytes;

// The kpdev-sim executable: $KPDEV_SIM when set, else the one built with
// the tests.
std::string SimExecutable();

// A COM number (1..32) no other live SimReader of this process uses.
int ReserveComNumber();
void ReleaseComNumber(int com);

// Command frame as the host sends it: STX, N = data + 2 as four nibble
// characters, the command code as four, the data as two each, the XOR of
// the command bytes and the data as two, ETX.  Every nibble v travels as
// the byte 0x30 + v.
Bytes CommandFrame(std::uint16_t command, const Bytes& data = {});
// Bytes of a text such as "1B 24 49 34" or "1B244934".
Bytes HexBytes(const std::string& hex);
std::string Hex(const Bytes& bytes);

class SimReader {
 public:
  // family: "t1", "t61" or "t0"; extra: more kpdev-sim options.
  explicit SimReader(const std::string& family, const std::vector<std::string>& extra = {});
  ~SimReader();
  SimReader(const SimReader&) = delete;
  SimReader& operator=(const SimReader&) = delete;

  int com() const { return com_; }
  const std::string& path() const { return process_->port_path(); }
  kpsim::Control& control() { return *control_; }
  kpsim::SimProcess& process() { return *process_; }

  // "COM<n>:<baud>:N:8:1"
  std::string PortSpec(int baud) const;
  // KP_DEV_OpenDevice(type, PortSpec(baud), &handle): the result; on
  // success the handle is remembered for Close and the destructor.
  int Open(int type, int baud = 9600);
  int handle() const { return handle_; }
  // KP_DEV_CloseDevice of the remembered handle; 0 when none is open.
  int Close();

  // The traffic since the last clear, and a fresh start for the next step.
  kpsim::WireTraffic Traffic() { return control_->Traffic(); }
  void ClearTraffic() { control_->Clear(); }
  // One value of the status line.
  std::string Status(const std::string& key) { return control_->Status().Get(key); }
  long long StatusNumber(const std::string& key) { return control_->Status().Number(key); }

 private:
  int com_;
  std::string variable_;
  std::unique_ptr<kpsim::SimProcess> process_;
  std::unique_ptr<kpsim::Control> control_;
  int handle_ = 0;
};

}  // namespace kptest

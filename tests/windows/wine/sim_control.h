// The virtual reader's control interface, reached from a Windows program
// over Winsock (TCP on 127.0.0.1), and the test environment that
// scripts/test-wine.sh sets up: the control port in KPDEV_SIM_CONTROL and
// the COM port number of the reader's serial line in KPDEV_SIM_COM.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kpwine {

using Bytes = std::vector<std::uint8_t>;

class ControlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SimControl {
 public:
  explicit SimControl(int port);
  ~SimControl();
  SimControl(const SimControl&) = delete;
  SimControl& operator=(const SimControl&) = delete;

  // One request line; the reply line without its newline.
  std::string Request(const std::string& line);
  // As Request, but throws unless the reply is "ok ..."; the text after "ok".
  std::string Ok(const std::string& line);
  std::map<std::string, std::string> Status();
  // The bytes of the traffic log in one direction: "H>D" (host to device)
  // or "D>H", every run of that tag concatenated.
  Bytes Traffic(const std::string& tag);

 private:
  std::uintptr_t socket_;
  std::string pending_;
};

// The environment of the run; throws ControlError when a variable is missing.
int ControlPortFromEnv();
int ComPortFromEnv();

std::string Hex(const Bytes& bytes);

}  // namespace kpwine

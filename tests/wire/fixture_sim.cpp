// The virtual reader half of the wire fixture: kpdev-sim processes behind
// COM numbers of their own.
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

namespace kptest {

namespace {

std::mutex g_comMutex;
std::set<int> g_comsInUse;

// A COM number (1..32) no other live SimReader of this process uses.
int ReserveComNumber() {
  std::lock_guard<std::mutex> lock(g_comMutex);
  // The serial layer accepts COM1 to COM32; the scripted devices take fixed
  // low numbers, so the virtual readers come from the top.
  for (int com = 32; com >= 1; --com) {
    if (g_comsInUse.insert(com).second) return com;
  }
  throw std::runtime_error("no free COM number for another virtual reader");
}

void ReleaseComNumber(int com) {
  std::lock_guard<std::mutex> lock(g_comMutex);
  g_comsInUse.erase(com);
}

}  // namespace

std::string SimExecutable() {
  const char* override = std::getenv("KPDEV_SIM");
  if (override != nullptr && *override != '\0') return override;
  return KPDEV_SIM_PATH;
}

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

const std::string& SimReader::path() const { return process_->port_path(); }

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

kpsim::WireTraffic SimReader::Traffic() { return control_->Traffic(); }
void SimReader::ClearTraffic() { control_->Clear(); }

}  // namespace kptest

// The readers the service drives: one thread per COM port in use, which
// runs that port's requests one after another, in the order they came,
// and between them polls the reader for events while anyone listens.  The
// library's handle is the COM number, so one thread per port is also what
// keeps a handle to one thread at a time.
//
// A probe runs on a thread of its own, one after another, so that a long
// search never holds up another reader's requests.  It takes each port it
// searches only when nothing of the service uses it (no request running or
// waiting, no subscription watching), and holds it for that port's search
// alone: requests for the port wait meanwhile and then run in order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "request.h"

namespace kpdev::service {

class ReaderPool {
 public:
  // Called on a reader's thread; must not block.
  using Done = std::function<void(nlohmann::json document)>;
  using EventSink = std::function<void(int port, nlohmann::json event)>;

  // Requests that may wait for one reader; one more is answered "busy".
  static constexpr std::size_t kMaxQueued = 16;

  explicit ReaderPool(EventSink sink);
  ~ReaderPool();  // waits for the operations that run
  ReaderPool(const ReaderPool&) = delete;
  ReaderPool& operator=(const ReaderPool&) = delete;

  // Queues a reader operation; false (and `done` not called) when the
  // port already has kMaxQueued requests waiting.
  bool Submit(const Request& request, Done done);

  // Watches a port for events while at least one subscription holds it.
  // The first subscription chooses the device type, speed and interval;
  // a later one asking for another type or speed gets an error text.
  std::string Subscribe(int port, int type, int baud, int intervalMs);
  void Unsubscribe(int port);

  // Probes that may wait for the one running; one more is answered "busy".
  static constexpr std::size_t kMaxProbes = 4;

  // Queues a probe (Op::kProbe); false (and `done` not called) when
  // kMaxProbes are waiting already.
  bool SubmitProbe(const Request& request, Done done);

  // Takes a port for a probe's search: empty when taken, else why the
  // service keeps it ("in use by kpdevd: ...").  Release gives it back.
  std::string Claim(int port);
  void Release(int port);

  // Requests waiting or running per port.
  std::map<int, std::size_t> Load();

 private:
  struct Port;
  struct ProbeJob {
    Request request;
    Done done;
  };
  Port& PortFor(int port);
  void Run(Port* port);
  void RunProbes();

  EventSink sink_;
  std::mutex mutex_;
  std::map<int, std::unique_ptr<Port>> ports_;

  std::mutex probeMutex_;
  std::condition_variable probeChanged_;
  std::deque<ProbeJob> probes_;
  std::atomic<bool> stopping_{false};
  std::thread probeThread_;  // started with the first probe
};

}  // namespace kpdev::service

#include "readers.h"

#include <chrono>

#include "operations.h"

namespace kpdev::service {

struct Job {
  Request request;
  ReaderPool::Done done;
  std::uint64_t ticket = 0;
};

struct ReaderPool::Port {
  int number = 0;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Job> queue;
  bool running = false;   // an operation is in progress
  bool probing = false;   // a probe searches the port: nothing else runs or polls
  bool watching = false;  // `watch` exists (the watcher may hold the port open)
  bool stop = false;
  int subscribers = 0;
  int type = 1;
  int baud = 9600;
  int intervalMs = 500;
  std::unique_ptr<kpdev::tool::Watcher> watch;  // only touched by the port's thread
  std::thread thread;
};

ReaderPool::ReaderPool(EventSink sink) : sink_(std::move(sink)) {}

ReaderPool::~ReaderPool() {
  // The probe first: it may still take a port (and start its thread).
  {
    std::lock_guard<std::mutex> lock(probeMutex_);
    stopping_ = true;
  }
  probeChanged_.notify_all();
  if (probeThread_.joinable()) probeThread_.join();
  for (auto& [number, port] : ports_) {
    {
      std::lock_guard<std::mutex> lock(port->mutex);
      port->stop = true;
    }
    port->changed.notify_all();
  }
  for (auto& [number, port] : ports_) port->thread.join();
}

ReaderPool::Port& ReaderPool::PortFor(int number) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::unique_ptr<Port>& port = ports_[number];
  if (!port) {
    port = std::make_unique<Port>();
    port->number = number;
    port->thread = std::thread([this, p = port.get()] { Run(p); });
  }
  return *port;
}

bool ReaderPool::Submit(const Request& request, Done done) {
  Port& port = PortFor(request.port);
  {
    std::lock_guard<std::mutex> lock(port.mutex);
    if (port.queue.size() >= kMaxQueued) return false;
    const std::uint64_t ticket = request.op == Op::kReadAll ? EnterReadAll() : 0;
    port.queue.push_back(Job{request, std::move(done), ticket});
  }
  port.changed.notify_all();
  return true;
}

bool ReaderPool::SubmitProbe(const Request& request, Done done) {
  {
    std::lock_guard<std::mutex> lock(probeMutex_);
    if (probes_.size() >= kMaxProbes) return false;
    probes_.push_back(ProbeJob{request, std::move(done)});
    if (!probeThread_.joinable()) probeThread_ = std::thread([this] { RunProbes(); });
  }
  probeChanged_.notify_all();
  return true;
}

void ReaderPool::RunProbes() {
  std::unique_lock<std::mutex> lock(probeMutex_);
  for (;;) {
    probeChanged_.wait(lock, [this] { return stopping_ || !probes_.empty(); });
    if (stopping_) return;
    ProbeJob job = std::move(probes_.front());
    probes_.pop_front();
    lock.unlock();
    kpdev::tool::ProbeOptions hooks;
    hooks.claim = [this](int port) { return Claim(port); };
    hooks.release = [this](int port) { Release(port); };
    hooks.stopping = [this] { return stopping_.load(); };
    job.done(RunProbe(job.request, hooks));
    lock.lock();
  }
}

std::string ReaderPool::Claim(int number) {
  Port& port = PortFor(number);
  std::lock_guard<std::mutex> lock(port.mutex);
  if (port.running || !port.queue.empty()) return "in use by kpdevd: a request runs or waits on it";
  if (port.subscribers > 0 || port.watching) return "in use by kpdevd: a subscription watches it";
  port.probing = true;
  return {};
}

void ReaderPool::Release(int number) {
  Port& port = PortFor(number);
  {
    std::lock_guard<std::mutex> lock(port.mutex);
    port.probing = false;
  }
  port.changed.notify_all();
}

std::string ReaderPool::Subscribe(int number, int type, int baud, int intervalMs) {
  Port& port = PortFor(number);
  {
    std::lock_guard<std::mutex> lock(port.mutex);
    if (port.subscribers > 0 && (port.type != type || port.baud != baud)) {
      return "COM" + std::to_string(number) + " is watched as type " + std::to_string(port.type) + " at " +
             std::to_string(port.baud) + " baud";
    }
    if (port.subscribers++ == 0) {
      port.type = type;
      port.baud = baud;
      port.intervalMs = intervalMs;
    }
  }
  port.changed.notify_all();
  return {};
}

void ReaderPool::Unsubscribe(int number) {
  Port& port = PortFor(number);
  {
    std::lock_guard<std::mutex> lock(port.mutex);
    if (port.subscribers > 0) --port.subscribers;
  }
  port.changed.notify_all();
}

std::map<int, std::size_t> ReaderPool::Load() {
  std::map<int, std::size_t> load;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [number, port] : ports_) {
    std::lock_guard<std::mutex> portLock(port->mutex);
    const std::size_t n = port->queue.size() + (port->running ? 1 : 0);
    if (n > 0) load[number] = n;
  }
  return load;
}

void ReaderPool::Run(Port* port) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point nextPoll = Clock::now();
  std::unique_lock<std::mutex> lock(port->mutex);
  for (;;) {
    // A probe searching the port has it to itself until it lets go.
    if (port->probing && !port->stop) {
      port->changed.wait(lock);
      continue;
    }
    // Sleeps until a request comes, the next poll is due, or the service
    // stops: no busy waiting between polls.
    if (port->queue.empty() && !port->stop) {
      if (port->subscribers > 0) {
        port->changed.wait_until(lock, nextPoll);
      } else {
        port->changed.wait(lock);
      }
    }
    if (port->stop) break;
    if (port->probing) continue;
    if (!port->queue.empty()) {
      Job job = std::move(port->queue.front());
      port->queue.pop_front();
      port->running = true;
      lock.unlock();
      // The operation opens the port itself.
      if (port->watch) port->watch->Release();
      job.done(RunOperation(job.request, job.ticket));
      lock.lock();
      port->running = false;
      continue;
    }
    if (port->subscribers == 0) {
      lock.unlock();
      port->watch.reset();
      lock.lock();
      port->watching = false;
      continue;
    }
    if (Clock::now() < nextPoll) continue;
    const int type = port->type, baud = port->baud, intervalMs = port->intervalMs;
    nextPoll = Clock::now() + std::chrono::milliseconds(port->intervalMs);
    // Set before the lock goes, so that a probe asking from now on keeps
    // away from the port the watcher opens.
    port->watching = true;
    lock.unlock();
    if (!port->watch) {
      const int number = port->number;
      port->watch = MakeEventWatch(number, type, baud, intervalMs,
                                   [this, number](nlohmann::json event) { sink_(number, std::move(event)); });
    }
    if (port->watch->lost()) {
      port->watch->Reopen();
    } else {
      port->watch->Poll();
    }
    lock.lock();
  }
  lock.unlock();
  port->watch.reset();
}

}  // namespace kpdev::service

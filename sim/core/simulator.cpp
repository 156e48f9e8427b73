#include "core/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace kpsim {

namespace {

// How long a "quit" waits for its own reply (and others) to be written.
constexpr std::chrono::milliseconds kQuitFlush{1000};
// Bytes waiting for a host that does not read: beyond this, the oldest
// output is dropped as a real transmit buffer would overrun.
constexpr std::size_t kMaxToHost = 1u << 20;

timespec TimespecUntil(TimePoint deadline, TimePoint now) {
  timespec t{};
  if (deadline <= now) return t;
  const auto ns = std::chrono::ceil<std::chrono::nanoseconds>(deadline - now).count();
  t.tv_sec = static_cast<time_t>(ns / 1000000000);
  t.tv_nsec = static_cast<long>(ns % 1000000000);
  return t;
}

}  // namespace

Simulator::Simulator(SimOptions options) : options_(std::move(options)), reader_(options_.reader) {
  if (options_.verbose) {
    reader_.SetObserver([](Direction direction, const std::uint8_t* data, std::size_t size) {
      std::fprintf(stderr, "kpdev-sim: %s %s\n", DirectionTag(direction), ToHex(data, size).c_str());
    });
  }
}

Simulator::~Simulator() {
  RemoveLink();
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

bool Simulator::Start(std::string* error) {
  if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (!pty_.Open(kStartupBaud, error)) return false;
  if (!options_.link.empty()) {
    struct stat existing {};
    if (lstat(options_.link.c_str(), &existing) == 0) {
      if (!S_ISLNK(existing.st_mode)) {
        *error = options_.link + " exists and is not a symbolic link";
        return false;
      }
      unlink(options_.link.c_str());
    }
    if (symlink(pty_.slave_path().c_str(), options_.link.c_str()) != 0) {
      *error = "link " + options_.link + ": " + std::strerror(errno);
      return false;
    }
    link_made_ = true;
  }
  return server_.Listen(options_.control_port, error);
}

void Simulator::Stop() {
  stop_.store(true);
  if (wake_[1] >= 0) {
    const char byte = 's';
    (void)!write(wake_[1], &byte, 1);
  }
}

std::string Simulator::Control(const std::string& line) {
  if (!running_.load()) return Handle(line);
  Posted request;
  request.line = line;
  std::unique_lock<std::mutex> lock(posted_mutex_);
  posted_.push_back(&request);
  const char byte = 'c';
  (void)!write(wake_[1], &byte, 1);
  posted_done_.wait(lock, [&request, this] { return request.done || !running_.load(); });
  if (!request.done) {
    // The loop ended before reaching the request.
    for (auto it = posted_.begin(); it != posted_.end(); ++it) {
      if (*it == &request) {
        posted_.erase(it);
        break;
      }
    }
    return Err("simulator stopped");
  }
  return request.reply;
}

std::string Simulator::Handle(const std::string& line) {
  reader_.state().host.baud = pty_.HostBaud();
  reader_.state().host.opens = pty_.host_opens();
  const ControlRequest request = ControlVerbs::Split(line);
  if (request.verb == "quit") {
    quitting_ = true;
    return Ok();
  }
  return reader_.HandleControl(line);
}

void Simulator::Run() {
  running_.store(true);
  TimePoint quit_deadline{};
  std::vector<pollfd> fds;
  while (!stop_.load()) {
    const TimePoint now = SimClock::now();
    if (quitting_) {
      if (quit_deadline == TimePoint{}) quit_deadline = now + kQuitFlush;
      if (server_.Flushed() || now >= quit_deadline) break;
    }
    // Woken to the microsecond: a paced answer's bytes are due a fraction of
    // a millisecond apart, and rounding every wake-up to whole milliseconds
    // would make the device slower than the line.
    std::optional<TimePoint> wake = reader_.NextDeadline();
    if (quitting_) wake = wake ? std::min(*wake, quit_deadline) : quit_deadline;
    timespec timeout{};
    if (wake) timeout = TimespecUntil(*wake, now);

    fds.clear();
    fds.push_back(pollfd{wake_[0], POLLIN, 0});
    fds.push_back(pollfd{pty_.master(), static_cast<short>(POLLIN | (to_host_.empty() ? 0 : POLLOUT)), 0});
    fds.push_back(pollfd{pty_.watch_fd(), POLLIN, 0});
    const std::size_t server_first = fds.size();
    server_.Collect(&fds);

    const int ready = ppoll(fds.data(), fds.size(), wake ? &timeout : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      if (fds[0].revents & POLLIN) DrainWake();
      // Host opens and closes first: a close discards what the host did not read.
      if (fds[2].revents & POLLIN) pty_.OnWatchEvents();
      if (fds[1].revents & POLLIN) ReadHost();
      if (fds[1].revents & POLLOUT) WriteHost();
      server_.Dispatch(fds, server_first, [this](const std::string& line) { return Handle(line); });
    }
    RunPosted();
    ServiceLine();
  }
  running_.store(false);
  {
    // Release callers of Control() whose requests the loop did not reach.
    std::lock_guard<std::mutex> lock(posted_mutex_);
    posted_done_.notify_all();
  }
  server_.Close();
  RemoveLink();
}

void Simulator::ReadHost() {
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t got = read(pty_.master(), buffer, sizeof buffer);
    if (got <= 0) return;
    reader_.OnHostBytes(buffer, static_cast<std::size_t>(got), pty_.HostBaud(), SimClock::now());
    if (static_cast<std::size_t>(got) < sizeof buffer) return;
  }
}

void Simulator::ServiceLine() {
  const Bytes due = reader_.Service(pty_.HostBaud(), SimClock::now());
  if (due.empty()) return;
  to_host_.insert(to_host_.end(), due.begin(), due.end());
  if (to_host_.size() > kMaxToHost) {
    to_host_.erase(to_host_.begin(), to_host_.end() - static_cast<std::ptrdiff_t>(kMaxToHost));
  }
  WriteHost();
}

void Simulator::WriteHost() {
  while (!to_host_.empty()) {
    const ssize_t sent = write(pty_.master(), to_host_.data(), to_host_.size());
    if (sent <= 0) return;
    to_host_.erase(to_host_.begin(), to_host_.begin() + sent);
  }
}

void Simulator::DrainWake() {
  char buffer[64];
  while (read(wake_[0], buffer, sizeof buffer) > 0) {
  }
}

void Simulator::RunPosted() {
  std::unique_lock<std::mutex> lock(posted_mutex_);
  if (posted_.empty()) return;
  while (!posted_.empty()) {
    Posted* request = posted_.front();
    posted_.pop_front();
    lock.unlock();
    std::string reply = Handle(request->line);
    lock.lock();
    request->reply = std::move(reply);
    request->done = true;
  }
  posted_done_.notify_all();
}

void Simulator::RemoveLink() {
  if (!link_made_) return;
  char target[PATH_MAX] = {};
  const ssize_t length = readlink(options_.link.c_str(), target, sizeof target - 1);
  if (length > 0 && pty_.slave_path() == std::string(target, static_cast<std::size_t>(length))) {
    unlink(options_.link.c_str());
  }
  link_made_ = false;
}

}  // namespace kpsim

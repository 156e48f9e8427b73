#include "base/trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kp {
namespace {

void DropTrace(const char*) {}

void StderrTrace(const char* text) { std::fprintf(stderr, "kpdev: %s\n", text); }

// Chosen once, from the environment of the first trace: a developer turns
// the step texts on with KPDEV_TRACE=1 without rebuilding.
TraceSink DefaultSink() {
  static const TraceSink sink = [] {
    const char* raw = std::getenv("KPDEV_TRACE");
    const std::string value = raw ? raw : "";
    return (value.empty() || value == "0") ? &DropTrace : &StderrTrace;
  }();
  return sink;
}

std::atomic<TraceSink> g_installedSink{nullptr};

}  // namespace

void DebugTrace(const char* text) {
  if (text == nullptr) return;
  TraceSink sink = g_installedSink.load();
  if (sink == nullptr) sink = DefaultSink();
  sink(text);
}

bool TraceEnabled() {
  const TraceSink sink = g_installedSink.load();
  return sink != nullptr || DefaultSink() != &DropTrace;
}

TraceSink SetTraceSink(TraceSink sink) { return g_installedSink.exchange(sink); }

}  // namespace kp

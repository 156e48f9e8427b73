// Trace sink of the serial layer.  Every low-level step reports a short
// text ("Send ok", "GetString -7", ...).  By default the texts are dropped;
// KPDEV_TRACE=1 in the environment prints them on stderr, and tests may
// install their own sink.
#pragma once

namespace kp {

using TraceSink = void (*)(const char* text);

void DebugTrace(const char* text);
// Whether traces go anywhere: callers skip building costly texts otherwise.
bool TraceEnabled();
// Installs a sink (nullptr restores the default); returns the previous one.
TraceSink SetTraceSink(TraceSink sink);

}  // namespace kp

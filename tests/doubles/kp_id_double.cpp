// Stand-in for the sibling identity-card library: the entry points the
// driver binds, with results the test chooses and a record of every call.
// Built three times: complete, without KP_ID_AutoOpenDevice (optional for
// the driver) and without KP_ID_Read (required although never called).
#include <cstdio>
#include <cstring>
#include <string>

#define KPID_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

int g_openResult = 0;
int g_findResult = 0;
int g_handle = 0;
std::string g_calls;

void Note(const char* format, int a, int b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  g_calls += text;
}

}  // namespace

// ---- control, for the tests only

// Results of the next OpenDevice and FindID, and the handle a successful
// OpenDevice writes (a failed one writes nothing).
KPID_EXPORT void KPIDDouble_Configure(int openResult, int findResult, int handle) {
  g_openResult = openResult;
  g_findResult = findResult;
  g_handle = handle;
  g_calls.clear();
}

// Calls since the last Configure, as "Open(port,flag) Find(h) Get(h,field) Close(h) ".
KPID_EXPORT const char* KPIDDouble_Calls() { return g_calls.c_str(); }

// ---- the sibling library's entry points

KPID_EXPORT int KP_ID_GetDllVersion(char* version) {
  if (version != nullptr) std::strcpy(version, "double");
  return 0;
}

KPID_EXPORT int KP_ID_OpenDevice(int port, int* handle, int flag) {
  Note("Open(%d,%d) ", port, flag);
  if (g_openResult == 0 && handle != nullptr) *handle = g_handle;
  return g_openResult;
}

#ifndef KPID_DOUBLE_WITHOUT_AUTOOPEN
KPID_EXPORT int KP_ID_AutoOpenDevice(int* port, int* handle) {
  if (port != nullptr) *port = 1;
  if (handle != nullptr) *handle = g_handle;
  return -1;
}
#endif

KPID_EXPORT int KP_ID_CloseDevice(int handle) {
  Note("Close(%d) ", handle);
  return 0;
}

KPID_EXPORT int KP_ID_Reset(int /*handle*/) { return 0; }
KPID_EXPORT int KP_ID_GetStatus(int /*handle*/) { return 0; }

#ifndef KPID_DOUBLE_WITHOUT_READ
KPID_EXPORT int KP_ID_Read(int /*handle*/, int /*timeLimit*/, char** /*fields*/) { return -1; }
#endif

KPID_EXPORT int KP_ID_FindID(int handle) {
  Note("Find(%d) ", handle);
  return g_findResult;
}

// Field n is "field<n>", except field 5 (the address), which fills the
// whole 260-byte buffer: 259 characters and the NUL.
KPID_EXPORT int KP_ID_GetData(int handle, int field, char* text) {
  Note("Get(%d,%d) ", handle, field);
  if (field == 5) {
    std::memset(text, 'A', 259);
    text[259] = '\0';
  } else {
    std::snprintf(text, 260, "field%d", field);
  }
  return 0;
}

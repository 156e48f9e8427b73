// Entry point of KP_DEV.dll.  Loading and unloading need nothing from it:
// the reader registry and the terminal data are static objects that the
// runtime builds before the first export runs and destroys at unload (which
// closes every port still open), so every notification reports success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }

#include <windows.h>

#include <string>

#include "platform/dynlib.h"

namespace kp::platform {

namespace {

std::string& DirectoryOverride() {
  static std::string directory;
  return directory;
}

}  // namespace

LibraryHandle LoadLibraryFile(const std::string& nameOrPath) {
  return reinterpret_cast<LibraryHandle>(LoadLibraryA(nameOrPath.c_str()));
}

void* FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryFile(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

const char* IdLibraryFileName() { return "KP_ID.dll"; }
const char* PhotoDecoderFileName() { return "wltrs.dll"; }

std::string ModuleDirectory() {
  if (!DirectoryOverride().empty()) return DirectoryOverride();
  // When the code is linked into a program instead of loaded as KP_DEV.dll
  // the module handle is null, and the name is that of the executable.
  const HMODULE self = GetModuleHandleA("KP_DEV.dll");
  char name[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(self, name, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string(".\\");
  const std::string path(name, n);
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
}

void SetModuleDirectoryOverride(const std::string& directory) {
  std::string& stored = DirectoryOverride();
  stored = directory;
  if (!stored.empty() && stored.back() != '\\' && stored.back() != '/') stored += '\\';
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

}  // namespace kp::platform

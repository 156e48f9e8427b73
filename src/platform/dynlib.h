// Run-time loading of the two outside libraries the identity-card code
// uses (the sibling identity-card library and the photo decoder), and the
// file services that go with the photo: where this library's own file lies
// and removing a file.  One implementation file per operating system
// (dynlib_posix.cpp, dynlib_win32.cpp).
#pragma once

#include <string>

namespace kp::platform {

using LibraryHandle = void*;

// Loads a library.  A bare name goes through the system's normal library
// search; a name with a directory part is loaded from exactly there.
// nullptr when it cannot be loaded.
LibraryHandle LoadLibraryFile(const std::string& nameOrPath);
// Address of an exported entry point, nullptr when the library lacks it.
void* FindSymbol(LibraryHandle library, const char* name);
// Releases one load; nullptr is ignored.
void FreeLibraryFile(LibraryHandle library);

// One load of a library, released when the object goes.
class LoadedLibrary {
 public:
  LoadedLibrary() = default;
  explicit LoadedLibrary(const std::string& nameOrPath) : handle_(LoadLibraryFile(nameOrPath)) {}
  ~LoadedLibrary() { FreeLibraryFile(handle_); }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  LibraryHandle get() const { return handle_; }

 private:
  LibraryHandle handle_ = nullptr;
};

// File name of the sibling identity-card library, loaded by bare name:
// "KP_ID.dll" on Windows, "libKP_ID.so" elsewhere.
const char* IdLibraryFileName();
// File name of the identity-photo decoder, which is looked for only in
// ModuleDirectory(): "wltrs.dll" on Windows, "libwltrs.so" elsewhere.
const char* PhotoDecoderFileName();

// Directory of the file this library was loaded from, with a trailing
// separator.  When the code is not inside the shared library (a program
// that links it statically, such as the unit tests) it is the directory of
// the running executable.  A directory set with SetModuleDirectoryOverride
// takes precedence.
std::string ModuleDirectory();
// Replaces the answer of ModuleDirectory (a trailing separator is added
// when missing), so that tests can give every run its own photo directory;
// an empty text restores the lookup.
void SetModuleDirectoryOverride(const std::string& directory);

// Removes a file; false when there was none or it could not be removed.
bool DeleteFileAt(const std::string& path);

}  // namespace kp::platform

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/dynlib.h"

namespace kp::platform {

namespace {

std::string& DirectoryOverride() {
  static std::string directory;
  return directory;
}

// Directory part of a path, with its trailing slash; empty when the path
// has none.
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExecutableDirectory() {
  char buffer[PATH_MAX + 1] = {};
  const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return std::string();
  return DirectoryOf(std::string(buffer, static_cast<std::size_t>(n)));
}

// The file of the object that holds this function: the shared library when
// the code was loaded as one, else the executable (whose link map entry has
// an empty name).
std::string OwnObjectDirectory() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&OwnObjectDirectory), &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) ==
          0 ||
      map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
    return ExecutableDirectory();
  }
  // The name is the one the loader found the file under, which may be
  // relative to the directory the process started in; resolve it now.
  char resolved[PATH_MAX + 1] = {};
  if (realpath(map->l_name, resolved) != nullptr) return DirectoryOf(resolved);
  return DirectoryOf(map->l_name);
}

}  // namespace

LibraryHandle LoadLibraryFile(const std::string& nameOrPath) {
  return dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return dlsym(library, name);
}

void FreeLibraryFile(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

const char* IdLibraryFileName() { return "libKP_ID.so"; }
const char* PhotoDecoderFileName() { return "libwltrs.so"; }

std::string ModuleDirectory() {
  if (!DirectoryOverride().empty()) return DirectoryOverride();
  const std::string directory = OwnObjectDirectory();
  // Never answer with an empty directory: the decoder must be loaded by a
  // path, not found by the library search.
  return directory.empty() ? std::string("./") : directory;
}

void SetModuleDirectoryOverride(const std::string& directory) {
  std::string& stored = DirectoryOverride();
  stored = directory;
  if (!stored.empty() && stored.back() != '/') stored += '/';
}

bool DeleteFileAt(const std::string& path) { return unlink(path.c_str()) == 0; }

}  // namespace kp::platform

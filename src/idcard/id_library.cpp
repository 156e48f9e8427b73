#include "idcard/id_library.h"

#include <cstdio>
#include <cstring>

#include "base/results.h"

namespace kp {

namespace {

constexpr int kIdCardKind = 5;
constexpr int kFieldCount = 9;
// The flag the sibling library's open is always called with.
constexpr int kOpenFlag = 1;

std::string& IdLibraryNameSetting() {
  static std::string name;
  return name;
}

template <typename Fn>
Fn Entry(platform::LibraryHandle module, const char* name) {
  return reinterpret_cast<Fn>(platform::FindSymbol(module, name));
}

}  // namespace

void SetIdLibraryName(const std::string& nameOrPath) { IdLibraryNameSetting() = nameOrPath; }

CIdLibrary::CIdLibrary() { bound_ = Bind() ? 1 : 0; }

CIdLibrary::~CIdLibrary() = default;

bool CIdLibrary::Bind() {
  if (!module_) {
    const std::string& configured = IdLibraryNameSetting();
    module_ =
        std::make_unique<platform::LoadedLibrary>(configured.empty() ? platform::IdLibraryFileName() : configured);
    if (!*module_) {
      module_.reset();
      return false;
    }
  }
  getDllVersion_ = Entry<AnyFn>(module_->get(), "KP_ID_GetDllVersion");
  reset_ = Entry<AnyFn>(module_->get(), "KP_ID_Reset");
  getStatus_ = Entry<AnyFn>(module_->get(), "KP_ID_GetStatus");
  openDevice_ = Entry<OpenFn>(module_->get(), "KP_ID_OpenDevice");
  autoOpenDevice_ = Entry<AnyFn>(module_->get(), "KP_ID_AutoOpenDevice");
  closeDevice_ = Entry<HandleFn>(module_->get(), "KP_ID_CloseDevice");
  read_ = Entry<AnyFn>(module_->get(), "KP_ID_Read");
  findId_ = Entry<HandleFn>(module_->get(), "KP_ID_FindID");
  getData_ = Entry<GetDataFn>(module_->get(), "KP_ID_GetData");
  // Entries never called are still required: a library that lacks one of
  // them is not the library this code was written against.
  return getDllVersion_ && reset_ && getStatus_ && openDevice_ && closeDevice_ && read_ && findId_ && getData_;
}

int CIdLibrary::Open(int port, int flag) { return openDevice_ ? openDevice_(port, &deviceHandle_, flag) : kErrOpen; }

int CIdLibrary::FindID() { return findId_ ? findId_(deviceHandle_) : kErrOpen; }

int CIdLibrary::GetData(int field, char* text) { return getData_ ? getData_(deviceHandle_, field, text) : kErrOpen; }

int CIdLibrary::Close() { return closeDevice_ ? closeDevice_(deviceHandle_) : kErrOpen; }

int ReadIdViaLibrary(int port, int* kind, char* result, std::size_t room) {
  CIdLibrary library;
  if (!library.bound()) return kNothingYet;
  if (library.Open(port, kOpenFlag) != 0) {
    library.Close();
    return kNothingYet;
  }
  if (library.FindID() != 0) {
    library.Close();
    return kNothingYet;
  }
  char fields[kFieldCount][kIdFieldRoom] = {};
  for (int i = 0; i < kFieldCount; ++i) {
    library.GetData(i + 1, fields[i]);
    // The library owns what it writes; never let a missing NUL run on.
    fields[i][kIdFieldRoom - 1] = '\0';
  }
  if (kind != nullptr) *kind = kIdCardKind;
  if (result != nullptr && room > 0) {
    std::snprintf(result, room, "%s|%s|%s|%s|%s|%s|%s|%s|%s", fields[0], fields[1], fields[2], fields[3], fields[4],
                  fields[5], fields[6], fields[7], fields[8]);
  }
  library.Close();
  return kOk;
}

}  // namespace kp

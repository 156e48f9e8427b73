// CIdLibrary: the sibling identity-card library, bound at run time.  It
// opens the reader's COM port itself and drives the card; the read-any-card
// loop uses it through ReadIdViaLibrary after closing its own reader on
// that port.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "kp_dev.h"
#include "platform/dynlib.h"

namespace kp {

// Each field the sibling library hands out lands in a slot of this size.
constexpr std::size_t kIdFieldRoom = 260;
// Room that always holds the nine fields joined by '|', with the NUL.
constexpr std::size_t kIdJoinedRoom = 9 * kIdFieldRoom;

class CIdLibrary {
 public:
  // Binds at once; bound() tells whether every required entry was found.
  CIdLibrary();
  // Unloads the library.
  virtual ~CIdLibrary();
  CIdLibrary(const CIdLibrary&) = delete;
  CIdLibrary& operator=(const CIdLibrary&) = delete;

  // Loads the library by its bare name when not loaded yet and resolves its
  // entries; true when all required ones are there (KP_ID_AutoOpenDevice is
  // optional).
  bool Bind();
  bool bound() const { return bound_ != 0; }
  int deviceHandle() const { return deviceHandle_; }

  // The library's own results, passed through; -1 when the entry is missing.
  int Open(int port, int flag);
  int FindID();
  // Writes field 1..9 as a NUL-terminated text into a buffer of
  // kIdFieldRoom bytes.
  int GetData(int field, char* text);
  int Close();

 private:
  using OpenFn = int(KP_STDCALL*)(int, int*, int);
  using HandleFn = int(KP_STDCALL*)(int);
  using GetDataFn = int(KP_STDCALL*)(int, int, char*);
  using AnyFn = void*;  // entries that are resolved but never called

  int bound_ = 0;
  std::unique_ptr<platform::LoadedLibrary> module_;  // unloaded with the object
  int deviceHandle_ = 0;
  AnyFn getDllVersion_ = nullptr;
  OpenFn openDevice_ = nullptr;
  AnyFn autoOpenDevice_ = nullptr;
  HandleFn closeDevice_ = nullptr;
  AnyFn reset_ = nullptr;
  AnyFn getStatus_ = nullptr;
  AnyFn read_ = nullptr;
  HandleFn findId_ = nullptr;
  GetDataFn getData_ = nullptr;
};

// One identity-card attempt of the read-any-card loop on a COM port: binds
// the sibling library, opens the port, finds a card and fetches its nine
// fields.  0 with *kind = 5 and the fields joined by '|' in result (at most
// room bytes with the NUL; kIdJoinedRoom always suffices); -101 when the
// library is missing or incomplete, the port does not open or no card is
// found, with *kind and result untouched.
int ReadIdViaLibrary(int port, int* kind, char* result, std::size_t room = kIdJoinedRoom);

// Name or path under which the sibling library is loaded; empty restores
// the system's library file name (searched the normal way).  Lets tests
// choose a particular build of the library.
void SetIdLibraryName(const std::string& nameOrPath);

}  // namespace kp

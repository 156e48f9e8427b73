// Technology modules over the reader core, and the one gate in front of them.
//
// A module is a small class over a CReader (contact CPU cards, store cards,
// contactless cards, the magnetic head, SLE44x8, AT88SC, AT24Cxx, AT45DB041,
// the identity-card module, the device itself).  It declares once which
// technology it belongs to (kTech) and, when every operation of it is one a
// family may not know, that feature too (kFeature: AT45DB041).  Features that
// only some operations of a module need (password read-back, the AT88SC102
// erase, the AT88SC1608 extras) are named where the export dispatch names
// the operation: On<Module>(name, handle, feature, ...) in api/exports.cpp.
//
// Callers reach a module only through Use<Module>(reader[, feature]), which
// applies the gate before anything else of the operation runs (argument
// checks included) and yields either the module or the refusal (-20).  An
// operation that calls an operation of another module goes through
// Along<Other>(this), which checks at compile time that the outer gate
// covers the other module too.
//
// A new memory chip is a new header and source here (a module deriving
// from memory::MemoryModule), one line in the library's source list, and its
// exports.
#pragma once

#include "readers/reader.h"

namespace kp {

class Module {
 public:
  explicit Module(CReader& reader) : reader_(reader), family_(reader.family()), port_(reader.serialPort()) {}

  static constexpr unsigned kFeature = kNoFeature;

 protected:
  using Reply = CReader::Reply;

  int Command(int command, const std::string& dataHex, int timeoutMs, Reply* reply, bool mapStatus = true) {
    return reader_.Command(command, dataHex, timeoutMs, reply, mapStatus);
  }
  int Broken(int result) { return reader_.Broken(result); }

  // Another module on the same reader, for an operation whose gate has
  // passed: only a module the same gate admits.
  template <typename Other, typename Self>
  Other Along(const Self* /*self*/) const {
    static_assert(Other::kTech == Self::kTech, "another technology needs its own gate");
    static_assert((Other::kFeature & ~Self::kFeature) == 0, "a feature the outer gate did not check");
    return Other(reader_);
  }

  CReader& reader_;
  const ReaderFamily& family_;
  CSerialPort& port_;
};

// The gate, applied once: the module when the reader as opened serves its
// technology (and knows feature), else the refusal.
template <typename M>
class Use {
 public:
  explicit Use(CReader& reader, unsigned feature = kNoFeature)
      : refusal_(reader.Gate(M::kTech, M::kFeature | feature)), module_(reader) {}

  explicit operator bool() const { return refusal_ == 0; }
  int refusal() const { return refusal_; }
  M& operator*() { return module_; }
  M* operator->() { return &module_; }

 private:
  int refusal_;
  M module_;
};

}  // namespace kp

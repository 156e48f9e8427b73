#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::Magnetic_Reset() { return kNotImplemented; }
int CReaderT1::Magnetic_Accept() { return kNotImplemented; }
int CReaderT1::Magnetic_CancelAccept() { return kNotImplemented; }
int CReaderT1::Magnetic_ReadTrack(char* /*track1*/, char* /*track2*/) { return kNotImplemented; }
int CReaderT1::Magnetic_WaitForWriteFirstTrack(const char* /*track1*/) { return kNotImplemented; }
int CReaderT1::Magnetic_WaitForWriteTrack(const char* /*track2*/) { return kNotImplemented; }
int CReaderT1::Magnetic_WaitForWriteBothTracks(const char* /*track1*/, const char* /*track2*/) {
  return kNotImplemented;
}
int CReaderT1::Magnetic_ConfirmWriteTrack() { return kNotImplemented; }

int CReaderT61::Magnetic_Accept() { return 0; }

int CReaderT0::Magnetic_Reset() { return -20; }
int CReaderT0::Magnetic_Accept() { return -20; }
int CReaderT0::Magnetic_CancelAccept() { return -20; }
int CReaderT0::Magnetic_ReadTrack(char* /*track1*/, char* /*track2*/) { return -20; }
int CReaderT0::Magnetic_WaitForWriteFirstTrack(const char* /*track1*/) { return -20; }
int CReaderT0::Magnetic_WaitForWriteTrack(const char* /*track2*/) { return -20; }
int CReaderT0::Magnetic_WaitForWriteBothTracks(const char* /*track1*/, const char* /*track2*/) { return -20; }
int CReaderT0::Magnetic_ConfirmWriteTrack() { return -20; }
}  // namespace kp

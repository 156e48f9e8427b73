// The gate in front of the technology modules, without a line: which
// technologies and features each family serves as opened, and that
// Use<Module> yields the refusal the gate gives.  The
// reader is opened on a device that does not exist: the open fails, but it
// has recorded what was asked for, and the gate sends nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "readers/at45.h"
#include "readers/family.h"
#include "readers/magnetic.h"
#include "readers/reader.h"
#include "readers/sle44x8.h"
#include "serial/port_text.h"

namespace {

constexpr int kPort = 77;
constexpr int kRefused = -20;

// A reader of family opened (unsuccessfully) as deviceType.
void OpenNowhere(kp::CReader& reader, int deviceType) {
#ifndef _WIN32
  setenv("KPDEV_COM77", "/nonexistent/kpdev-gate-test", 1);
#endif
  EXPECT_NE(reader.OpenDevice(deviceType, kp::MakePortSpec(kPort, 9600)), 0);
}

TEST(Gate, EachFamilyServesItsTechnologiesAsOpened) {
  struct Case {
    const kp::ReaderFamily* family;
    int deviceType;
    int recorded;  // what KP_DEV_CheckIsOpen reports
    int card, magnetic, identity;
  };
  const std::vector<Case> cases = {
      // Types 1, 2, 5: cards on the IC module (opened as 0 or 1), the head
      // on its module (2), no identity module.
      {&kp::kFamilyType1, 1, 1, 0, kRefused, kRefused},
      {&kp::kFamilyType1, 2, 2, kRefused, 0, kRefused},
      {&kp::kFamilyType1, 5, 0, 0, kRefused, kRefused},
      {&kp::kFamilyType1, 3, 3, kRefused, kRefused, kRefused},
      // Type 0: cards and the identity module always, no head.
      {&kp::kFamilyType0, 0, 0, 0, kRefused, 0},
      {&kp::kFamilyType0, 5, 0, 0, kRefused, 0},
      // Types 61, 62: cards and head always, no identity module; type 5
      // stays 5.
      {&kp::kFamilyType61, 61, 61, 0, 0, kRefused},
      {&kp::kFamilyType61, 5, 5, 0, 0, kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deviceType);
    kp::CReader reader(*c.family);
    OpenNowhere(reader, c.deviceType);
    EXPECT_EQ(reader.CheckIsOpen(), c.recorded);
    EXPECT_EQ(reader.Gate(kp::Tech::kCard), c.card);
    EXPECT_EQ(reader.Gate(kp::Tech::kMagnetic), c.magnetic);
    EXPECT_EQ(reader.Gate(kp::Tech::kIdentity), c.identity);
  }
}

TEST(Gate, OnlyTypeZeroKnowsTheExtraMemoryOperations) {
  const unsigned features[] = {kp::kPasswordReadBack, kp::kAt88sc102Erase, kp::kAt88sc1608Extras, kp::kAt45db041};
  struct Case {
    const kp::ReaderFamily* family;
    int deviceType;
    int expected;
  };
  const std::vector<Case> cases = {
      {&kp::kFamilyType1, 1, kRefused},
      {&kp::kFamilyType0, 0, 0},
      {&kp::kFamilyType61, 61, kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deviceType);
    kp::CReader reader(*c.family);
    OpenNowhere(reader, c.deviceType);
    for (const unsigned feature : features) EXPECT_EQ(reader.Gate(kp::Tech::kCard, feature), c.expected);

    // The module that needs a feature throughout declares it; the others
    // get it named with the operation.
    const kp::Use<kp::At45db041> at45(reader);
    EXPECT_EQ(at45.refusal(), c.expected);
    const kp::Use<kp::Sle44x8> readBack(reader, kp::kPasswordReadBack);
    EXPECT_EQ(readBack.refusal(), c.expected);
    const kp::Use<kp::Sle44x8> plain(reader);
    EXPECT_TRUE(static_cast<bool>(plain));
  }
  // A feature on top of a technology the open does not serve: still -20.
  kp::CReader head(kp::kFamilyType1);
  OpenNowhere(head, 2);
  EXPECT_EQ(kp::Use<kp::Sle44x8>(head).refusal(), kRefused);
  EXPECT_EQ(kp::Use<kp::MagneticHead>(head).refusal(), 0);
}

}  // namespace

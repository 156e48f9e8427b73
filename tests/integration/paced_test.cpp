// The longest exchanges at real line speeds: each runs once against a
// virtual reader that answers at once and once against one that keeps real
// time (bytes take their wire time, commands their device time), and must
// give the same results both ways.  The expected results come from the
// cards' contents, so both runs are also checked on their own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "support/sim_reader.h"
#include "support/wait.h"

using kptest::Bytes;
using kptest::Hex;
using kptest::SimReader;
using Clock = std::chrono::steady_clock;

namespace {

const char kManyTrack2[] = "6200001234567892D30122200000012340000F";  // pboc-many-records
const char kManyAid[] = "F0000001560101";

std::vector<std::string> Pacing(bool paced) { return {"--pacing", paced ? "on" : "off"}; }

// Runs `operation` unpaced, then paced; returns both results.
template <typename Operation>
std::pair<std::string, std::string> BothWays(const char* what, Operation operation) {
  const std::string plain = operation(false);
  const Clock::time_point start = Clock::now();
  const std::string paced = operation(true);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("[ paced    ] %s: %.3f s\n", what, seconds);
  return {plain, paced};
}

std::string Result(int r, const std::string& text = "") { return std::to_string(r) + " " + text; }

// The largest answer a 2080-character response buffer holds: L = 1039,
// status and 1037 version bytes, 2086 bytes on the wire (2.2 s at 9600).
TEST(Paced, LargestAnswerAt9600) {
  Bytes version(1037);
  for (std::size_t i = 0; i < version.size(); ++i) version[i] = static_cast<std::uint8_t>(0x20 + i % 90);
  const auto [plain, paced] = BothWays("version of 1037 bytes, type 1 at 9600", [&](bool pace) {
    std::vector<std::string> args = Pacing(pace);
    args.insert(args.end(), {"--version-hex", Hex(version)});
    SimReader sim("t1", args);
    if (sim.Open(1, 9600) != 0) return std::string("open failed");
    static char text[4200];
    std::memset(text, 0, sizeof text);
    const int r = KP_DEV_GetDeviceVersion(sim.handle(), text);
    // The reader is in step afterwards: a short exchange follows at once.
    sim.control().Ok("version-hex 010203040506");
    char again[64] = {};
    const int next = KP_DEV_GetDeviceVersion(sim.handle(), again);
    return Result(r, text) + " " + Result(next, again);
  });
  EXPECT_EQ(plain, "0 " + Hex(version) + " 0 010203040506");
  EXPECT_EQ(paced, plain);
}

// The longest command: APDU data of 1033 bytes less the seat byte fills a
// 2078-byte frame (2.2 s on the wire at 9600) before the device may answer.
TEST(Paced, LongestCommandAt9600) {
  const auto [plain, paced] = BothWays("APDU in a 2078-byte frame, type 1 at 9600", [&](bool pace) {
    SimReader sim("t1", Pacing(pace));
    sim.control().Ok("insert 0 cpu");
    if (sim.Open(1, 9600) != 0) return std::string("open failed");
    char atr[128] = {};
    int atrLen = 60;
    const int power = KP_DEV_IC_PowerOn(sim.handle(), 0, &atrLen, atr);
    // UPDATE BINARY with 255 bytes plus padding up to the longest frame the
    // library sends: the card refuses it by status word, which is the point:
    // the answer arrives after the whole frame did.
    std::string apdu = "00D60000FF" + std::string(2 * 255, 'A');
    apdu += std::string(2064 - apdu.size(), 'B');
    static char answer[4200];
    std::memset(answer, 0, sizeof answer);
    const int r = KP_DEV_IC_SendApdu(sim.handle(), 0, 0, apdu.c_str(), static_cast<int>(apdu.size()), answer);
    return Result(power) + Result(r, answer);
  });
  EXPECT_EQ(paced, plain);
  EXPECT_EQ(plain.rfind("0 0 ", 0), 0u) << plain;
}

// A track of 2070 characters, the longest write (2079 bytes, 2.2 s at 9600).
TEST(Paced, FullLengthMagneticWriteAt9600) {
  const std::string track(2070, '5');
  const auto [plain, paced] = BothWays("magnetic write of 2070 characters, type 2 at 9600", [&](bool pace) {
    SimReader sim("t1", Pacing(pace));
    if (sim.Open(2, 9600) != 0) return std::string("open failed");
    sim.ClearTraffic();
    const int arm = KP_DEV_Magnetic_WaitForWriteTrack(sim.handle(), track.c_str(), "");
    // The card passes once the whole message has reached the head.
    const bool heard =
        kptest::WaitUntil([&] { return sim.StatusNumber("traffic_bytes") >= static_cast<long long>(track.size() + 9); },
                          std::chrono::milliseconds(10000));
    const std::string swipe = sim.control().Request("swipe");
    int r = -101;
    kptest::WaitUntil(
        [&] {
          r = KP_DEV_Magnetic_ConfirmWriteTrack(sim.handle());
          return r != -101;
        },
        std::chrono::milliseconds(5000));
    return Result(arm) + (heard ? "heard " : "unheard ") + swipe + " " + Result(r);
  });
  EXPECT_EQ(plain, "0 heard ok written 0 ");
  EXPECT_EQ(paced, plain);
}

struct Text {
  Text() { std::memset(chars, 0, sizeof chars); }
  char chars[8192];
};

// Card information and all twelve records of the pboc-many-records card, on
// the contact seat of a type-1 reader at 9600 and the contactless seat of a
// type-61 reader at each of its speeds.
TEST(Paced, BankCardWithManyRecords) {
  struct Case {
    const char* family;
    int type, baud, seat;
  };
  for (const Case& c : {Case{"t1", 1, 9600, 0}, Case{"t61", 61, 9600, 255}, Case{"t61", 61, 115200, 255}}) {
    char what[96];
    std::snprintf(what, sizeof what, "card info and GPO records, type %d at %d, seat %d", c.type, c.baud, c.seat);
    const auto [plain, paced] = BothWays(what, [&](bool pace) {
      std::vector<std::string> args = Pacing(pace);
      args.insert(args.end(), {"--device-baud", std::to_string(c.baud)});
      SimReader sim(c.family, args);
      sim.control().Ok(std::string("insert ") + std::to_string(c.seat) + (c.seat == 0 ? " bank" : " rf-bank") +
                       " profile=pboc-many-records");
      if (sim.Open(c.type, c.baud) != 0) return std::string("open failed");
      char atr[600] = {};
      int atrLen = 512;
      int power = 0;
      if (c.seat == 0) {
        power = KP_DEV_IC_PowerOn(sim.handle(), 0, &atrLen, atr);
      } else {
        char uid[64] = {};
        int type = 0, uidLen = 10;
        power = KP_DEV_IC_ConnectlessActive(sim.handle(), &type, &uidLen, uid, &atrLen, atr);
      }
      Text track2, panSeq, aid, records;
      const int info = KP_DEV_ReadICCardInfo(sim.handle(), c.seat, 0, track2.chars, panSeq.chars, aid.chars);
      const int gpo = KP_DEV_ReadICCardGPOData(sim.handle(), c.seat, 0, records.chars, 8000);
      return Result(power) + Result(info, std::string(track2.chars) + " " + panSeq.chars + " " + aid.chars) + " " +
             Result(gpo, records.chars);
    });
    SCOPED_TRACE(what);
    EXPECT_EQ(plain.rfind(std::string("0 0 ") + kManyTrack2 + " 01 " + kManyAid + " 0 ", 0), 0u) << plain;
    // The filler records 02 to 12 all came back.
    for (int record = 2; record <= 12; ++record) {
      char label[16];
      std::snprintf(label, sizeof label, "RECORD %02d", record);
      EXPECT_NE(plain.find(Hex(Bytes(label, label + std::strlen(label)))), std::string::npos) << label;
    }
    EXPECT_EQ(paced, plain);
  }
}

// An identity card with its 1024-byte photo through the type-0 reader at
// 9600: the read answer is 1295 bytes (1.35 s on the wire).
TEST(Paced, IdentityCardWithPhotoAt9600) {
  Bytes photo(1024);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<std::uint8_t>(i * 13 % 256);
  const auto [plain, paced] = BothWays("identity card with photo, type 0 at 9600", [&](bool pace) {
    SimReader sim("t0", Pacing(pace));
    sim.control().Ok("insert 255 id photo=hex:" + Hex(photo));
    if (sim.Open(0, 9600) != 0) return std::string("open failed");
    char fields[9][300] = {};
    char* outputs[9];
    for (int i = 0; i < 9; ++i) outputs[i] = fields[i];
    std::string out = Result(KP_DEV_ID_Read(sim.handle(), 3000, outputs));
    for (int i = 0; i < 8; ++i) out += Hex(Bytes(fields[i], fields[i] + std::strlen(fields[i]))) + " ";
    // The whole photo crossed the line.
    const long long traffic = sim.StatusNumber("traffic_bytes");
    return out + (traffic > 1024 + 256 ? "photo" : "no photo");
  });
  EXPECT_EQ(plain.rfind("0 B3C2CBBCD4B6 ", 0), 0u) << plain;  // the sample card's name in GBK
  EXPECT_EQ(plain.substr(plain.size() - 6), " photo");
  EXPECT_EQ(paced, plain);
}

// One read-any-card pass of the type-61 reader at 115200 for each card kind.
TEST(Paced, ReadAnyCardPassForEachKind) {
  struct Case {
    const char* card;   // control request before the call, "" for none
    const char* extra;  // a second request
    int kind;
    const char* result;
  };
  const Case cases[] = {
      {"swipe B6222020200112233^TEST^2912101 6222020200112233=29121010000", "", 1,
       "B6222020200112233^TEST^2912101|6222020200112233=29121010000"},
      {"insert 255 sector", "rf-block 4 00112233445566778899AABBCCDDEEFF", 2, "00112233445566778899AABBCCDDEEFF"},
      {"insert 0 bank profile=pboc-many-records", "", 3, kManyTrack2},
      {"insert 255 rf-bank profile=pboc-many-records", "", 4, kManyTrack2},
      {"", "", 0, ""},
  };
  for (const Case& c : cases) {
    const auto [plain, paced] = BothWays(c.card[0] ? c.card : "no card", [&](bool pace) {
      std::vector<std::string> args = Pacing(pace);
      args.insert(args.end(), {"--device-baud", "115200"});
      SimReader sim("t61", args);
      if (c.card[0] != '\0') sim.control().Request(c.card);
      if (c.extra[0] != '\0') sim.control().Ok(c.extra);
      int kind = -1;
      static char result[2048];
      std::memset(result, 0, sizeof result);
      const int r = KP_DEV_ReadAll_A(sim.com(), 0, 0, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, result);
      return Result(r, std::to_string(kind) + " " + result);
    });
    SCOPED_TRACE(c.card);
    EXPECT_EQ(plain, Result(c.kind == 0 ? -101 : 0, std::to_string(c.kind) + " " + c.result));
    EXPECT_EQ(paced, plain);
  }
}

}  // namespace

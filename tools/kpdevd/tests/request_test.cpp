// Requests as a web page sends them: what each operation takes by default,
// what is refused before any reader is touched.
#include <gtest/gtest.h>

#include "request.h"

namespace kpdev::service {
namespace {

TEST(Request, DefaultsOfEachOperation) {
  struct Case {
    const char* text;
    Op op;
    int port, type, baud, timeoutMs;
  };
  const Case cases[] = {
      {R"({"op":"version"})", Op::kVersion, 1, 1, 9600, 0},
      {R"({"op":"read-all","port":3})", Op::kReadAll, 3, 61, 115200, 30000},
      {R"({"op":"read-all","timeout":0})", Op::kReadAll, 1, 61, 115200, 0},
      {R"({"op":"id-read"})", Op::kIdRead, 1, 0, 9600, 5000},
      {R"({"op":"mag-read","timeout":2})", Op::kMagRead, 1, 2, 9600, 2000},
      {R"({"op":"emv-info","port":32,"type":61,"baud":115200})", Op::kEmvInfo, 32, 61, 115200, 0},
      {R"({"op":"rf-activate","type":5})", Op::kRfActivate, 1, 5, 9600, 0},
      {R"({"op":"subscribe","port":2})", Op::kSubscribe, 2, 1, 9600, 0},
      {R"({"op":"cancel"})", Op::kCancel, 1, 1, 9600, 0},
      {R"({"op":"ports"})", Op::kPorts, 1, 1, 9600, 0},
      {R"({"op":"probe"})", Op::kProbe, 1, -1, 9600, 0},
      {R"({"op":"probe","type":62})", Op::kProbe, 1, 62, 9600, 0},
  };
  for (const Case& c : cases) {
    Request r;
    std::string error;
    ASSERT_TRUE(ParseRequest(c.text, &r, &error)) << c.text << ": " << error;
    EXPECT_EQ(r.op, c.op) << c.text;
    EXPECT_EQ(r.port, c.port) << c.text;
    EXPECT_EQ(r.type, c.type) << c.text;
    EXPECT_EQ(r.baud, c.baud) << c.text;
    EXPECT_EQ(r.timeoutMs, c.timeoutMs) << c.text;
  }
}

TEST(Request, ValuesAreTakenAndNormalised) {
  Request r;
  std::string error;
  ASSERT_TRUE(ParseRequest(
      R"({"id":"a7","op":"read-all","store-card":true,"sector":15,"block":3,"key-type":"B","key":"a0a1a2a3a4a5",)"
      R"("contact":false,"contactless":true})",
      &r, &error))
      << error;
  EXPECT_EQ(r.id, "a7");
  EXPECT_TRUE(r.storeCard);
  EXPECT_EQ(r.sector, 15);
  EXPECT_EQ(r.block, 3);
  EXPECT_EQ(r.keyType, 0x61);
  EXPECT_EQ(r.key, "A0A1A2A3A4A5");
  EXPECT_FALSE(r.contact);
  EXPECT_TRUE(r.contactless);

  ASSERT_TRUE(ParseRequest(R"({"id":9,"op":"cpu-apdu","seat":1,"power-on":false,"apdus":["00a4040000","80CA9F7F00"]})",
                           &r, &error))
      << error;
  EXPECT_EQ(r.id, 9);
  EXPECT_EQ(r.seat, 1);
  EXPECT_FALSE(r.powerOn);
  EXPECT_EQ(r.apdus, (std::vector<std::string>{"00A4040000", "80CA9F7F00"}));

  ASSERT_TRUE(ParseRequest(R"({"op":"rf-read-block","key-type":97,"sector":0})", &r, &error)) << error;
  EXPECT_EQ(r.keyType, 97);
  ASSERT_TRUE(ParseRequest(R"({"op":"probe","ports":[7,1,7,32]})", &r, &error)) << error;
  EXPECT_EQ(r.ports, (std::vector<int>{7, 1, 7, 32}));
  ASSERT_TRUE(ParseRequest(R"({"op":"probe"})", &r, &error)) << error;
  EXPECT_TRUE(r.ports.empty());
  ASSERT_TRUE(ParseRequest(R"({"op":"hello","token":"0123456789abcdef"})", &r, &error)) << error;
  EXPECT_EQ(r.token, "0123456789abcdef");
}

TEST(Request, RefusedWithAReason) {
  const std::string longId(65, 'x');
  const std::string longApdu(2 * 261 + 2, '0');
  std::string manyApdus = R"({"op":"cpu-apdu","apdus":[)";
  for (int i = 0; i < 33; ++i) manyApdus += std::string(i ? "," : "") + "\"00B0000000\"";
  manyApdus += "]}";
  std::string manyPorts = R"({"op":"probe","ports":[)";
  for (int i = 0; i < 33; ++i) manyPorts += std::string(i ? "," : "") + "1";
  manyPorts += "]}";
  const std::pair<std::string, const char*> cases[] = {
      {"", "one JSON object"},
      {"[1]", "one JSON object"},
      {R"({"op":"version")", "one JSON object"},
      {R"({})", "\"op\""},
      {R"({"op":7})", "\"op\""},
      {R"({"op":"format-disk"})", "unknown"},
      {R"({"op":"version","port":0})", "\"port\" must be from 1 to 32"},
      {R"({"op":"version","port":33})", "\"port\" must be from 1 to 32"},
      {R"({"op":"version","port":"3"})", "\"port\" must be an integer"},
      {R"({"op":"version","port":3.5})", "\"port\" must be an integer"},
      {R"({"op":"version","port":4294967299})", "\"port\" must be from 1 to 32"},
      {R"({"op":"version","type":3})", "\"type\" must be 0, 1, 2, 5, 61 or 62"},
      {R"({"op":"version","baud":4800})", "\"baud\""},
      {R"({"op":"read-all","timeout":3601})", "\"timeout\""},
      {R"({"op":"read-all","timeout":-1})", "\"timeout\""},
      {R"({"op":"read-all","contact":1})", "true or false"},
      {R"({"op":"read-all","key":"FFFFFFFFFF"})", "6 bytes of hex"},
      {R"({"op":"read-all","key":"FFFFFFFFFFFG"})", "6 bytes of hex"},
      {R"({"op":"read-all","key-type":"C"})", "key-type"},
      {R"({"op":"read-all","key-type":256})", "key-type"},
      {R"({"op":"read-all","sector":16})", "\"sector\""},
      {R"({"op":"rf-read-block","block":4})", "\"block\""},
      {R"({"op":"cpu-power-on","seat":255})", "rf-activate"},
      {R"({"op":"cpu-apdu"})", "\"apdus\""},
      {R"({"op":"cpu-apdu","apdus":[]})", "\"apdus\""},
      {R"({"op":"cpu-apdu","apdus":["00A4"]})", "bytes of hex"},
      {R"({"op":"cpu-apdu","apdus":["00A40"]})", "bytes of hex"},
      {R"({"op":"cpu-apdu","apdus":[17]})", "hex text"},
      {R"({"op":"cpu-apdu","apdus":[")" + longApdu + "\"]}", "bytes of hex"},
      {manyApdus, "\"apdus\""},
      {R"({"op":"subscribe","interval":10})", "\"interval\""},
      {R"({"op":"hello"})", "\"token\""},
      {R"({"op":"probe","type":3})", "\"type\" must be 0, 1, 2, 5, 61 or 62"},
      {R"({"op":"probe","type":-1})", "\"type\" must be from 0 to 62"},
      {R"({"op":"probe","ports":3})", "\"ports\" must be a list"},
      {R"({"op":"probe","ports":[0]})", "\"ports\" must hold COM numbers from 1 to 32"},
      {R"({"op":"probe","ports":[33]})", "\"ports\" must hold COM numbers from 1 to 32"},
      {R"({"op":"probe","ports":["2"]})", "\"ports\" must hold COM numbers"},
      {R"({"op":"probe","ports":[4294967297]})", "\"ports\" must hold COM numbers"},
      {manyPorts, "at most 32"},
      {R"({"op":"version","id":{"a":1}})", "\"id\""},
      {R"({"op":"version","id":")" + longId + "\"}", "\"id\""},
  };
  for (const auto& [text, why] : cases) {
    Request r;
    std::string error;
    EXPECT_FALSE(ParseRequest(text, &r, &error)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << text << " gave: " << error;
  }
}

TEST(Request, TheIdOfARefusedRequestIsKept) {
  Request r;
  std::string error;
  EXPECT_FALSE(ParseRequest(R"({"id":41,"op":"version","port":99})", &r, &error));
  EXPECT_EQ(r.id, 41);
}

TEST(Request, OpNamesRoundTrip) {
  for (const char* name : {"hello", "version", "read-all", "cancel", "id-read", "emv-info", "mag-read", "cpu-power-on",
                           "cpu-apdu", "rf-activate", "rf-read-block", "subscribe", "unsubscribe", "ports", "probe"}) {
    Request r;
    std::string error;
    const std::string text = std::string(R"({"op":")") + name + R"(","token":"t","apdus":["00B0000000"]})";
    ASSERT_TRUE(ParseRequest(text, &r, &error)) << name << ": " << error;
    EXPECT_STREQ(OpName(r.op), name);
  }
}

}  // namespace
}  // namespace kpdev::service

// The access rules: which Host and Origin headers reach the service, and
// the configuration file.
#include <gtest/gtest.h>

#include "policy.h"

namespace kpdev::service {
namespace {

TEST(Policy, HostMustBeLoopbackWithThePort) {
  const std::pair<const char*, bool> cases[] = {
      {"127.0.0.1:8618", true},
      {"localhost:8618", true},
      {"LOCALHOST:8618", true},
      {"[::1]:8618", true},
      {"127.0.0.1", false},  // the port is not 80
      {"127.0.0.1:8619", false},
      {"127.0.0.1:08618", false},
      {"evil.example:8618", false},  // a rebound name
      {"localhost.evil.example:8618", false},
      {"127.0.0.2:8618", false},
      {"0.0.0.0:8618", false},
      {"[::ffff:127.0.0.1]:8618", false},
      {"127.0.0.1:8618.evil.example", false},
      {"", false},
  };
  for (const auto& [host, ok] : cases) EXPECT_EQ(HostAllowed(host, 8618), ok) << host;
  EXPECT_TRUE(HostAllowed("localhost", 80));
  EXPECT_TRUE(HostAllowed("localhost:80", 80));
}

TEST(Policy, OriginMustBeOnTheList) {
  std::vector<std::string> allowed = OwnOrigins(8618);
  allowed.push_back("https://counter.example.org");
  const std::pair<const char*, bool> cases[] = {
      {"http://127.0.0.1:8618", true},
      {"http://localhost:8618", true},
      {"http://[::1]:8618", true},
      {"HTTP://LocalHost:8618", true},
      {"https://counter.example.org", true},
      {"https://counter.example.org:443", true},
      {"https://COUNTER.example.org", true},
      {"http://counter.example.org", false},  // another scheme is another origin
      {"https://counter.example.org:8443", false},
      {"https://counter.example.org.evil.example", false},
      {"https://evil.example", false},
      {"http://127.0.0.1:8619", false},
      {"http://127.0.0.1", false},
      {"null", false},
      {"", false},
      {"*", false},
      {"https://counter.example.org/", false},
      {"https://user@counter.example.org", false},
      {"file://", false},
  };
  for (const auto& [origin, ok] : cases) EXPECT_EQ(OriginAllowed(origin, allowed), ok) << origin;
}

TEST(Policy, ConfigurationFile) {
  Config config;
  std::string error;
  ASSERT_TRUE(
      ParseConfig("# counter front end\n"
                  "allow-origin = https://counter.example.org\n"
                  "  allow-origin=http://10.0.0.5:8080   # the test system\r\n"
                  "require-token = yes\n"
                  "token-file = /etc/kpdevd/token\n"
                  "max-connections = 64\nmax-message = 4096\nrate = 5\nburst = 10\n\n",
                  &config, &error))
      << error;
  EXPECT_EQ(config.origins, (std::vector<std::string>{"https://counter.example.org", "http://10.0.0.5:8080"}));
  EXPECT_TRUE(config.requireToken);
  EXPECT_EQ(config.tokenFile, "/etc/kpdevd/token");
  EXPECT_EQ(config.maxConnections, 64u);
  EXPECT_EQ(config.maxMessage, 4096u);
  EXPECT_EQ(config.ratePerSecond, 5);
  EXPECT_EQ(config.rateBurst, 10);

  const std::pair<const char*, const char*> refused[] = {
      {"allow-origin = *", "line 1: allow-origin"},
      {"\nallow-origin = https://*.example.org/", "line 2: allow-origin"},
      {"allow-origin = ftp://files.example.org", "allow-origin"},
      {"allow-origin = null", "allow-origin"},
      {"require-token = maybe", "require-token"},
      {"max-connections = 0", "line 1: unknown key or value"},
      {"max-connections = 12x", "unknown key or value"},
      {"max-message = 1", "unknown key or value"},
      {"listen = 0.0.0.0", "unknown key"},
      {"allow-origin", "key = value"},
  };
  for (const auto& [text, why] : refused) {
    Config c;
    EXPECT_FALSE(ParseConfig(text, &c, &error)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << text << " gave: " << error;
  }
}

TEST(Policy, TokensAndEchoes) {
  EXPECT_TRUE(SameToken("0123456789abcdef", "0123456789abcdef"));
  EXPECT_FALSE(SameToken("0123456789abcdef", "0123456789abcdeF"));
  EXPECT_FALSE(SameToken("0123456789abcdef", "0123456789abcde"));
  EXPECT_FALSE(SameToken("", ""));
  EXPECT_EQ(Printable("a\r\nb\x01"), "a??b?");
  EXPECT_EQ(Printable(std::string(100, 'x'), 4), "xxxx...");
}

}  // namespace
}  // namespace kpdev::service

// kpdevd: card readers for web applications on this machine.  Serves a
// demo page at /, JSON requests over a WebSocket at /ws, and /status and
// /version, on the loopback interface only.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

#include "policy.h"
#include "server.h"

namespace {

namespace fs = std::filesystem;
using kpdev::service::Config;

constexpr int kDefaultPort = 8618;

// $XDG_CONFIG_HOME/kpdevd, else ~/.config/kpdevd (%APPDATA%\kpdevd on
// Windows).
fs::path ConfigDirectory() {
#ifdef _WIN32
  if (const char* appData = std::getenv("APPDATA")) return fs::path(appData) / "kpdevd";
#endif
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] != '\0') {
    return fs::path(xdg) / "kpdevd";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    return fs::path(home) / ".config" / "kpdevd";
  }
  return fs::path("kpdevd");
}

bool ReadText(const fs::path& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

// The installation's token: read from its file, or made (32 random bytes
// as hex) and stored readable by the owner only.
bool LoadToken(const fs::path& path, bool create, std::string* token) {
  if (ReadText(path, token)) {
    while (!token->empty() && (token->back() == '\n' || token->back() == '\r' || token->back() == ' ')) {
      token->pop_back();
    }
    if (token->size() >= 16) return true;
    std::fprintf(stderr, "kpdevd: %s holds no token (16 characters at least)\n", path.string().c_str());
    return false;
  }
  if (!create) {
    std::fprintf(stderr, "kpdevd: no token in %s: run 'kpdevd --pair' once\n", path.string().c_str());
    return false;
  }
  std::random_device random;
  static const char kDigits[] = "0123456789abcdef";
  token->clear();
  for (int i = 0; i < 32; ++i) {
    const unsigned byte = random() & 0xFFu;
    *token += kDigits[byte >> 4];
    *token += kDigits[byte & 0xF];
  }
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
      std::fprintf(stderr, "kpdevd: cannot write %s\n", path.string().c_str());
      return false;
    }
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, ec);
    out << *token << "\n";
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "kpdevd: the card readers of this machine for web applications, over HTTP and WebSocket on the "
      "loopback interface (127.0.0.1 and ::1)"};
  app.set_version_flag("--version", std::string("kpdevd ") + KPDEVD_VERSION);
  int port = kDefaultPort;
  std::string configPath;
  std::vector<std::string> origins;
  bool requireToken = false;
  bool pair = false;
  app.add_option("-p,--port", port, "TCP port; 0 picks a free one")->check(CLI::Range(0, 65535))->capture_default_str();
  app.add_option("-c,--config", configPath,
                 "configuration file (default: " + (ConfigDirectory() / "kpdevd.conf").string() + ")");
  app.add_option("--allow-origin", origins,
                 "a web origin whose pages may use the service, e.g. https://counter.example.org (repeatable; "
                 "added to the configuration's)");
  app.add_flag("--require-token", requireToken, "clients must present the installation's token first");
  app.add_flag("--pair", pair, "print the installation's token (made on first use) and exit");
  app.footer(
      "Protocol: one JSON object per WebSocket message, {\"id\": 1, \"op\": \"read-all\", \"port\": 3}; answers carry "
      "the same id and the document 'kpdev --json' prints; events of subscribed readers arrive as they happen. "
      "See the README for the operations, the configuration file and the pairing flow.");
  CLI11_PARSE(app, argc, argv);

  Config config;
  const bool defaultConfig = configPath.empty();
  const fs::path configFile = defaultConfig ? ConfigDirectory() / "kpdevd.conf" : fs::path(configPath);
  std::string text;
  if (ReadText(configFile, &text)) {
    std::string error;
    if (!kpdev::service::ParseConfig(text, &config, &error)) {
      std::fprintf(stderr, "kpdevd: %s: %s\n", configFile.string().c_str(), error.c_str());
      return 64;
    }
  } else if (!defaultConfig) {
    std::fprintf(stderr, "kpdevd: cannot read %s\n", configFile.string().c_str());
    return 64;
  }
  for (const std::string& origin : origins) {
    std::string error;
    if (!kpdev::service::ParseConfig("allow-origin = " + origin, &config, &error)) {
      std::fprintf(stderr, "kpdevd: --allow-origin %s: not an origin such as https://counter.example.org\n",
                   kpdev::service::Printable(origin).c_str());
      return 64;
    }
  }
  config.requireToken = config.requireToken || requireToken;
  const fs::path tokenFile = config.tokenFile.empty() ? ConfigDirectory() / "token" : fs::path(config.tokenFile);

  kpdev::service::ServerOptions options;
  if (pair) {
    if (!LoadToken(tokenFile, true, &options.token)) return 1;
    std::printf("%s\n", options.token.c_str());
    return 0;
  }
  if (config.requireToken && !LoadToken(tokenFile, false, &options.token)) return 1;
  options.port = port;
  options.config = config;
  kpdev::service::Server server(std::move(options));
  if (!server.Listen()) return 2;
  server.Run();
  return 0;
}

#include "server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <vector>

#include "operations.h"
#include "readers.h"
#include "request.h"

namespace kpdev::service {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// The demo page, embedded at build time from www/index.html.
const unsigned char kPage[] = {
#include "page.inc"
};

constexpr auto kHttpTimeout = std::chrono::seconds(10);
constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr std::size_t kBodyLimit = 4 * 1024;
// Wrong tokens a connection may present before it is closed.
constexpr int kMaxWrongTokens = 3;

std::string Dump(const nlohmann::json& j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

// What the daily log's setting allows the service's own log to hold: by
// default (masked) the operation, port and outcome, never what was read;
// "full" adds the answer; "off" leaves out the per-request lines.
enum class LogLevel { kOff, kMasked, kFull };

LogLevel CurrentLogLevel() {
  const char* value = std::getenv("KPDEV_LOG");
  if (value != nullptr && std::string(value) == "full") return LogLevel::kFull;
  if (value != nullptr && std::string(value) == "off") return LogLevel::kOff;
  return LogLevel::kMasked;
}

void Log(const std::string& line) {
  std::fprintf(stderr, "kpdevd: %s\n", line.c_str());
  std::fflush(stderr);
}

class WsSession;

}  // namespace

struct Server::State {
  net::io_context io{1};
  ServerOptions options;
  std::vector<std::string> allowed;  // the service's own origins and the configured ones
  std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
  int port = 0;
  std::size_t connections = 0;
  std::uint64_t nextConnection = 0;
  bool refusedFull = false;  // the log says once per burst that the limit was reached
  std::map<int, std::vector<std::weak_ptr<WsSession>>> subscribers;
  std::unique_ptr<ReaderPool> pool;

  void Broadcast(int port, const std::shared_ptr<const std::string>& text);
};

namespace {

using State = Server::State;

// Counts a connection for as long as it lives.
struct Slot {
  explicit Slot(State& s) : state(s) { ++state.connections; }
  ~Slot() {
    --state.connections;
    state.refusedFull = false;
  }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
  State& state;
};

class WsSession : public std::enable_shared_from_this<WsSession> {
 public:
  WsSession(tcp::socket socket, State& state, std::shared_ptr<Slot> slot, std::uint64_t id)
      : ws_(std::move(socket)), state_(state), slot_(std::move(slot)), id_(id) {
    tokens_ = state_.options.config.rateBurst;
    paired_ = !state_.options.config.requireToken;
  }

  void Accept(const http::request<http::string_body>& request) {
    // Handshake within 30 s; an idle connection stays (a subscriber waits
    // for events), and costs nothing while it does.
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "kpdevd"); }));
    // A larger message ends this connection (close code 1009), no other.
    ws_.read_message_max(state_.options.config.maxMessage);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (!ec) self->Read();
    });
  }

  // Queues a text for the client.  A client that does not take its
  // messages is disconnected once its queue is full: it must not hold the
  // answers and events of anyone else, or memory.
  void Send(std::shared_ptr<const std::string> text) {
    if (closed_) return;
    const auto& limits = state_.options.config;
    if (queue_.size() >= limits.maxQueuedMessages || queuedBytes_ + text->size() > limits.maxQueuedBytes) {
      Log("#" + std::to_string(id_) + " closed: it does not read its messages");
      Close();
      return;
    }
    queuedBytes_ += text->size();
    queue_.push_back(std::move(text));
    if (!writing_) Write();
  }

  void SendJson(const nlohmann::json& document) { Send(std::make_shared<const std::string>(Dump(document))); }

 private:
  void Read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
  }

  void OnRead(beast::error_code ec) {
    if (ec) {
      if (ec == websocket::error::message_too_big) Log("#" + std::to_string(id_) + " closed: message too large");
      Close();
      return;
    }
    const std::string text = beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    Handle(text);
    if (!closed_) Read();
  }

  void Write() {
    writing_ = true;
    ws_.text(true);
    ws_.async_write(net::buffer(*queue_.front()),
                    [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWrite(ec); });
  }

  void OnWrite(beast::error_code ec) {
    writing_ = false;
    if (closed_) return;
    queuedBytes_ -= queue_.front()->size();
    queue_.pop_front();
    if (ec) {
      Close();
      return;
    }
    if (!queue_.empty()) Write();
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    queue_.clear();
    queuedBytes_ = 0;
    for (const int port : subscribed_) state_.pool->Unsubscribe(port);
    subscribed_.clear();
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

  void Reply(const Request& request, nlohmann::json document) {
    document["id"] = request.id;
    SendJson(document);
  }

  static nlohmann::json Refusal(const char* command, const std::string& message, int exit) {
    nlohmann::json document{{"error", {{"message", message}}}, {"exit", exit}};
    if (command != nullptr) document["command"] = command;
    return document;
  }

  // A token bucket per connection.
  bool TakeToken() {
    const auto now = Clock::now();
    const auto& limits = state_.options.config;
    const double elapsed = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    tokens_ = std::min(limits.rateBurst, tokens_ + elapsed * limits.ratePerSecond);
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
  }

  void Handle(const std::string& text) {
    Request request;
    std::string error;
    if (!ws_.got_text()) {
      SendJson(Refusal(nullptr, "requests are text messages", kExitUsage));
      return;
    }
    // Parsed first, so that even a refusal names its request.
    const bool parsed = ParseRequest(text, &request, &error);
    if (!TakeToken()) {
      nlohmann::json document =
          Refusal(parsed ? OpName(request.op) : nullptr, "too many requests: slow down", kExitBusy);
      document["id"] = request.id;
      SendJson(document);
      return;
    }
    if (!parsed) {
      nlohmann::json document = Refusal(nullptr, error, kExitUsage);
      document["id"] = request.id;
      SendJson(document);
      return;
    }
    const char* command = OpName(request.op);
    if (request.op == Op::kHello) {
      if (state_.options.config.requireToken && !SameToken(request.token, state_.options.token)) {
        Log("#" + std::to_string(id_) + " wrong token");
        Reply(request, Refusal(command, "wrong token", kExitNotPaired));
        if (++wrongTokens_ >= kMaxWrongTokens) Close();
        return;
      }
      paired_ = true;
      Reply(request, {{"command", command}, {"paired", true}, {"exit", kExitOk}});
      return;
    }
    if (!paired_) {
      Reply(request, Refusal(command, "this service needs its token first: {\"op\": \"hello\", \"token\": ...}",
                             kExitNotPaired));
      return;
    }
    switch (request.op) {
      case Op::kCancel: {
        const int loops = CancelReadAll();
        Log("#" + std::to_string(id_) + " cancel (" + std::to_string(loops) + " waiting)");
        Reply(request, {{"command", command}, {"loops", loops}, {"exit", kExitOk}});
        return;
      }
      case Op::kSubscribe: {
        if (subscribed_.count(request.port) == 0) {
          const std::string refused =
              state_.pool->Subscribe(request.port, request.type, request.baud, request.intervalMs);
          if (!refused.empty()) {
            Reply(request, Refusal(command, refused, kExitBusy));
            return;
          }
          subscribed_.insert(request.port);
          state_.subscribers[request.port].push_back(weak_from_this());
        }
        Reply(request, {{"command", command}, {"port", request.port}, {"exit", kExitOk}});
        return;
      }
      case Op::kUnsubscribe: {
        if (subscribed_.erase(request.port) != 0) state_.pool->Unsubscribe(request.port);
        Reply(request, {{"command", command}, {"port", request.port}, {"exit", kExitOk}});
        return;
      }
      case Op::kPorts:
        // A look at /dev: no reader is opened, so no queue is waited for.
        if (CurrentLogLevel() != LogLevel::kOff) Log("#" + std::to_string(id_) + " ports");
        Reply(request, ListPorts());
        return;
      default:
        break;
    }
    const std::string what = "#" + std::to_string(id_) + " " + command +
                             (request.op == Op::kProbe ? std::string() : " COM" + std::to_string(request.port));
    if (request.op == Op::kProbe) {
      if (!state_.pool->SubmitProbe(request, Completion(request, what))) {
        Reply(request,
              Refusal(command, "busy: " + std::to_string(ReaderPool::kMaxProbes) + " probes are waiting already",
                      kExitBusy));
      }
      return;
    }
    if (!state_.pool->Submit(request, Completion(request, what))) {
      Reply(request, Refusal(command,
                             "busy: COM" + std::to_string(request.port) + " has " +
                                 std::to_string(ReaderPool::kMaxQueued) + " requests waiting",
                             kExitBusy));
    }
  }

  // What a reader's (or the probe's) thread calls with the answer: it goes
  // to the I/O thread, into the log, and to this client if it is still
  // there.
  ReaderPool::Done Completion(const Request& request, const std::string& what) {
    State* state = &state_;
    return [state, self = weak_from_this(), id = request.id, what, started = Clock::now()](nlohmann::json document) {
      net::post(state->io, [self, id, what, started, document = std::move(document)]() mutable {
        const LogLevel level = CurrentLogLevel();
        if (level != LogLevel::kOff) {
          const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
          std::string line =
              what + " exit " + std::to_string(document.value("exit", -1)) + " in " + std::to_string(ms) + " ms";
          if (level == LogLevel::kFull) line += " " + Dump(document);
          Log(line);
        }
        document["id"] = id;
        if (auto session = self.lock()) session->SendJson(document);
      });
    };
  }

  websocket::stream<beast::tcp_stream> ws_;
  beast::flat_buffer buffer_;
  State& state_;
  std::shared_ptr<Slot> slot_;
  std::uint64_t id_;
  std::deque<std::shared_ptr<const std::string>> queue_;
  std::size_t queuedBytes_ = 0;
  bool writing_ = false;
  bool closed_ = false;
  bool paired_ = false;
  int wrongTokens_ = 0;
  std::set<int> subscribed_;
  double tokens_ = 0;
  Clock::time_point last_ = Clock::now();
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, State& state, std::shared_ptr<Slot> slot, std::uint64_t id)
      : stream_(std::move(socket)), state_(state), slot_(std::move(slot)), id_(id) {}

  void Read() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    // A client that sends its request slowly, or not at all, is dropped.
    stream_.expires_after(kHttpTimeout);
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->Shut();
      self->Handle(self->parser_->release());
    });
  }

 private:
  using Response = http::response<http::string_body>;

  void Shut() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  void Handle(http::request<http::string_body> request) {
    const std::string host(request[http::field::host]);
    const auto origin = request.find(http::field::origin);
    const bool hasOrigin = origin != request.end();
    const std::string originText = hasOrigin ? std::string(origin->value()) : std::string();
    if (!HostAllowed(host, state_.port)) {
      Log("#" + std::to_string(id_) + " refused: Host " + Printable(host));
      return Answer(request, Plain(request, http::status::forbidden, "host not allowed\n"), false);
    }
    if (hasOrigin && !OriginAllowed(originText, state_.allowed)) {
      Log("#" + std::to_string(id_) + " refused: Origin " + Printable(originText));
      return Answer(request, Plain(request, http::status::forbidden, "origin not allowed\n"), false);
    }
    std::string target(request.target());
    if (const std::size_t query = target.find('?'); query != std::string::npos) target.resize(query);
    if (websocket::is_upgrade(request)) {
      if (target != "/ws") return Answer(request, Plain(request, http::status::not_found, "not found\n"), false);
      stream_.expires_never();
      auto session = std::make_shared<WsSession>(stream_.release_socket(), state_, slot_, id_);
      session->Accept(request);
      return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
      Response response = Plain(request, http::status::method_not_allowed, "only GET\n");
      response.set(http::field::allow, "GET, HEAD");
      return Answer(request, std::move(response), hasOrigin);
    }
    if (target == "/" || target == "/index.html") {
      Response response{http::status::ok, request.version()};
      response.set(http::field::content_type, "text/html; charset=utf-8");
      // The page talks to this service only ('self' covers its ws://
      // address), and is not to be framed by another site.
      response.set("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
                   "frame-ancestors 'none'");
      response.set("X-Frame-Options", "DENY");
      response.set("Referrer-Policy", "no-referrer");
      response.body().assign(reinterpret_cast<const char*>(kPage), sizeof kPage);
      return Answer(request, std::move(response), hasOrigin);
    }
    if (target == "/status" || target == "/version") {
      nlohmann::json document{{"service", "kpdevd"}, {"version", KPDEVD_VERSION}, {"library", LibraryVersion()}};
      if (target == "/status") {
        document["connections"] = state_.connections;
        document["token"] = state_.options.config.requireToken;
        nlohmann::json load = nlohmann::json::object();
        for (const auto& [port, n] : state_.pool->Load()) load["COM" + std::to_string(port)] = n;
        document["requests"] = load;
      }
      Response response{http::status::ok, request.version()};
      response.set(http::field::content_type, "application/json");
      response.body() = Dump(document) + "\n";
      return Answer(request, std::move(response), hasOrigin);
    }
    return Answer(request, Plain(request, http::status::not_found, "not found\n"), hasOrigin);
  }

  static Response Plain(const http::request<http::string_body>& request, http::status status, const char* text) {
    Response response{status, request.version()};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.body() = text;
    return response;
  }

  // `share`: the request came from an allowed page of another origin,
  // which may read the answer (that origin named, never "*").
  void Answer(const http::request<http::string_body>& request, Response response, bool share) {
    response.set(http::field::server, "kpdevd");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    if (share) {
      response.set(http::field::access_control_allow_origin, request[http::field::origin]);
      response.set(http::field::vary, "Origin");
    }
    const bool keep = request.keep_alive() && response.result() == http::status::ok;
    response.keep_alive(keep);
    response.prepare_payload();
    if (request.method() == http::verb::head) response.body().clear();
    auto held = std::make_shared<Response>(std::move(response));
    http::async_write(stream_, *held, [self = shared_from_this(), held, keep](beast::error_code ec, std::size_t) {
      if (ec || !keep) return self->Shut();
      self->Read();
    });
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  State& state_;
  std::shared_ptr<Slot> slot_;
  std::uint64_t id_;
};

void AcceptNext(State& state, tcp::acceptor& acceptor) {
  acceptor.async_accept([&state, &acceptor](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted) return;
    if (!ec) {
      if (state.connections >= state.options.config.maxConnections) {
        if (!state.refusedFull) Log("connection limit reached; new connections are closed");
        state.refusedFull = true;
        beast::error_code ignored;
        socket.close(ignored);
      } else {
        const std::uint64_t id = ++state.nextConnection;
        auto slot = std::make_shared<Slot>(state);
        std::make_shared<HttpSession>(std::move(socket), state, std::move(slot), id)->Read();
      }
    }
    AcceptNext(state, acceptor);
  });
}

}  // namespace

void Server::State::Broadcast(int port, const std::shared_ptr<const std::string>& text) {
  auto found = subscribers.find(port);
  if (found == subscribers.end()) return;
  auto& list = found->second;
  for (auto it = list.begin(); it != list.end();) {
    if (auto session = it->lock()) {
      session->Send(text);
      ++it;
    } else {
      it = list.erase(it);
    }
  }
}

Server::Server(ServerOptions options) : state_(std::make_shared<State>()) {
  state_->options = std::move(options);
  State* state = state_.get();
  state_->pool = std::make_unique<ReaderPool>([state](int port, nlohmann::json event) {
    auto text = std::make_shared<const std::string>(Dump(event));
    net::post(state->io, [state, port, text] { state->Broadcast(port, text); });
  });
}

Server::~Server() {
  // The readers first: their last answers and events are posted to an I/O
  // context that no longer runs, and are dropped with it.
  CancelReadAll();
  state_->pool.reset();
}

bool Server::Listen() {
  State& state = *state_;
  int port = state.options.port;
  const struct {
    const char* address;
    bool required;
  } kAddresses[] = {{"127.0.0.1", true}, {"::1", false}};
  for (const auto& where : kAddresses) {
    beast::error_code ec;
    auto acceptor = std::make_unique<tcp::acceptor>(state.io);
    const tcp::endpoint endpoint(net::ip::make_address(where.address), static_cast<unsigned short>(port));
    acceptor->open(endpoint.protocol(), ec);
    if (!ec && endpoint.address().is_v6()) acceptor->set_option(net::ip::v6_only(true), ec);
    if (!ec) acceptor->set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor->bind(endpoint, ec);
    if (!ec) acceptor->listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      if (where.required) {
        std::fprintf(stderr, "kpdevd: cannot listen on %s port %d: %s\n", where.address, port, ec.message().c_str());
        return false;
      }
      std::fprintf(stderr, "kpdevd: not listening on %s: %s\n", where.address, ec.message().c_str());
      continue;
    }
    port = acceptor->local_endpoint().port();
    state.acceptors.push_back(std::move(acceptor));
  }
  state.port = port;
  state.allowed = OwnOrigins(port);
  state.allowed.insert(state.allowed.end(), state.options.config.origins.begin(), state.options.config.origins.end());
  return true;
}

int Server::port() const { return state_->port; }

void Server::Run() {
  State& state = *state_;
  for (auto& acceptor : state.acceptors) AcceptNext(state, *acceptor);
  net::signal_set signals(state.io, SIGINT, SIGTERM);
  signals.async_wait([&state](beast::error_code, int) { state.io.stop(); });
  std::printf("listening on http://127.0.0.1:%d/\n", state.port);
  std::fflush(stdout);
  state.io.run();
}

}  // namespace kpdev::service

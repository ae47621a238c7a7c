#include "remote/WebServer.h"

#include <openssl/crypto.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <thread>

#include "remote/WebLimits.h"
#include "sys/Digest.h"
#include "sys/Messages.h"

namespace tool::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using SteadyTime = std::chrono::steady_clock::time_point;

namespace {

constexpr const char* kTokenCookie = "tessarvander-token";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoded; false for a broken escape or a NUL.
bool PercentDecoded(std::string_view text, std::string& decoded) {
  decoded.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return false;
    decoded += c;
  }
  return true;
}

// The value of `name` in "a=1&b=2" (as sent), and the rest without it.
std::string TakeParameter(std::string& query, const std::string& name) {
  std::string value, rest;
  size_t start = 0;
  while (start <= query.size()) {
    const size_t end = std::min(query.find('&', start), query.size());
    const std::string_view item(query.data() + start, end - start);
    if (item.substr(0, name.size() + 1) == name + "=") value = std::string(item.substr(name.size() + 1));
    else if (!item.empty()) rest += (rest.empty() ? "" : "&") + std::string(item);
    start = end + 1;
  }
  query = rest;
  return value;
}

std::string CookieValue(std::string_view cookies, const std::string& name) {
  const std::string wanted = name + "=";
  size_t start = 0;
  while (start < cookies.size()) {
    while (start < cookies.size() && cookies[start] == ' ') ++start;
    const size_t end = std::min(cookies.find(';', start), cookies.size());
    const std::string_view item = cookies.substr(start, end - start);
    if (item.substr(0, wanted.size()) == wanted) return std::string(item.substr(wanted.size()));
    start = end + 1;
  }
  return "";
}

bool SameToken(const std::string& given, const std::string& token) {
  return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

// The host of a Host header ("127.0.0.1:8080", "[::1]:80", "localhost").
std::string HostOf(std::string_view header) {
  if (!header.empty() && header.front() == '[') {
    const size_t close = header.find(']');
    return close == std::string_view::npos ? "" : std::string(header.substr(1, close - 1));
  }
  const size_t colon = header.rfind(':');
  return std::string(colon == std::string_view::npos ? header : header.substr(0, colon));
}

}  // namespace

bool ReadTarget(std::string_view target, std::string_view cookies, Target& read) {
  if (target.empty() || target.front() != '/') return false;
  const size_t question = target.find('?');
  if (!PercentDecoded(target.substr(0, question), read.path)) return false;
  read.query = question == std::string_view::npos ? "" : std::string(target.substr(question + 1));
  read.token = TakeParameter(read.query, "token");
  read.tokenInQuery = !read.token.empty();
  if (read.token.empty()) read.token = CookieValue(cookies, kTokenCookie);
  return true;
}

bool IsLoopback(const std::string& host) {
  if (host == "localhost") return true;
  beast::error_code ec;
  const asio::ip::address address = asio::ip::make_address(host, ec);
  return !ec && address.is_loopback();
}

bool ParseHostAndPort(const std::string& text, std::string& host, int& port) {
  std::string hostPart, portPart = text;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find("]:");
    if (close == std::string::npos) return false;
    hostPart = text.substr(1, close - 1);
    portPart = text.substr(close + 2);
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    hostPart = text.substr(0, colon);
    portPart = text.substr(colon + 1);
    if (hostPart.empty() || hostPart.find(':') != std::string::npos) return false;
  }
  if (portPart.empty() || portPart.size() > 5 || portPart.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int number = std::stoi(portPart);
  if (number < 1 || number > 65535) return false;
  if (!hostPart.empty()) host = hostPart;
  port = number;
  return true;
}

std::string NewToken() { return RandomHex(16); }

class SocketPeer;

// A connection, HTTP or (after the upgrade) WebSocket, as the server
// counts it: registered while it lives, by a number that grows with age.
class Peer {
 public:
  explicit Peer(WebServer::Impl& server);
  virtual ~Peer();
  virtual void Close() = 0;

  WebServer::Impl& server;
  const uint64_t id;
  bool socket = false;   // a WebSocket: never closed to make room
  bool idle = false;     // waiting for its next request
  bool writing = false;  // an answer going out
  bool closing = false;
  SteadyTime since = std::chrono::steady_clock::now();  // of its present state
};

class WebServer::Impl {
 public:
  Impl() : acceptor(io), tickTimer(io), acceptPause(io), stopTimer(io) {}

  void Accept();
  void Tick();
  // Closes a connection to make room for a newcomer; false if none can go.
  bool MakeRoom();
  size_t Open(bool socketsOnly) const;
  void Stop();
  // Whether a request may reach the handlers.
  bool Admitted(const http::request<http::empty_body>& request, const std::string& givenToken) const;

  Handlers handlers;
  std::string token;
  bool stopping = false;
  uint64_t nextId = 1;
  // Declared before the io_context, so that connections its handlers still
  // hold when it goes can take themselves off.
  std::map<uint64_t, Peer*> peers;
  std::map<uint64_t, std::weak_ptr<SocketPeer>> sockets;
  asio::io_context io{1};
  tcp::acceptor acceptor;
  asio::steady_timer tickTimer, acceptPause, stopTimer;
  std::atomic<int> port{0};
  std::thread thread;
};

Peer::Peer(WebServer::Impl& server) : server(server), id(server.nextId++) { server.peers[id] = this; }

Peer::~Peer() {
  server.peers.erase(id);
  if (server.stopping && server.peers.empty()) server.stopTimer.cancel();
}

// A WebSocket: messages in (bounded in size and rate) to the handlers, and
// messages out through a bounded queue.
class SocketPeer : public Peer, public std::enable_shared_from_this<SocketPeer> {
 public:
  SocketPeer(beast::tcp_stream&& stream, WebServer::Impl& server) : Peer(server), ws(std::move(stream)) {
    socket = true;
  }

  void Accept(http::request<http::empty_body>&& request) {
    upgrade = std::move(request);
    beast::get_lowest_layer(ws).expires_never();
    websocket::stream_base::timeout timeouts{kRequestDeadline, kSocketIdle, true};
    ws.set_option(timeouts);
    ws.read_message_max(kMaxMessageBytes);
    ws.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "tessarvander"); }));
    ws.async_accept(upgrade, [self = shared_from_this()](beast::error_code ec) {
      if (ec || self->closing || self->server.stopping) return self->Close();
      self->opened = true;
      self->server.sockets[self->id] = self;
      if (self->server.handlers.opened) self->server.handlers.opened(self->id);
      self->Read();
    });
  }

  void Send(bool binary, std::string message) {
    if (closing) return;
    if (queuedBytes + message.size() > kMaxQueuedBytes) return Close();  // it does not read
    queuedBytes += message.size();
    outgoing.emplace_back(binary, std::move(message));
    if (!writing) WriteNext();
  }

  void Close() override {
    if (closing) return;
    closing = true;
    beast::error_code ec;
    beast::get_lowest_layer(ws).socket().shutdown(tcp::socket::shutdown_both, ec);
    beast::get_lowest_layer(ws).socket().close(ec);
    server.sockets.erase(id);
    if (opened && server.handlers.closed && !server.stopping) server.handlers.closed(id);
  }

 private:
  void Read() {
    ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec || self->closing || self->server.stopping || !self->WithinRate()) return self->Close();
      std::string message = beast::buffers_to_string(self->buffer.data());
      self->buffer.consume(self->buffer.size());
      if (self->server.handlers.received) self->server.handlers.received(self->id, self->ws.got_binary(), message);
      if (!self->closing) self->Read();
    });
  }

  void WriteNext() {
    writing = true;
    ws.binary(outgoing.front().first);
    ws.async_write(asio::buffer(outgoing.front().second), [self = shared_from_this()](beast::error_code ec, size_t) {
      self->queuedBytes -= self->outgoing.front().second.size();
      self->outgoing.pop_front();
      self->writing = false;
      if (ec || self->closing) return self->Close();
      if (!self->outgoing.empty()) self->WriteNext();
    });
  }

  // A token bucket: kMessagesPerSecond on average, kMessageBurst at once.
  bool WithinRate() {
    const SteadyTime now = std::chrono::steady_clock::now();
    allowance = std::min(kMessageBurst, allowance + std::chrono::duration<double>(now - lastMessage).count() *
                                                        kMessagesPerSecond);
    lastMessage = now;
    if (allowance < 1.0) return false;
    allowance -= 1.0;
    return true;
  }

  websocket::stream<beast::tcp_stream> ws;
  http::request<http::empty_body> upgrade;
  beast::flat_buffer buffer{kMaxMessageBytes + 1024};
  std::deque<std::pair<bool, std::string>> outgoing;
  size_t queuedBytes = 0;
  bool opened = false;
  double allowance = kMessageBurst;
  SteadyTime lastMessage = std::chrono::steady_clock::now();
};

// An HTTP connection: requests read under the deadline and the header
// bounds, answered by the handler, kept alive while the client asks; a
// WebSocket upgrade hands the connection to a SocketPeer.
class HttpPeer : public Peer, public std::enable_shared_from_this<HttpPeer> {
 public:
  HttpPeer(tcp::socket&& socket, WebServer::Impl& server)
      : Peer(server), stream(std::move(socket)), idleTimer(server.io) {}

  void Start() { WaitForRequest(); }

  void Close() override {
    if (closing) return;
    closing = true;
    idleTimer.cancel();
    beast::error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream.socket().close(ec);
  }

 private:
  void WaitForRequest() {
    if (closing || server.stopping) return;
    idle = true;
    writing = false;
    since = std::chrono::steady_clock::now();
    stream.expires_never();
    if (buffer.size() > 0) return ReadRequest();  // already here
    idleTimer.expires_after(kIdleTimeout);
    idleTimer.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (!ec) self->Close();
    });
    stream.socket().async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
      self->idleTimer.cancel();
      if (ec || self->closing || self->server.stopping) return self->Close();
      self->ReadRequest();
    });
  }

  void ReadRequest() {
    idle = false;
    since = std::chrono::steady_clock::now();
    parser.emplace();
    parser->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    stream.expires_after(kRequestDeadline);
    http::async_read_header(stream, buffer, *parser, [self = shared_from_this()](beast::error_code ec, size_t) {
      self->OnHeader(ec);
    });
  }

  void OnHeader(beast::error_code ec) {
    if (closing || server.stopping) return;
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
      return Refuse(http::status::request_header_fields_too_large);
    if (ec) return Close();  // past the deadline, gone, or not HTTP
    http::request<http::empty_body>& raw = parser->get();
    if (static_cast<size_t>(std::distance(raw.begin(), raw.end())) > kMaxHeaderFields)
      return Refuse(http::status::request_header_fields_too_large);
    if (!parser->is_done()) return Refuse(http::status::payload_too_large);  // a body: nothing here takes one

    Target target;
    const auto cookies = raw[http::field::cookie];
    if (!ReadTarget(std::string_view(raw.target().data(), raw.target().size()),
                    std::string_view(cookies.data(), cookies.size()), target))
      return Refuse(http::status::bad_request);
    const std::string& givenToken = target.token;
    Request request;
    request.path = std::move(target.path);
    request.query = std::move(target.query);
    const bool tokenInQuery = target.tokenInQuery;
    if (!server.Admitted(raw, givenToken)) return Refuse(http::status::forbidden);
    beast::error_code local;
    request.localAddress = stream.socket().local_endpoint(local).address().to_string();

    if (websocket::is_upgrade(raw)) return Upgrade();
    if (raw.method() != http::verb::get) return Refuse(http::status::method_not_allowed);
    request.method = "GET";
    Answer answer = server.handlers.answer ? server.handlers.answer(request) : Answer{404, "", "", {}};
    // The page's own requests carry the token as a cookie from here on.
    if (tokenInQuery)
      answer.headers.emplace_back("Set-Cookie", std::string(kTokenCookie) + "=" + server.token +
                                                    "; Path=/; HttpOnly; SameSite=Strict");
    Write(std::move(answer), raw.keep_alive());
  }

  void Upgrade() {
    http::request<http::empty_body>& raw = parser->get();
    const auto origin = raw[http::field::origin];
    const auto host = raw[http::field::host];
    // A page from elsewhere may not open a socket here in the browser's name.
    if (!origin.empty() && std::string(origin) != "http://" + std::string(host))
      return Refuse(http::status::forbidden);
    if (server.Open(true) >= kMaxWebSockets) return Refuse(http::status::service_unavailable);
    closing = true;  // the connection is the socket's now
    idleTimer.cancel();
    auto peer = std::make_shared<SocketPeer>(std::move(stream), server);
    peer->Accept(parser->release());
  }

  void Refuse(http::status status) {
    Answer answer;
    answer.status = static_cast<int>(status);
    answer.type = "text/plain";
    answer.body = std::string(http::obsolete_reason(status)) + "\n";
    Write(std::move(answer), false);
  }

  void Write(Answer answer, bool keepAlive) {
    response = {};
    response.version(11);
    response.result(static_cast<unsigned>(answer.status));
    response.set(http::field::server, "tessarvander");
    response.set("X-Content-Type-Options", "nosniff");
    if (!answer.type.empty()) response.set(http::field::content_type, answer.type);
    for (const auto& [name, value] : answer.headers) response.set(name, value);
    response.body() = std::move(answer.body);
    response.keep_alive(keepAlive);
    response.prepare_payload();
    writing = true;
    since = std::chrono::steady_clock::now();
    stream.expires_after(kWriteDeadline);
    http::async_write(stream, response, [self = shared_from_this(), keepAlive](beast::error_code ec, size_t) {
      if (ec || !keepAlive) return self->Close();
      self->WaitForRequest();
    });
  }

  beast::tcp_stream stream;
  asio::steady_timer idleTimer;
  beast::flat_buffer buffer{kMaxHeaderBytes + 1024};
  std::optional<http::request_parser<http::empty_body>> parser;
  http::response<http::string_body> response;
};

void WebServer::Impl::Accept() {
  acceptor.async_accept(io, [this](beast::error_code ec, tcp::socket socket) {
    if (stopping) return;
    if (ec) {  // out of descriptors, most likely: try again in a moment
      acceptPause.expires_after(std::chrono::milliseconds(100));
      acceptPause.async_wait([this](beast::error_code waited) {
        if (!waited && !stopping) Accept();
      });
      return;
    }
    if (MakeRoom()) {
      std::make_shared<HttpPeer>(std::move(socket), *this)->Start();
    } else {
      beast::error_code ignored;
      socket.close(ignored);
    }
    Accept();
  });
}

bool WebServer::Impl::MakeRoom() {
  if (Open(false) < kMaxConnections) return true;
  Peer* idleLongest = nullptr;
  Peer* slowest = nullptr;  // still sending its request
  for (const auto& [id, peer] : peers) {
    if (peer->closing || peer->socket || peer->writing) continue;
    Peer*& candidate = peer->idle ? idleLongest : slowest;
    if (!candidate || peer->since < candidate->since) candidate = peer;
  }
  Peer* leaving = idleLongest ? idleLongest : slowest;
  if (!leaving) return false;
  leaving->Close();
  return true;
}

size_t WebServer::Impl::Open(bool socketsOnly) const {
  size_t open = 0;
  for (const auto& [id, peer] : peers)
    if (!peer->closing && (!socketsOnly || peer->socket)) ++open;
  return open;
}

bool WebServer::Impl::Admitted(const http::request<http::empty_body>& request, const std::string& givenToken) const {
  if (!token.empty()) return SameToken(givenToken, token);
  // This machine only: the Host a browser sends must be this machine too.
  const auto host = request[http::field::host];
  return IsLoopback(HostOf(std::string_view(host.data(), host.size())));
}

void WebServer::Impl::Tick() {
  tickTimer.expires_after(kPushInterval);
  tickTimer.async_wait([this](beast::error_code ec) {
    if (ec || stopping) return;
    if (handlers.tick) handlers.tick();
    Tick();
  });
}

void WebServer::Impl::Stop() {
  stopping = true;
  beast::error_code ignored;
  acceptor.close(ignored);
  tickTimer.cancel();
  acceptPause.cancel();
  std::vector<Peer*> open;
  for (const auto& [id, peer] : peers) open.push_back(peer);
  for (Peer* peer : open) peer->Close();
  // What does not finish within a second is dropped with the context.
  if (!peers.empty()) {
    stopTimer.expires_after(std::chrono::seconds(1));
    stopTimer.async_wait([this](beast::error_code ec) {
      if (!ec) io.stop();
    });
  }
}

WebServer::WebServer() : impl(std::make_unique<Impl>()) {}

WebServer::~WebServer() {
  if (!impl->thread.joinable()) return;
  asio::post(impl->io, [this] { impl->Stop(); });
  impl->thread.join();
}

bool WebServer::Start(const std::string& host, int port, const std::string& token, Handlers handlers,
                      std::string& error) {
  impl->handlers = std::move(handlers);
  impl->token = token;
  beast::error_code ec;
  tcp::resolver resolver(impl->io);
  const auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  if (ec || found.empty()) {
    error = "cannot resolve " + Printable(host, 80) + ": " + ec.message();
    return false;
  }
  const tcp::endpoint endpoint = found.begin()->endpoint();
  impl->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl->acceptor.bind(endpoint, ec);
  if (!ec) impl->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot serve on " + Printable(host, 80) + " port " + std::to_string(port) + ": " + ec.message();
    return false;
  }
  impl->port = impl->acceptor.local_endpoint(ec).port();
  impl->Accept();
  impl->Tick();
  impl->thread = std::thread([this] {
    for (;;) {
      try {
        impl->io.run();
        return;
      } catch (const std::exception& e) {  // a handler's failure costs its request, not the server
        Warn(std::string("web server: ") + e.what());
      }
    }
  });
  return true;
}

int WebServer::Port() const { return impl->port; }

void WebServer::Send(uint64_t socket, bool binary, std::string message) {
  const auto found = impl->sockets.find(socket);
  if (found == impl->sockets.end()) return;
  if (auto peer = found->second.lock()) peer->Send(binary, std::move(message));
}

void WebServer::Close(uint64_t socket) {
  const auto found = impl->sockets.find(socket);
  if (found == impl->sockets.end()) return;
  if (auto peer = found->second.lock()) peer->Close();
}

size_t WebServer::Connections() const { return impl->Open(false); }
size_t WebServer::WebSockets() const { return impl->Open(true); }

}  // namespace tool::web

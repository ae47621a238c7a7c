#include "remote/WebServer.h"

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

#include "remote/WebAccess.h"
#include "remote/WebLimits.h"
#include "sys/HostAndPort.h"
#include "sys/Messages.h"

namespace tool::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using SteadyTime = std::chrono::steady_clock::time_point;

class SocketPeer;

// A connection, HTTP or (after the upgrade) WebSocket, as the server
// counts it: registered while it lives, by a number that grows with age.
class Peer {
 public:
  explicit Peer(ServerCore& server);
  virtual ~Peer();
  virtual void Close() = 0;

  ServerCore& server;
  const uint64_t id;
  bool socket = false;   // a WebSocket: never closed to make room
  bool idle = false;     // waiting for its next request
  bool writing = false;  // an answer going out
  bool closing = false;
  SteadyTime since = std::chrono::steady_clock::now();  // of its present state
};

class ServerCore {
 public:
  ServerCore() : acceptor(io), tickTimer(io), acceptPause(io), stopTimer(io) {}

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

Peer::Peer(ServerCore& server) : server(server), id(server.nextId++) { server.peers[id] = this; }

Peer::~Peer() {
  server.peers.erase(id);
  if (server.stopping && server.peers.empty()) server.stopTimer.cancel();
}

// A WebSocket: messages in (bounded in size and rate) to the handlers, and
// messages out through a bounded queue.
class SocketPeer : public Peer, public std::enable_shared_from_this<SocketPeer> {
 public:
  SocketPeer(beast::tcp_stream&& stream, ServerCore& server) : Peer(server), ws(std::move(stream)) {
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
  HttpPeer(tcp::socket&& socket, ServerCore& server)
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

void ServerCore::Accept() {
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

bool ServerCore::MakeRoom() {
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

size_t ServerCore::Open(bool socketsOnly) const {
  size_t open = 0;
  for (const auto& [id, peer] : peers)
    if (!peer->closing && (!socketsOnly || peer->socket)) ++open;
  return open;
}

bool ServerCore::Admitted(const http::request<http::empty_body>& request, const std::string& givenToken) const {
  if (!token.empty()) return SameToken(givenToken, token);
  // This machine only: the Host a browser sends must be this machine too.
  const auto host = request[http::field::host];
  return IsLoopback(HostOf(std::string_view(host.data(), host.size())));
}

void ServerCore::Tick() {
  tickTimer.expires_after(kPushInterval);
  tickTimer.async_wait([this](beast::error_code ec) {
    if (ec || stopping) return;
    if (handlers.tick) handlers.tick();
    Tick();
  });
}

void ServerCore::Stop() {
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

WebServer::WebServer() : core(std::make_unique<ServerCore>()) {}

WebServer::~WebServer() {
  if (!core->thread.joinable()) return;
  asio::post(core->io, [this] { core->Stop(); });
  core->thread.join();
}

bool WebServer::Start(const std::string& host, int port, const std::string& token, Handlers handlers,
                      std::string& error) {
  core->handlers = std::move(handlers);
  core->token = token;
  beast::error_code ec;
  tcp::resolver resolver(core->io);
  const auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  if (ec || found.empty()) {
    error = "cannot resolve " + Printable(host, 80) + ": " + ec.message();
    return false;
  }
  const tcp::endpoint endpoint = found.begin()->endpoint();
  core->acceptor.open(endpoint.protocol(), ec);
  if (!ec) core->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) core->acceptor.bind(endpoint, ec);
  if (!ec) core->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot serve on " + Printable(host, 80) + " port " + std::to_string(port) + ": " + ec.message();
    return false;
  }
  core->port = core->acceptor.local_endpoint(ec).port();
  core->Accept();
  core->Tick();
  core->thread = std::thread([this] {
    for (;;) {
      try {
        core->io.run();
        return;
      } catch (const std::exception& e) {  // a handler's failure costs its request, not the server
        Warn(std::string("web server: ") + e.what());
      }
    }
  });
  return true;
}

int WebServer::Port() const { return core->port; }

void WebServer::Send(uint64_t socket, bool binary, std::string message) {
  const auto found = core->sockets.find(socket);
  if (found == core->sockets.end()) return;
  if (auto peer = found->second.lock()) peer->Send(binary, std::move(message));
}

}  // namespace tool::web

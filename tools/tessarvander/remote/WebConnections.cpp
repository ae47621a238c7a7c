// The web server's connections: HTTP requests read under the deadline and
// the header bounds and answered by the handler, and WebSockets after an
// upgrade, their messages in and out within the bounds of WebLimits.h.
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <optional>
#include <sstream>

#include "remote/WebAccess.h"
#include "remote/WebLimits.h"
#include "remote/WebServerCore.h"

namespace tool::web {

namespace http = beast::http;
namespace websocket = beast::websocket;

Peer::Peer(ServerCore& server, std::string address) : server(server), id(server.nextId++), address(std::move(address)) {
  server.peers[id] = this;
}

Peer::~Peer() {
  server.peers.erase(id);
  if (server.stopping && server.peers.empty()) server.stopTimer.cancel();
}

namespace {

// The most bytes the frames of one message can take: its payload and the
// longest header of each frame it may come in.
constexpr uint64_t kMostMessageWireBytes = kMaxMessageBytes + kMaxFramesPerMessage * 14;

// A token bucket: `rate` a second on average, `burst` at once.
class Bucket {
 public:
  Bucket(double rate, double burst) : rate(rate), burst(burst), allowance(burst) {}
  bool Take(double amount) {
    const SteadyTime now = std::chrono::steady_clock::now();
    allowance = std::min(burst, allowance + std::chrono::duration<double>(now - last).count() * rate);
    last = now;
    allowance -= amount;
    return allowance >= 0.0;
  }

 private:
  double rate, burst, allowance;
  SteadyTime last = std::chrono::steady_clock::now();
};

}  // namespace

// A WebSocket: messages in (bounded in size, time, frames and rate) to the
// handlers, and messages out through a bounded queue.
class SocketPeer : public Peer, public std::enable_shared_from_this<SocketPeer> {
 public:
  SocketPeer(Stream&& stream, ServerCore& server, std::string address)
      : Peer(server, std::move(address)), ws(std::move(stream)) {
    socket = true;
  }

  // The upgrade request as it came, and whatever the client sent after it,
  // which the socket reads first.
  void Accept(std::string request) {
    upgrade = std::move(request);
    beast::get_lowest_layer(ws).expires_never();
    websocket::stream_base::timeout timeouts{kRequestDeadline, kSocketIdle, true};
    ws.set_option(timeouts);
    ws.read_message_max(kMaxMessageBytes);
    ws.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "tessarvander"); }));
    // Pings and pongs count against the rate as messages do.
    ws.control_callback([this](websocket::frame_type, beast::string_view) {
      if (!messages.Take(1.0)) Close();
    });
    ws.async_accept(asio::buffer(upgrade), [self = shared_from_this()](beast::error_code ec) {
      if (ec || self->closing || self->server.stopping) return self->Close();
      self->server.sockets[self->id] = self;
      self->opened = true;
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

  bool Stalled(SteadyTime now) const override {
    return writing && now - beast::get_lowest_layer(ws).rate_policy().lastWrite > kStalledWrite;
  }
  uint64_t Written() const override { return beast::get_lowest_layer(ws).rate_policy().written; }

  // The byte rate, and a message that takes too long or too many frames:
  // what no whole message shows (endless fragments, a flood of pings).
  void Check(SteadyTime now) {
    const uint64_t read = beast::get_lowest_layer(ws).rate_policy().read;
    const uint64_t arrived = read - counted;
    counted = read;
    if (arrived > 0 && !bytes.Take(static_cast<double>(arrived))) return Close();
    if (read > messageBegan && !messageStarted) messageStarted = now;
    if (messageStarted &&
        (now - *messageStarted > kMessageDeadline || read - messageBegan > kMostMessageWireBytes))
      Close();
  }

 private:
  void Read() {
    ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec || self->closing || self->server.stopping || !self->messages.Take(1.0)) return self->Close();
      // The next message starts after this one's bytes.
      self->messageBegan = beast::get_lowest_layer(self->ws).rate_policy().read;
      self->messageStarted.reset();
      std::string message = beast::buffers_to_string(self->buffer.data());
      self->buffer.consume(self->buffer.size());
      if (self->server.handlers.received) self->server.handlers.received(self->id, self->ws.got_binary(), message);
      if (!self->closing) self->Read();
    });
  }

  void WriteNext() {
    writing = true;
    beast::get_lowest_layer(ws).rate_policy().lastWrite = std::chrono::steady_clock::now();
    ws.binary(outgoing.front().first);
    ws.async_write(asio::buffer(outgoing.front().second), [self = shared_from_this()](beast::error_code ec, size_t) {
      self->queuedBytes -= self->outgoing.front().second.size();
      self->outgoing.pop_front();
      self->writing = false;
      if (ec || self->closing) return self->Close();
      if (!self->outgoing.empty()) self->WriteNext();
    });
  }

  websocket::stream<Stream> ws;
  std::string upgrade;
  beast::flat_buffer buffer{kMaxMessageBytes + 1024};
  std::deque<std::pair<bool, std::string>> outgoing;
  size_t queuedBytes = 0;
  bool opened = false;
  Bucket messages{kMessagesPerSecond, kMessageBurst};
  Bucket bytes{kBytesPerSecond, kByteBurst};
  uint64_t counted = 0;       // bytes read, as last checked
  uint64_t messageBegan = 0;  // bytes read when the message being read began
  std::optional<SteadyTime> messageStarted;  // when its first byte came
};

namespace {

// An HTTP connection: requests read under the deadline and the header
// bounds, answered by the handler, kept alive while the client asks; a
// WebSocket upgrade hands the connection to a SocketPeer.
class HttpPeer : public Peer, public std::enable_shared_from_this<HttpPeer> {
 public:
  HttpPeer(tcp::socket&& socket, ServerCore& server, std::string address)
      : Peer(server, std::move(address)), stream(std::move(socket)), idleTimer(server.io) {}

  void Start() { WaitForRequest(); }

  void Close() override {
    if (closing) return;
    closing = true;
    idleTimer.cancel();
    beast::error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream.socket().close(ec);
  }

  bool Stalled(SteadyTime now) const override {
    return writing && now - stream.rate_policy().lastWrite > kStalledWrite;
  }
  uint64_t Written() const override { return stream.rate_policy().written; }

 private:
  void WaitForRequest() {
    if (closing || server.stopping) return;
    // Kept alive after an answer; a new connection is still sending its
    // first request.
    idle = answered;
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
    Request request;
    request.path = std::move(target.path);
    request.query = std::move(target.query);
    const auto host = raw[http::field::host];
    if (!server.Admitted(std::string(host.data(), host.size()), target.token)) return Refuse(http::status::forbidden);
    beast::error_code local;
    request.localAddress = stream.socket().local_endpoint(local).address().to_string();

    if (websocket::is_upgrade(raw)) return Upgrade();
    if (raw.method() != http::verb::get) return Refuse(http::status::method_not_allowed);
    request.method = "GET";
    Answer answer = server.handlers.answer ? server.handlers.answer(request) : Answer{404, "", "", {}};
    // The page's own requests carry the token as a cookie from here on.
    if (target.tokenInQuery)
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
    // The request again, and the frames the client sent with it, which the
    // header's reader may already hold.
    std::ostringstream request;
    request << raw;
    std::string held = request.str() + beast::buffers_to_string(buffer.data());
    auto peer = std::make_shared<SocketPeer>(std::move(stream), server, address);
    peer->Accept(std::move(held));
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
    since = stream.rate_policy().lastWrite = std::chrono::steady_clock::now();
    stream.expires_after(kWriteDeadline);
    http::async_write(stream, response, [self = shared_from_this(), keepAlive](beast::error_code ec, size_t) {
      if (ec || !keepAlive) return self->Close();
      self->answered = true;
      self->WaitForRequest();
    });
  }

  Stream stream;
  bool answered = false;
  asio::steady_timer idleTimer;
  beast::flat_buffer buffer{kMaxHeaderBytes + 1024};
  std::optional<http::request_parser<http::empty_body>> parser;
  http::response<http::string_body> response;
};

}  // namespace

void Serve(tcp::socket&& socket, ServerCore& server) {
  beast::error_code ec;
  const std::string address = socket.remote_endpoint(ec).address().to_string();
  if (!server.MakeRoom(address)) {
    socket.close(ec);
    return;
  }
  std::make_shared<HttpPeer>(std::move(socket), server, address)->Start();
}

void CheckSockets(ServerCore& server) {
  const SteadyTime now = std::chrono::steady_clock::now();
  std::vector<std::shared_ptr<SocketPeer>> open;
  for (const auto& [id, socket] : server.sockets)
    if (auto peer = socket.lock()) open.push_back(peer);
  for (const auto& peer : open) peer->Check(now);
}

void SendTo(ServerCore& server, uint64_t socket, bool binary, std::string message) {
  const auto found = server.sockets.find(socket);
  if (found == server.sockets.end()) return;
  if (auto peer = found->second.lock()) peer->Send(binary, std::move(message));
}

}  // namespace tool::web

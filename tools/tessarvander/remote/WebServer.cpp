#include "remote/WebServer.h"

#include "remote/WebAccess.h"
#include "remote/WebLimits.h"
#include "remote/WebServerCore.h"
#include "sys/HostAndPort.h"
#include "sys/Messages.h"

namespace tool::web {

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
    Serve(std::move(socket), *this);
    Accept();
  });
}

// Room for a newcomer: first an answer that has not moved (a client that
// does not read), then the connection idle longest after an answer, then
// the oldest still sending its request. An address that holds its share
// makes room among its own connections, and when none of these is there,
// the one it has been sent the most by goes: a fresh request of its own is
// the last to be closed. WebSockets never go.
bool ServerCore::MakeRoom(const std::string& address) {
  size_t open = 0, fromAddress = 0;
  for (const auto& [id, peer] : peers) {
    if (peer->closing) continue;
    ++open;
    fromAddress += peer->address == address;
  }
  const bool ownShare = fromAddress >= kMaxConnectionsPerPeer;
  if (!ownShare && open < kMaxConnections) return true;
  const SteadyTime now = std::chrono::steady_clock::now();
  Peer *stalled = nullptr, *idleLongest = nullptr, *slowest = nullptr, *greediest = nullptr;
  const auto older = [](Peer* candidate, Peer* than) { return !than || candidate->since < than->since; };
  for (const auto& [id, peer] : peers) {
    if (peer->closing || peer->socket || (ownShare && peer->address != address)) continue;
    if (peer->Written() > 0 && (!greediest || peer->Written() > greediest->Written())) greediest = peer;
    if (peer->Stalled(now)) {
      if (older(peer, stalled)) stalled = peer;
    } else if (!peer->writing) {
      Peer*& candidate = peer->idle ? idleLongest : slowest;
      if (older(peer, candidate)) candidate = peer;
    }
  }
  Peer* leaving = stalled       ? stalled
                  : idleLongest ? idleLongest
                  : ownShare && greediest ? greediest
                                          : slowest;
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

bool ServerCore::Admitted(const std::string& hostHeader, const std::string& givenToken) const {
  if (!token.empty()) return SameToken(givenToken, token);
  // This machine only: the Host a browser sends must be this machine too.
  return IsLoopback(HostOf(hostHeader));
}

void ServerCore::Tick() {
  tickTimer.expires_after(kPushInterval);
  tickTimer.async_wait([this](beast::error_code ec) {
    if (ec || stopping) return;
    CheckSockets(*this);
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
  const auto found =
      resolver.resolve(host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
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
  SendTo(*core, socket, binary, std::move(message));
}

}  // namespace tool::web

// Inside the web server (WebServer.h): the connections as the server
// counts them, and the traffic each one has seen. For remote/ only.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "remote/WebServer.h"

namespace tool::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using SteadyTime = std::chrono::steady_clock::time_point;

// What a connection's bytes tell, as Beast's stream counts them: how much
// it has read and written, and when its answer last moved. It limits
// nothing itself; the server judges from it.
class Traffic {
 public:
  uint64_t read = 0, written = 0;
  SteadyTime lastWrite = std::chrono::steady_clock::now();

 private:
  friend class beast::rate_policy_access;
  std::size_t available_read_bytes() const noexcept { return (std::numeric_limits<std::size_t>::max)(); }
  std::size_t available_write_bytes() const noexcept { return (std::numeric_limits<std::size_t>::max)(); }
  void transfer_read_bytes(std::size_t bytes) noexcept { read += bytes; }
  void transfer_write_bytes(std::size_t bytes) noexcept {
    written += bytes;
    if (bytes > 0) lastWrite = std::chrono::steady_clock::now();
  }
  void on_timer() noexcept {}
};

using Stream = beast::basic_stream<tcp, asio::any_io_executor, Traffic>;

class ServerCore;
class SocketPeer;

// A connection, HTTP or (after the upgrade) WebSocket, as the server
// counts it: registered while it lives, by a number that grows with age.
class Peer {
 public:
  Peer(ServerCore& server, std::string address);
  virtual ~Peer();
  virtual void Close() = 0;
  // Its answer has not moved for kStalledWrite: a client that does not read.
  virtual bool Stalled(SteadyTime now) const = 0;
  // Bytes it has been sent.
  virtual uint64_t Written() const = 0;

  ServerCore& server;
  const uint64_t id;
  const std::string address;  // the client's
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
  // Closes a connection to make room for a newcomer from `address`; false
  // if none can go.
  bool MakeRoom(const std::string& address);
  size_t Open(bool socketsOnly) const;
  void Stop();
  // Whether a request may reach the handlers (the token, or this machine).
  bool Admitted(const std::string& hostHeader, const std::string& givenToken) const;

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

// A new connection, served until it closes.
void Serve(tcp::socket&& socket, ServerCore& server);
// Every WebSocket's bounds checked, once a push interval.
void CheckSockets(ServerCore& server);
// A message to a socket, if it is there.
void SendTo(ServerCore& server, uint64_t socket, bool binary, std::string message);

}  // namespace tool::web

// One bounded HTTP and WebSocket server, on Boost.Beast: everything the
// player serves to browsers and controller apps goes through it. It knows
// nothing of what it serves: answers and messages come from handlers.
//
// One thread runs every connection, all asynchronous, so a slow or hostile
// client holds no thread and delays no other; the bounds of WebLimits.h
// hold what any mix of clients can take. Handlers run on that thread, and
// Send, Close and Count are for that thread (from handlers) only. The frame
// loop never calls in here: it meets the handlers' owner behind a mutex.
//
// Access: with a token, every request and socket must carry it (the query
// parameter "token" or the cookie the remote page gets); without one, the
// server is for this machine only, and a request naming another host (a
// page's DNS name rebound to 127.0.0.1) is refused. A WebSocket whose page
// came from elsewhere (its Origin names another host) is refused either way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tool::web {

struct Request {
  std::string method;
  std::string path;   // percent-decoded, without the query
  std::string query;  // after '?', as sent, the token taken out
  std::string localAddress;  // the address the client reached us on
};

struct Answer {
  int status = 200;
  std::string type;  // Content-Type
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

struct Handlers {
  std::function<Answer(const Request&)> answer;
  // A WebSocket, by a number of its own: opened, a message (binary or
  // text), closed.
  std::function<void(uint64_t socket)> opened;
  std::function<void(uint64_t socket, bool binary, std::string& message)> received;
  std::function<void(uint64_t socket)> closed;
  // Every kPushInterval.
  std::function<void()> tick;
};

class WebServer {
 public:
  WebServer();
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Serves on host:port (0: any free port) until destroyed; `token` empty
  // for none. False with one line when it cannot listen.
  bool Start(const std::string& host, int port, const std::string& token, Handlers handlers, std::string& error);
  // The port it listens on.
  int Port() const;

  // On the server's thread: a message to a socket (dropped if it is gone;
  // the socket is closed if it lets too much wait), or the socket closed.
  void Send(uint64_t socket, bool binary, std::string message);
  void Close(uint64_t socket);
  // Open connections, and WebSockets among them.
  size_t Connections() const;
  size_t WebSockets() const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl;
};

// What a request's target ("/path?query") and Cookie header ask: the path
// decoded, the query without the token, and the token given (in the query,
// else in the cookie). False for a target this server never serves: not a
// path, a broken escape, a NUL.
struct Target {
  std::string path, query, token;
  bool tokenInQuery = false;
};
bool ReadTarget(std::string_view target, std::string_view cookies, Target& read);

// A token for the URL: 128 random bits, as 32 hexadecimal digits.
std::string NewToken();
// Whether a host given to listen on is this machine only (127.x, ::1,
// localhost).
bool IsLoopback(const std::string& host);
// "8080", "0.0.0.0:8080", "[::]:8080": the host (unchanged when none is
// given) and a port from 1 to 65535. False for anything else.
bool ParseHostAndPort(const std::string& text, std::string& host, int& port);

}  // namespace tool::web

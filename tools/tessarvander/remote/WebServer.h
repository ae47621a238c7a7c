// One bounded HTTP and WebSocket server, on Boost.Beast: everything the
// player serves to browsers and controller apps goes through it. It knows
// nothing of what it serves: answers and messages come from handlers.
//
// One thread runs every connection, all asynchronous, so a slow or hostile
// client holds no thread and delays no other; the bounds of WebLimits.h
// hold what any mix of clients can take. Handlers run on that thread, and
// Send is for that thread (from handlers) only. The frame loop never calls
// in here: it meets the handlers' owner behind a mutex.
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
  // A WebSocket, by a number of its own: a message (binary or text), and
  // its end.
  std::function<void(uint64_t socket, bool binary, std::string& message)> received;
  std::function<void(uint64_t socket)> closed;
  // Every kPushInterval.
  std::function<void()> tick;
};

class ServerCore;

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
  // the socket is closed if it lets too much wait).
  void Send(uint64_t socket, bool binary, std::string message);

 private:
  std::unique_ptr<ServerCore> core;
};

}  // namespace tool::web

// A client of the player's web server for the tests, on the same library
// as the server: plain GETs, raw bytes, and a WebSocket. Every wait has a
// deadline.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct HttpReply {
  int status = 0;  // 0: no answer within the patience
  std::string body;
  std::string headers;  // as sent, one per line
};

// GET `target` from host:port.
HttpReply HttpGet(int port, const std::string& target, double patienceSeconds = 10.0,
                  const std::string& host = "127.0.0.1", const std::vector<std::string>& extraHeaders = {});

class WebSocketClient {
 public:
  WebSocketClient();
  ~WebSocketClient();
  // Opens ws://host:port/target; false with the reason.
  bool Open(int port, const std::string& target, std::string& error, const std::string& origin = "",
            const std::string& host = "127.0.0.1");
  bool Send(const std::string& message, bool binary);
  // The next message within the patience; false if none came (or the
  // socket closed).
  bool Receive(std::string& message, double patienceSeconds);

 private:
  struct State;
  std::unique_ptr<State> state;
};

}  // namespace testsupport

// Everything the player serves over HTTP and WebSocket, on one bounded
// server (WebServer.h):
//   GET /remote               the remote page: sliders, bank, blackout, tap,
//                             tempo and beat, in any browser
//   GET /                     OSCQuery: the whole tree
//   GET /tessarvander/...     one node; "?VALUE" one attribute
//   GET /?HOST_INFO           the server's name, its OSC port and address
//                             as the client reached it, and its extensions
//   WebSocket, any path       OSCQuery's LISTEN and IGNORE (text, JSON);
//                             OSC packets in (binary), applied like OSC
//                             through the same decoder; the listened values
//                             out (binary OSC) whenever they change,
//                             whatever changed them
//
// The frame loop publishes the show once a pass and drains what came in;
// it only ever waits for a mutex held to copy a few values.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "formats/PluginDescription.h"
#include "formats/ParameterNames.h"
#include "formats/ParameterProfile.h"
#include "remote/OscInbox.h"
#include "remote/OscQueryTree.h"
#include "remote/WebServer.h"

namespace tool {

class ShowService {
 public:
  struct Setup {
    std::string host = "127.0.0.1";
    int port = 0;       // 0: any free one
    int oscPort = 0;    // the UDP port HOST_INFO names; 0 for none
    bool readOnly = false;  // values shown, never changed from here
  };

  ShowService(const ParameterNames& names, const std::vector<ParameterDescription>& parameters,
              const ParameterProfile& profile, size_t bankSize);

  // Serves. Off this machine, every request must carry a new random token.
  // False with one line when it cannot.
  bool Start(const Setup& setup, std::string& error);
  int Port() const { return server.Port(); }
  // The remote page's address, with the token when one is asked.
  std::string RemoteUrl() const;
  // One line: what is served, where, and who can reach it.
  std::string Reach() const;

  // From the frame loop.
  void Publish(const ShowState& state);
  void Drain(double now, std::vector<OscCommand>& commands) { inbox.Drain(now, commands); }

  // On the server's thread (and the fuzzer's): a request answered, a
  // socket's message taken.
  web::Answer Answer(const web::Request& request);
  void Received(uint64_t socket, bool binary, std::string& message);

 private:
  // Every listened value that changed, to its listener.
  void Push();
  ShowState Current();

  OscInbox inbox;
  OscQueryTree tree;
  Setup setup;
  std::string token;
  std::string reachableAt;  // the host a remote uses, for the URL
  std::mutex stateLock;
  ShowState published;
  // The server thread's own: per socket, the nodes it listens to and the
  // message last sent for each.
  std::map<uint64_t, std::map<const OscQueryTree::Node*, std::string>> listening;
  // Sockets closed since the last push (a send can close one mid-push).
  std::vector<uint64_t> closedSockets;
  web::WebServer server;  // the last member: it stops before the rest goes
};

}  // namespace tool

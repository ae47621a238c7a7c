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
// What comes in goes to the show's one inbox, and listeners follow the
// show's changes (ShowChanges.h), both shared with the OSC port; the frame
// loop meets them only through Controllers.h.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "remote/OscInbox.h"
#include "remote/OscQueryTree.h"
#include "remote/ShowChanges.h"
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

  ShowService(OscInbox& inbox, const OscQueryTree& tree, const ShowChanges& changes)
      : inbox(inbox), tree(tree), changes(changes) {}

  // Serves. Off this machine, every request must carry a new random token.
  // False with one line when it cannot.
  bool Start(const Setup& setup, std::string& error);
  int Port() const { return server.Port(); }
  // The remote page's address at the first (or another) address others
  // reach this machine at, with the token when one is asked.
  std::string RemoteUrl(size_t address = 0) const;
  // What is served, where, and who can reach it; a line more for each other
  // address of this machine.
  std::vector<std::string> Reach() const;

  // On the server's thread (and the fuzzer's): a request answered, a
  // socket's message taken.
  web::Answer Answer(const web::Request& request);
  void Received(uint64_t socket, bool binary, std::string& message);

 private:
  // Every listened value that changed, to its listener.
  void Push();

  OscInbox& inbox;
  const OscQueryTree& tree;
  const ShowChanges& changes;
  Setup setup;
  std::string token;
  std::vector<std::string> reachableAt;  // the hosts a remote uses, for the URL
  // The server thread's own: what each socket follows.
  std::map<uint64_t, ShowChanges::Follower> listening;
  // Sockets closed since the last push (a send can close one mid-push).
  std::vector<uint64_t> closedSockets;
  std::vector<std::string> pushed;
  web::WebServer server;  // the last member: it stops before the rest goes
};

}  // namespace tool

// Every way a controller reaches the show, behind one door: the OSC port
// (UDP, OscListener.h) and the web server for OSCQuery and the remote page
// (ShowService.h). The frame loop meets the outside world here only, once a
// pass: it drains every command that came in, from every transport, in
// arrival order; it hands over the answers to questions, as data; and it
// publishes the show as it stands, which every listener follows through one
// list of changes (ShowChanges.h): the remote's sockets and the
// --osc-reply address alike. None of these calls waits on a socket: the
// transports' own threads read and write.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/OscMessages.h"
#include "formats/ParameterProfile.h"
#include "formats/PluginDescription.h"
#include "remote/OscInbox.h"
#include "remote/OscQueryTree.h"
#include "remote/ShowChanges.h"

namespace tool {

class OscListener;
class ShowService;

// An answer to a question (a parameter's value, the show's health), for
// whoever asked.
struct OscAnswer {
  std::string sender;   // the asker's socket address, as bytes
  std::string address;  // as asked: the answer goes back on it
  float value = 0.0f;
};

// A controller's request that failed where the show applied it.
struct OscRefusal {
  std::string address;
  std::string why;
};

class Controllers {
 public:
  struct Setup {
    int oscPort = 0;  // UDP; 0 for none
    std::string oscHost = "127.0.0.1";
    std::string oscReply;  // HOST:PORT that hears every change, or empty
    bool web = false;      // OSCQuery and the remote page
    int webPort = 0;       // 0: any free port
    std::string webHost = "127.0.0.1";
    bool readOnly = false;  // the web side shows, changes nothing
    std::string webOption = "--remote";  // what the web server's errors name
  };

  Controllers(const ParameterNames& names, const std::vector<ParameterDescription>& parameters,
              const ParameterProfile& profile, size_t bankSize);
  ~Controllers();

  // Starts what the setup asks for; a line for the performer for each, in
  // `said`. False with one line when a port cannot be had.
  bool Start(const Setup& setup, std::vector<std::string>& said, std::string& error);
  bool Serving() const { return osc || web; }

  // The frame loop's door, once a pass.
  void Drain(double now, std::vector<OscCommand>& commands) { inbox.Drain(now, commands); }
  void Answer(std::vector<OscAnswer>& answers);
  // Said once per address and reason, as the decoder's refusals are.
  void Refuse(std::vector<OscRefusal>& refusals);
  void Publish(const ShowState& state) { changes.Publish(state); }

  // The web server's port and the remote page's address (for tests and the
  // start-up lines); with the page served, its address as a QR code for the
  // terminal.
  int WebPort() const;
  std::string RemoteUrl() const;
  std::vector<std::string> RemoteQrCode() const;

 private:
  OscInbox inbox;
  OscQueryTree tree;
  ShowChanges changes;
  std::unique_ptr<OscListener> osc;
  std::unique_ptr<ShowService> web;
};

}  // namespace tool

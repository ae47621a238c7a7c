// Where OSC packets from every transport wait for the frame loop: the UDP
// listener's datagrams and the WebSockets' binary messages alike are
// decoded here (OscMessages.h), checked and queued in one line; the frame
// loop drains them at the start of its next frame, in arrival order. A bundle's messages
// wait for its time tag (at most a minute ahead). Presets named by OSC are
// read here, on the transport's thread, through the bounded reader, so that
// no file can stall a frame.
//
// Bad messages (unknown address, wrong type or count, NaN or infinity,
// oversized, not OSC) are dropped with one line per address and reason, for
// a bounded number of them, their text made printable. The queue is bounded,
// so a flood cannot make the frame loop stall or memory grow.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "formats/OscMessages.h"
#include "formats/ParameterNames.h"

namespace tool {

class OscInbox {
 public:
  explicit OscInbox(const ParameterNames& names) : names(names) {}

  // Decodes one packet of `size` bytes (the buffer may be changed) and queues
  // what it asks; `sender` is where a query's answer goes (empty: nowhere);
  // `transport` names the way in, in the lines it says ("OSC", "remote").
  void Take(char* data, size_t size, const std::string& sender, const char* transport);
  // The commands due by `now` (steady-clock seconds), oldest first; later
  // ones wait.
  void Drain(double now, std::vector<OscCommand>& commands);

 private:
  // One line per address and reason, the first time it goes wrong.
  void Drop(const char* transport, const std::string& address, const std::string& why);

  const ParameterNames& names;
  std::mutex mutex;
  std::deque<OscCommand> queue;
  std::set<std::string> toldOf;  // address and reason of the bad messages told
  size_t untold = 0;
  size_t dropped = 0;
};

}  // namespace tool

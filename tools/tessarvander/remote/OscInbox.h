// Where OSC packets from every transport wait for the frame loop: the UDP
// port's datagrams and the WebSockets' binary messages alike are decoded
// here (OscMessages.h), checked and queued in one line; the frame loop
// drains them at the start of its next frame, in arrival order. A bundle's
// messages wait for its time tag (at most a minute ahead). Presets named by
// OSC are read here, on the transport's thread, through the bounded reader,
// so that no file can stall a frame.
//
// Bounded per sender, so one controller cannot shut out the others: what
// one sender has waiting may take at most kSenderBytes (a flood of ten
// thousand messages between two frames fits), of which at most
// kSenderScheduled commands wait for a later time tag; all together at most
// kTotalBytes, and kTotalScheduled for later, so that commands for later
// never crowd out those due now. A sender over its budget loses its own
// messages, said once.
// The queue keeps the command as resolved, not the address as sent (but
// for a question's, which its answer goes back on).
//
// Bad messages (unknown address, wrong type or count, NaN or infinity,
// oversized, not OSC), and requests that fail when the frame loop applies
// them, are said once per address and reason, for a bounded number of
// kinds, their text made printable.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "formats/OscMessages.h"
#include "formats/ParameterNames.h"
#include "sys/SaidOnce.h"

namespace tool {

class OscInbox {
 public:
  static constexpr size_t kSenderBytes = 4u << 20;
  static constexpr size_t kSenderScheduled = 256;
  static constexpr size_t kTotalBytes = 16u << 20;
  static constexpr size_t kTotalScheduled = 4096;

  explicit OscInbox(const ParameterNames& names) : names(names) {}

  // Decodes one packet of `size` bytes (the buffer may be changed) and
  // queues what it asks. `replyTo` is where a question's answer goes (a
  // socket address as bytes; empty: nowhere), `from` whose budget it counts
  // against, `transport` the way in, for the lines it says ("OSC",
  // "remote").
  void Take(char* data, size_t size, const std::string& replyTo, const std::string& from, const char* transport);
  // The commands due by `now` (steady-clock seconds), oldest first; later
  // ones wait.
  void Drain(double now, std::vector<OscCommand>& commands);
  // A request that failed where it was applied: said once per address and
  // reason, as the decoder's refusals are.
  void Refused(const char* transport, const std::string& address, const std::string& why);

 private:
  struct Waiting {
    OscCommand command;
    std::string from;
    size_t bytes;
    bool scheduled;
  };
  struct Budget {
    size_t bytes = 0, scheduled = 0;
  };

  const ParameterNames& names;
  std::mutex mutex;
  std::deque<Waiting> queue;
  std::map<std::string, Budget> senders;  // those with commands waiting
  size_t totalBytes = 0, totalScheduled = 0;
  SaidOnce said;
  SaidOnce overBudget{8};  // senders told they send too much
};

}  // namespace tool

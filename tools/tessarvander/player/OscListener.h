// OSC control for `tessarvander play`: a UDP socket of its own, read on a
// thread of its own, messages decoded (OscMessages.h) and queued for the
// frame loop, which applies them at the start of its next frame, in arrival
// order. Presets named by OSC are read on this thread, through the bounded
// reader, so that no file can stall a frame.
//
// Bad messages (unknown address, wrong type or count, NaN or infinity,
// oversized, not OSC) are dropped with one line per address, for a bounded
// number of addresses, their text made printable. The queue is bounded, so a
// flood cannot make the frame loop stall or memory grow.
//
// The socket is bound by this class, not by liblo, whose servers listen on
// every interface: by default only this machine can reach it.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "player/OscMessages.h"
#include "session/ParameterControls.h"

namespace cli {

class OscListener {
 public:
  explicit OscListener(const ParameterControls& names) : names(names) {}
  ~OscListener();
  OscListener(const OscListener&) = delete;
  OscListener& operator=(const OscListener&) = delete;

  // Binds host:port (UDP) and starts listening. False with a reason.
  bool Start(const std::string& host, int port, std::string& error);
  // The commands received since the last call, oldest first.
  void Drain(std::vector<OscCommand>& commands);
  // The parameter values that queries are answered with, by index.
  void Publish(const std::vector<float>& values);

 private:
  void Listen();
  void Handle(char* data, size_t size, const sockaddr_storage& sender, socklen_t senderLength);
  void Answer(const std::string& address, float value, const sockaddr_storage& sender, socklen_t senderLength);
  // One line per address, the first time it goes wrong.
  void Drop(const std::string& address, const std::string& why);

  const ParameterControls& names;
  int socketFd = -1;
  std::atomic<bool> stopping{false};
  std::thread thread;

  std::mutex mutex;
  std::deque<OscCommand> queue;
  std::vector<float> published;
  std::set<std::string> told;  // addresses whose bad messages were told
  size_t untold = 0;
  size_t dropped = 0;
};

}  // namespace cli

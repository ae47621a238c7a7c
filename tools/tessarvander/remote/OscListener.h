// OSC control for `tessarvander play`: a UDP socket of its own, read on a
// thread of its own, messages and bundles decoded (OscMessages.h) and queued
// for the frame loop, which applies them at the start of its next frame, in
// arrival order: a query is answered there too, after the messages before
// it, so a set followed by a query answers the new value. A bundle's
// messages wait for its time tag (at most a minute ahead). Presets named by
// OSC are read on this thread, through the bounded reader, so that no file
// can stall a frame. With --osc-reply, every change of a value, whatever its
// source, is sent to a controller.
//
// Bad messages (unknown address, wrong type or count, NaN or infinity,
// oversized, not OSC) are dropped with one line per address and reason, for
// a bounded number of them, their text made printable. The queue is bounded, so a
// flood cannot make the frame loop stall or memory grow.
//
// The socket is bound by this class, not by liblo, whose servers listen on
// every interface: by default only this machine can reach it.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "formats/OscMessages.h"
#include "formats/ParameterControls.h"
#include "remote/OscInbox.h"

namespace tool {

class OscListener {
 public:
  explicit OscListener(const ParameterNames& names) : names(names), inbox(names, "OSC") {}
  ~OscListener();
  OscListener(const OscListener&) = delete;
  OscListener& operator=(const OscListener&) = delete;

  // Binds host:port (UDP) and starts listening. False with a reason.
  bool Start(const std::string& host, int port, std::string& error);
  // The commands due by `now` (steady-clock seconds), oldest first; later
  // ones wait.
  void Drain(double now, std::vector<OscCommand>& commands) { inbox.Drain(now, commands); }
  // Answers a query to its sender, on its own address.
  void Answer(const OscCommand& query, float value);
  // Where changes go (--osc-reply HOST:PORT). False with a reason.
  bool ReplyTo(const std::string& hostAndPort, std::string& error);
  // Sends every value that changed since the last call, whatever changed
  // it, as /tessarvander/param/NAME f to the reply address.
  void ReportChanges(const std::vector<float>& values);

 private:
  void Listen();
  void Send(const std::string& address, float value, const sockaddr* to, socklen_t length);

  const ParameterNames& names;
  OscInbox inbox;
  int socketFd = -1;
  std::atomic<bool> stopping{false};
  std::thread thread;

  sockaddr_storage replyAddress{};
  socklen_t replyLength = 0;
  std::vector<float> reported;  // the values last sent to the reply address
};

}  // namespace tool

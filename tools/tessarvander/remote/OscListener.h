// The show's UDP port for OSC: a socket of its own, served by a thread of
// its own. What arrives goes to the inbox (OscInbox.h), where the frame loop
// takes it; what goes out (answers to questions, and with --osc-reply every
// change of a parameter, whatever made it) is handed to this thread, which
// sends it, so the frame loop never touches the socket.
//
// The socket is bound by this class, not by liblo, whose servers listen on
// every interface: by default only this machine can reach it.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include "remote/OscInbox.h"
#include "remote/ShowChanges.h"
#include "sys/Handoff.h"
#include "sys/HostAndPort.h"

namespace tool {

class OscListener {
 public:
  // Answers waiting to go out: far more than a pass of the frame loop makes.
  static constexpr size_t kMaxWaiting = 1024;
  static constexpr size_t kMaxWaitingBytes = 256 * 1024;

  OscListener(OscInbox& inbox, const ShowChanges& changes)
      : inbox(inbox), changes(changes), outgoing(kMaxWaiting, kMaxWaitingBytes) {}
  ~OscListener();
  OscListener(const OscListener&) = delete;
  OscListener& operator=(const OscListener&) = delete;

  // Every parameter's changes go to `address` too (--osc-reply); before
  // Start. False with a reason when no socket can reach it.
  bool ReplyTo(const SocketAddress& address, std::string& error);
  // Binds host:port (UDP) and starts the thread. False with a reason.
  bool Start(const std::string& host, int port, std::string& error);
  // A message for `sender` (a socket address, as bytes), sent by the
  // thread; dropped when too many wait. Never waits.
  void Send(std::string sender, std::string message);

 private:
  void Serve();
  // One datagram into the inbox; false when none waits.
  bool Receive(std::string& buffer);
  void SendWaiting();
  void SendTo(int fd, const std::string& message, const sockaddr* to, socklen_t length) const;

  OscInbox& inbox;
  const ShowChanges& changes;
  int socketFd = -1;
  std::atomic<bool> stopping{false};
  std::thread thread;
  Handoff<std::pair<std::string, std::string>> outgoing;  // (sender, message)
  int replyFd = -1;  // a socket of the reply address's own family
  SocketAddress reply;
  ShowChanges::Follower replyFollows;
};

}  // namespace tool

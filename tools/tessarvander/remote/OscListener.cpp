#include "remote/OscListener.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "remote/WebLimits.h"

namespace tool {
namespace {

// Datagrams taken in one go before what waits to go out is sent.
constexpr int kMostReceivedAtOnce = 64;

}  // namespace

OscListener::~OscListener() {
  stopping = true;
  outgoing.Close();
  if (thread.joinable()) thread.join();
  if (socketFd >= 0) close(socketFd);
  if (replyFd >= 0) close(replyFd);
}

bool OscListener::ReplyTo(const SocketAddress& address, std::string& error) {
  reply = address;
  replyFd = socket(reply.address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (replyFd < 0) {
    error = std::string("--osc-reply: no socket for its address: ") + std::strerror(errno);
    return false;
  }
  changes.FollowParameters(replyFollows);
  return true;
}

bool OscListener::Start(const std::string& host, int port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (resolved != 0) {
    error = "--osc-host: cannot resolve " + host + ": " + gai_strerror(resolved);
    return false;
  }
  for (addrinfo* candidate = found; candidate; candidate = candidate->ai_next) {
    socketFd = socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC, candidate->ai_protocol);
    if (socketFd < 0) continue;
    // Room for a burst of a few seconds of a flood while a frame draws.
    const int receiveBuffer = 4 << 20;
    setsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (bind(socketFd, candidate->ai_addr, candidate->ai_addrlen) == 0) break;
    close(socketFd);
    socketFd = -1;
  }
  freeaddrinfo(found);
  if (socketFd < 0) {
    error = "--osc: cannot listen on " + host + " port " + service + ": " + std::strerror(errno);
    return false;
  }
  outgoing.WakeFd();  // before anything is offered
  thread = std::thread([this] { Serve(); });
  return true;
}

void OscListener::Send(std::string sender, std::string message) {
  const size_t bytes = sender.size() + message.size();
  outgoing.Offer({std::move(sender), std::move(message)}, bytes);
}

// Until stopped: what arrives, what waits to go out, and every push
// interval the changes the reply address follows.
void OscListener::Serve() {
  std::string buffer(kMaxOscMessageBytes + 1, '\0');
  std::vector<std::string> changed;
  using Clock = std::chrono::steady_clock;
  Clock::time_point nextPush = Clock::now();
  while (!stopping) {
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextPush - Clock::now());
    pollfd waiting[2] = {{socketFd, POLLIN, 0}, {outgoing.WakeFd(), POLLIN, 0}};
    if (poll(waiting, 2, static_cast<int>(std::max<long>(0, wait.count()))) > 0 && (waiting[0].revents & POLLIN))
      for (int k = 0; k < kMostReceivedAtOnce && Receive(buffer); ++k) {}
    SendWaiting();
    if (Clock::now() < nextPush) continue;
    nextPush = Clock::now() + web::kPushInterval;
    if (replyFd < 0) continue;
    changes.Take(replyFollows, changed);
    for (const std::string& message : changed)
      SendTo(replyFd, message, reinterpret_cast<const sockaddr*>(&reply.address), reply.length);
  }
}

bool OscListener::Receive(std::string& buffer) {
  sockaddr_storage sender{};
  socklen_t senderLength = sizeof sender;
  const ssize_t received = recvfrom(socketFd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&sender), &senderLength);
  if (received < 0) return false;
  const std::string from(reinterpret_cast<const char*>(&sender), senderLength);
  inbox.Take(buffer.data(), static_cast<size_t>(received), from, from, "OSC");
  return true;
}

void OscListener::SendWaiting() {
  std::deque<std::pair<std::string, std::string>> waiting;
  outgoing.Take(waiting, std::chrono::milliseconds(0));
  for (const auto& [sender, message] : waiting) {
    if (sender.empty() || sender.size() > sizeof(sockaddr_storage)) continue;
    sockaddr_storage to{};
    std::memcpy(&to, sender.data(), sender.size());
    SendTo(socketFd, message, reinterpret_cast<const sockaddr*>(&to), static_cast<socklen_t>(sender.size()));
  }
}

void OscListener::SendTo(int fd, const std::string& message, const sockaddr* to, socklen_t length) const {
  if (!message.empty()) sendto(fd, message.data(), message.size(), MSG_DONTWAIT, to, length);
}

}  // namespace tool

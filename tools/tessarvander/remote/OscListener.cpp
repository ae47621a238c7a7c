#include "remote/OscListener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "sys/Messages.h"

namespace tool {
namespace {

constexpr int kPollMilliseconds = 100;

}  // namespace

OscListener::~OscListener() {
  stopping = true;
  if (thread.joinable()) thread.join();
  if (socketFd >= 0) close(socketFd);
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
    socketFd = socket(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol);
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
  thread = std::thread([this] { Listen(); });
  return true;
}

void OscListener::Listen() {
  std::vector<char> buffer(kMaxOscMessageBytes + 1);
  while (!stopping) {
    pollfd waiting{socketFd, POLLIN, 0};
    if (poll(&waiting, 1, kPollMilliseconds) <= 0) continue;
    sockaddr_storage sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t received = recvfrom(socketFd, buffer.data(), buffer.size(), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) continue;
    inbox.Take(buffer.data(), static_cast<size_t>(received),
               std::string(reinterpret_cast<const char*>(&sender), senderLength));
  }
}

void OscListener::Send(const std::string& address, float value, const sockaddr* to, socklen_t length) {
  const std::string message = EncodeOsc(address, value);
  if (!message.empty()) sendto(socketFd, message.data(), message.size(), 0, to, length);
}

void OscListener::Answer(const OscCommand& query, float value) {
  if (query.sender.empty() || query.sender.size() > sizeof(sockaddr_storage)) return;
  sockaddr_storage to{};
  std::memcpy(&to, query.sender.data(), query.sender.size());
  Send(query.address, value, reinterpret_cast<const sockaddr*>(&to), static_cast<socklen_t>(query.sender.size()));
}

bool OscListener::ReplyTo(const std::string& hostAndPort, std::string& error) {
  const size_t colon = hostAndPort.rfind(':');
  const std::string host = colon == std::string::npos ? "" : hostAndPort.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : hostAndPort.substr(colon + 1);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  // getaddrinfo takes any number for a port and wraps it: 1 to 65535 only.
  const bool portIsNumber = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos &&
                            std::stol(port) >= 1 && std::stol(port) <= 65535;
  if (host.empty() || !portIsNumber || getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
    error = "--osc-reply: \"" + Printable(hostAndPort, 80) + "\" is not HOST:PORT of a reachable host";
    return false;
  }
  std::memcpy(&replyAddress, found->ai_addr, found->ai_addrlen);
  replyLength = found->ai_addrlen;
  freeaddrinfo(found);
  return true;
}

void OscListener::ReportChanges(const std::vector<float>& values) {
  if (replyLength == 0) return;
  reported.resize(values.size(), NAN);
  for (uint32_t index = 0; index < values.size(); ++index) {
    if (values[index] == reported[index]) continue;
    Send("/tessarvander/param/" + OscName(names.NameOf(index)), values[index],
         reinterpret_cast<const sockaddr*>(&replyAddress), replyLength);
    reported[index] = values[index];
  }
}

}  // namespace tool

#include "player/OscListener.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "formats/Presets.h"
#include "sys/Messages.h"
#include "sys/SteadyClock.h"

namespace tool {
namespace {

// About four seconds of a flood of 10,000 messages a second.
constexpr size_t kMaxQueued = 40000;
constexpr int kPollMilliseconds = 100;
// Bad messages are told once per address, for this many addresses; the rest
// are counted, so that a flood of new addresses costs neither memory nor a
// screenful of lines.
constexpr size_t kMaxToldAddresses = 32;
// A bundle may wait for its time tag this long, no longer.
constexpr double kLatestTimeTagSeconds = 60.0;

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
    Handle(buffer.data(), static_cast<size_t>(received), sender, senderLength);
  }
}

namespace {

// When a time tag falls due, in steady-clock seconds: NTP time (seconds
// since 1900, a 32-bit fraction) against the wall clock now.
double DueAt(uint64_t timeTag) {
  if (timeTag == kOscImmediately) return 0.0;
  constexpr double kNtpToUnix = 2208988800.0;
  const double wall = static_cast<double>(timeTag >> 32) - kNtpToUnix + static_cast<double>(timeTag & 0xffffffffu) / 4294967296.0;
  const double nowWall = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  const double nowSteady = SteadySeconds();
  return nowSteady + std::max(0.0, wall - nowWall);
}

}  // namespace

void OscListener::Handle(char* data, size_t size, const sockaddr_storage& sender, socklen_t senderLength) {
  for (OscDecoded& decoded : DecodeOscPacket(data, size, names)) {
    if (!decoded.ok) {
      Drop(decoded.address, decoded.why);
      continue;
    }
    OscCommand& command = decoded.command;
    command.address = decoded.address;
    command.sender.assign(reinterpret_cast<const char*>(&sender), senderLength);
    command.dueAt = DueAt(decoded.timeTag);
    const double nowSteady = SteadySeconds();
    if (command.dueAt > nowSteady + kLatestTimeTagSeconds) {
      Drop(decoded.address, "a time tag more than a minute ahead");
      continue;
    }
    // A preset is read here, off the frame thread, through the bounded
    // reader: the frame loop only applies its values.
    if (command.kind == OscKind::LoadPreset) {
      std::string error;
      if (!LoadPreset(command.text, names, command.values, error)) {
        Drop(decoded.address, error);
        continue;
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (queue.size() >= kMaxQueued) {
      ++dropped;
      if (dropped == 1)
        Warn("OSC: more than " + std::to_string(kMaxQueued) + " messages waiting for the next frame; dropping the rest");
      continue;
    }
    queue.push_back(std::move(command));
  }
}

void OscListener::Send(const std::string& address, float value, const sockaddr* to, socklen_t length) {
  lo_message reply = lo_message_new();
  lo_message_add_float(reply, value);
  size_t size = 0;
  void* bytes = lo_message_serialise(reply, address.c_str(), nullptr, &size);
  if (bytes) {
    sendto(socketFd, bytes, size, 0, to, length);
    std::free(bytes);
  }
  lo_message_free(reply);
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

void OscListener::Drop(const std::string& address, const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex);
  const std::string told = address + '\n' + why;  // each reason for each address, once
  if (toldOf.count(told)) return;
  if (toldOf.size() >= kMaxToldAddresses) {
    if (++untold == 1)
      Warn("OSC: bad messages of more than " + std::to_string(kMaxToldAddresses) +
           " kinds; the rest are dropped without a line");
    return;
  }
  toldOf.insert(told);
  Warn("OSC: dropped " + Printable(address, 80) + ": " + Printable(why, 300) +
       " (later ones like it are dropped without a line)");
}

void OscListener::Drain(double now, std::vector<OscCommand>& commands) {
  commands.clear();
  std::lock_guard<std::mutex> lock(mutex);
  // The due ones out in order; the waiting ones close up behind them.
  size_t kept = 0;
  for (size_t i = 0; i < queue.size(); ++i) {
    if (queue[i].dueAt <= now) commands.push_back(std::move(queue[i]));
    else if (kept++ != i) queue[kept - 1] = std::move(queue[i]);
  }
  queue.resize(kept);
}

}  // namespace tool

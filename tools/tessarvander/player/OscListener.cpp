#include "player/OscListener.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "documents/Presets.h"
#include "sys/Messages.h"

namespace cli {
namespace {

// About four seconds of a flood of 10,000 messages a second.
constexpr size_t kMaxQueued = 40000;
constexpr int kPollMilliseconds = 100;
// Bad messages are told once per address, for this many addresses; the rest
// are counted, so that a flood of new addresses costs neither memory nor a
// screenful of lines.
constexpr size_t kMaxToldAddresses = 32;

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

void OscListener::Handle(char* data, size_t size, const sockaddr_storage& sender, socklen_t senderLength) {
  OscDecoded decoded = DecodeOsc(data, size, names);
  if (!decoded.ok) {
    Drop(decoded.address, decoded.why);
    return;
  }
  OscCommand& command = decoded.command;
  if (command.kind == OscCommand::Query) {
    float value = NAN;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (command.index < published.size()) value = published[command.index];
    }
    Answer(decoded.address, value, sender, senderLength);
    return;
  }
  // A preset is read here, off the frame thread, through the bounded reader:
  // the frame loop only applies its values.
  if (command.kind == OscCommand::LoadPreset) {
    std::string error;
    if (!LoadPreset(command.text, names, command.values, error)) {
      Drop(decoded.address, error);
      return;
    }
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (queue.size() >= kMaxQueued) {
    ++dropped;
    if (dropped == 1)
      Warn("OSC: more than " + std::to_string(kMaxQueued) + " messages waiting for the next frame; dropping the rest");
    return;
  }
  queue.push_back(std::move(command));
}

void OscListener::Answer(const std::string& address, float value, const sockaddr_storage& sender,
                         socklen_t senderLength) {
  lo_message reply = lo_message_new();
  lo_message_add_float(reply, value);
  size_t length = 0;
  void* bytes = lo_message_serialise(reply, address.c_str(), nullptr, &length);
  if (bytes) {
    sendto(socketFd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&sender), senderLength);
    std::free(bytes);
  }
  lo_message_free(reply);
}

void OscListener::Drop(const std::string& address, const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex);
  if (told.count(address)) return;
  if (told.size() >= kMaxToldAddresses) {
    if (++untold == 1)
      Warn("OSC: bad messages to more than " + std::to_string(kMaxToldAddresses) +
           " addresses; the rest are dropped without a line");
    return;
  }
  told.insert(address);
  Warn("OSC: dropped " + Printable(address, 80) + ": " + Printable(why, 300) +
       " (later bad messages to it are dropped without a line)");
}

void OscListener::Drain(std::vector<OscCommand>& commands) {
  std::lock_guard<std::mutex> lock(mutex);
  commands.assign(std::make_move_iterator(queue.begin()), std::make_move_iterator(queue.end()));
  queue.clear();
}

void OscListener::Publish(const std::vector<float>& values) {
  std::lock_guard<std::mutex> lock(mutex);
  published = values;
}

}  // namespace cli

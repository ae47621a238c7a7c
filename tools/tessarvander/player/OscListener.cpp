#include "player/OscListener.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace cli {
namespace {

constexpr const char* kPrefix = "/tessarvander/";
// Far above any message of this vocabulary; larger datagrams are dropped.
constexpr size_t kMaxMessageBytes = 4096;
// About four seconds of a flood of 10,000 messages a second.
constexpr size_t kMaxQueued = 40000;
constexpr int kPollMilliseconds = 100;

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

// A number argument as a float: f, d, i or h.
bool NumberArgument(char type, lo_arg* argument, double& value) {
  switch (type) {
    case LO_FLOAT:
      value = argument->f;
      return true;
    case LO_DOUBLE:
      value = argument->d;
      return true;
    case LO_INT32:
      value = argument->i;
      return true;
    case LO_INT64:
      value = static_cast<double>(argument->h);
      return true;
    default:
      return false;
  }
}

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
  std::vector<char> buffer(kMaxMessageBytes + 1);
  while (!stopping) {
    pollfd waiting{socketFd, POLLIN, 0};
    if (poll(&waiting, 1, kPollMilliseconds) <= 0) continue;
    sockaddr_storage sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t received = recvfrom(socketFd, buffer.data(), buffer.size(), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) continue;
    if (static_cast<size_t>(received) > kMaxMessageBytes) {
      Drop("(oversized)", "a message of " + std::to_string(received) + " bytes, above " +
                              std::to_string(kMaxMessageBytes));
      continue;
    }
    Handle(buffer.data(), static_cast<size_t>(received), sender, senderLength);
  }
}

void OscListener::Handle(char* data, size_t size, const sockaddr_storage& sender, socklen_t senderLength) {
  int result = 0;
  lo_message message = lo_message_deserialise(data, size, &result);
  if (!message) {
    const char* path = lo_get_path(data, static_cast<ssize_t>(size));
    Drop(path ? path : "(not OSC)", "not a well-formed OSC message");
    return;
  }
  const std::string address = lo_get_path(data, static_cast<ssize_t>(size));
  const std::string types = lo_message_get_types(message) ? lo_message_get_types(message) : "";
  lo_arg** arguments = lo_message_get_argv(message);

  OscCommand command;
  bool ok = false;
  std::string why = "unknown address";
  const std::string parameterPrefix = std::string(kPrefix) + "param/";
  if (StartsWith(address, parameterPrefix)) {
    const std::string name = address.substr(parameterPrefix.size());
    std::string unknown;
    if (!names.Resolve(name, command.index, unknown)) {
      why = "no parameter \"" + name + "\"";
    } else if (types.empty()) {
      float value = NAN;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (command.index < published.size()) value = published[command.index];
      }
      Answer(address, value, sender, senderLength);
      lo_message_free(message);
      return;
    } else {
      double value = 0.0;
      if (types.size() != 1 || !NumberArgument(types[0], arguments[0], value)) {
        why = "takes one number, not \"" + types + "\"";
      } else if (!std::isfinite(value) || std::fabs(value) > 3.0e38) {
        why = "the value is not a finite 32-bit number";
      } else {
        command.kind = OscCommand::SetParameter;
        command.value = static_cast<float>(value);
        ok = true;
      }
    }
  } else if (address == std::string(kPrefix) + "preset/load" || address == std::string(kPrefix) + "still") {
    if (types != "s") {
      why = "takes one string, a file path";
    } else {
      command.kind = address == std::string(kPrefix) + "still" ? OscCommand::Still : OscCommand::LoadPreset;
      command.path = &arguments[0]->s;
      ok = true;
    }
  } else if (address == std::string(kPrefix) + "pause" || address == std::string(kPrefix) + "play") {
    if (!types.empty()) {
      why = "takes no arguments";
    } else {
      command.kind = address == std::string(kPrefix) + "pause" ? OscCommand::Pause : OscCommand::Play;
      ok = true;
    }
  }
  lo_message_free(message);
  if (!ok) {
    Drop(address, why);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (queue.size() >= kMaxQueued) {
    if (logged.insert("(flood)").second)
      std::fprintf(stderr, "tessarvander: OSC: more than %zu messages waiting for the next frame; dropping the rest\n",
                   kMaxQueued);
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
  if (!logged.insert(address).second) return;
  std::fprintf(stderr, "tessarvander: OSC: dropped %s: %s (later bad messages to it are dropped without a line)\n",
               address.c_str(), why.c_str());
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

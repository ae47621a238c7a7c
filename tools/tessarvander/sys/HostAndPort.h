// Network addresses as the command line gives them, one reader for every
// option that takes one: "PORT", "HOST:PORT" and "[IPv6]:PORT" (a host
// name, an IPv4 or a bracketed IPv6 address).
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

namespace tool {

// The host (left as it is when the text gives none) and a port from 1 to
// 65535. False for anything else: an empty host before a colon, an IPv6
// address without brackets, a port that is not a plain number in range.
bool ParseHostAndPort(const std::string& text, std::string& host, int& port);
// "127.0.0.1:9000", "[::1]:9000": the host and port written back, for URLs
// and messages.
std::string HostAndPortText(const std::string& host, int port);
// Whether a host given to listen on or send to is this machine only
// (127.x.x.x, ::1, localhost).
bool IsLoopback(const std::string& host);
// Where others reach a server listening on `host`: the host itself, or, for
// a wildcard (0.0.0.0, ::), every address of this machine's interfaces that
// is up, those of the network first and this machine's own (127.0.0.1, ::1)
// last. Never a wildcard.
std::vector<std::string> ReachableAddresses(const std::string& host);

// A socket address for UDP to HOST:PORT (looked up by name when it is one).
// False with one line naming the option.
struct SocketAddress {
  sockaddr_storage address{};
  socklen_t length = 0;
};
bool ResolveUdpAddress(const std::string& option, const std::string& hostAndPort, SocketAddress& resolved,
                       std::string& error);

}  // namespace tool

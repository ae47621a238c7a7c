#include "sys/HostAndPort.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "sys/Messages.h"

namespace tool {

bool ParseHostAndPort(const std::string& text, std::string& host, int& port) {
  std::string hostPart, portPart = text;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find("]:");
    if (close == std::string::npos || close == 1) return false;
    hostPart = text.substr(1, close - 1);
    portPart = text.substr(close + 2);
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    hostPart = text.substr(0, colon);
    portPart = text.substr(colon + 1);
    if (hostPart.empty() || hostPart.find(':') != std::string::npos) return false;
  }
  if (portPart.empty() || portPart.size() > 5 || portPart.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int number = std::stoi(portPart);
  if (number < 1 || number > 65535) return false;
  if (!hostPart.empty()) host = hostPart;
  port = number;
  return true;
}

std::string HostAndPortText(const std::string& host, int port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsLoopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

bool ResolveUdpAddress(const std::string& option, const std::string& hostAndPort, SocketAddress& resolved,
                       std::string& error) {
  std::string host;
  int port = 0;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (!ParseHostAndPort(hostAndPort, host, port) || host.empty() ||
      getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    error = option + ": \"" + Printable(hostAndPort, 80) + "\" is not HOST:PORT of a reachable host";
    return false;
  }
  std::memcpy(&resolved.address, found->ai_addr, found->ai_addrlen);
  resolved.length = found->ai_addrlen;
  freeaddrinfo(found);
  return true;
}

std::vector<std::string> ReachableAddresses(const std::string& host) {
  if (host != "0.0.0.0" && host != "::") return {host};
  std::vector<std::string> network, own;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) == 0) {
    for (const ifaddrs* at = interfaces; at; at = at->ifa_next) {
      if (!at->ifa_addr || !(at->ifa_flags & IFF_UP)) continue;
      const int family = at->ifa_addr->sa_family;
      // IPv6 only where the server takes it; a link-local one needs its
      // interface named, which a browser's address cannot.
      if (family != AF_INET && !(family == AF_INET6 && host == "::")) continue;
      char text[INET6_ADDRSTRLEN] = {};
      if (family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr, text, sizeof text);
      } else {
        const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr;
        if (IN6_IS_ADDR_LINKLOCAL(&address)) continue;
        inet_ntop(AF_INET6, &address, text, sizeof text);
      }
      std::vector<std::string>& list = IsLoopback(text) ? own : network;
      if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
    }
    freeifaddrs(interfaces);
  }
  if (own.empty()) own.push_back(host == "::" ? "::1" : "127.0.0.1");
  network.insert(network.end(), own.begin(), own.end());
  return network;
}

}  // namespace tool

#include "remote/ShowService.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <nlohmann/json.hpp>

#include "remote/WebAccess.h"
#include "sys/HostAndPort.h"
#include "sys/Messages.h"

namespace tool {

// The page, built in from remote/remote.html.
extern const char* const kRemotePage;

namespace {

// Paths longer than any in the tree are not looked up.
constexpr size_t kLongestPath = 512;

}  // namespace

bool ShowService::Start(const Setup& wanted, std::string& error) {
  setup = wanted;
  if (!IsLoopback(setup.host)) {
    token = web::NewToken();
    if (token.empty()) {
      error = "no random token to guard the remote with";
      return false;
    }
  }
  web::Handlers handlers;
  handlers.answer = [this](const web::Request& request) { return Answer(request); };
  handlers.received = [this](uint64_t socket, bool binary, std::string& message) { Received(socket, binary, message); };
  handlers.closed = [this](uint64_t socket) { closedSockets.push_back(socket); };
  handlers.tick = [this] { Push(); };
  if (!server.Start(setup.host, setup.port, token, std::move(handlers), error)) return false;
  reachableAt = ReachableAddresses(setup.host);
  return true;
}

std::string ShowService::RemoteUrl(size_t address) const {
  return "http://" + HostAndPortText(reachableAt.at(address), server.Port()) + "/remote" +
         (token.empty() ? "" : "?token=" + token);
}

std::vector<std::string> ShowService::Reach() const {
  std::string first = "remote and OSCQuery on " + RemoteUrl();
  if (token.empty()) return {first + " (this machine only" + (setup.readOnly ? ", read only)" : ")")};
  std::vector<std::string> lines = {first + " (from the network, " + (setup.readOnly ? "read only, " : "") +
                                    "with this token only: keep the whole address)"};
  for (size_t address = 1; address < reachableAt.size(); ++address) lines.push_back("  also on " + RemoteUrl(address));
  return lines;
}

web::Answer ShowService::Answer(const web::Request& request) {
  web::Answer answer;
  answer.headers.emplace_back("Cache-Control", "no-store");
  if (request.path == "/remote" || request.path == "/remote/") {
    answer.type = "text/html; charset=utf-8";
    answer.body = kRemotePage;
    // The page runs its own script and talks to this server only (its one
    // picture, the cue's preview, is made from what the socket brought), and
    // is never framed by another page.
    answer.headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                                "connect-src 'self'; img-src blob:; frame-ancestors 'none'");
    return answer;
  }
  // OSCQuery's "?VALUE": an attribute is the query's one bare word.
  const std::string attribute = request.query.find('=') == std::string::npos ? request.query : "";
  if (attribute == "HOST_INFO") {
    nlohmann::ordered_json info;
    info["NAME"] = "Tessarvander";
    if (setup.oscPort > 0) {
      info["OSC_IP"] = request.localAddress;  // as this client reached us: an address it can use
      info["OSC_PORT"] = setup.oscPort;
      info["OSC_TRANSPORT"] = "UDP";
    }
    info["EXTENSIONS"] = {{"TYPE", true},        {"ACCESS", true}, {"VALUE", true},        {"RANGE", true},
                          {"DESCRIPTION", true}, {"LISTEN", true}, {"PATH_CHANGED", false}};
    info["READ_ONLY"] = setup.readOnly;
    answer.type = "application/json";
    answer.body = info.dump();
    return answer;
  }
  const OscQueryTree::Node* node = request.path.size() <= kLongestPath ? tree.Find(request.path) : nullptr;
  if (!node) {
    answer.status = 404;
    return answer;
  }
  answer.body = tree.Describe(*node, attribute, changes.Current(), answer.status);
  if (answer.status == 200) answer.type = "application/json";
  return answer;
}

void ShowService::Received(uint64_t socket, bool binary, std::string& message) {
  if (binary) {
    // OSC, as if it came to the OSC port; a read-only remote changes nothing.
    if (!setup.readOnly) inbox.Take(message.data(), message.size(), "", "socket " + std::to_string(socket), "remote");
    return;
  }
  // {"COMMAND": "LISTEN" or "IGNORE", "DATA": "/tessarvander/param/zoom"}
  const nlohmann::json command = nlohmann::json::parse(message, nullptr, false);
  if (!command.is_object() || !command.contains("COMMAND") || !command.contains("DATA")) return;
  if (!command["COMMAND"].is_string() || !command["DATA"].is_string()) return;
  const std::string path = command["DATA"].get<std::string>();
  const OscQueryTree::Node* node = path.size() <= kLongestPath ? tree.Find(path) : nullptr;
  if (!node || node->source == OscQueryTree::Source::None) return;
  const std::string verb = command["COMMAND"].get<std::string>();
  // The current value goes out at the next push.
  if (verb == "LISTEN") listening[socket].Follow(*node);
  else if (verb == "IGNORE") listening[socket].Ignore(*node);
}

void ShowService::Push() {
  for (uint64_t socket : closedSockets) listening.erase(socket);
  closedSockets.clear();
  for (auto& [socket, follower] : listening) {
    changes.Take(follower, pushed);
    for (std::string& message : pushed) server.Send(socket, true, std::move(message));
  }
}

}  // namespace tool

#include "player/OscQueryServer.h"

#include <httplib.h>

#include <map>
#include <nlohmann/json.hpp>

#include "formats/OscMessages.h"

namespace tool {

// A node of the address space: a container, a parameter (by index) or an
// action (write only).
struct OscQueryServer::Node {
  std::string path;
  std::string description;
  std::string type;  // "f", "i", "s", or empty for a container or an action without arguments
  int access = 0;    // 0 none, 2 write, 3 read and write
  long parameter = -1;
  long health = -1;  // a Health value, read only
  double minimum = 0.0, maximum = 0.0;
  bool ranged = false;
  std::map<std::string, std::unique_ptr<Node>> contents;

  Node& Child(const std::string& name) {
    std::unique_ptr<Node>& child = contents[name];
    if (!child) {
      child = std::make_unique<Node>();
      child->path = (path == "/" ? "" : path) + "/" + name;
    }
    return *child;
  }
};

namespace {

// A served page: small, and never more than a few per second from a sane
// controller; the limits keep a hostile one from holding the threads.
constexpr time_t kReadTimeoutSeconds = 2;
constexpr size_t kLongestPath = 512;

}  // namespace

OscQueryServer::OscQueryServer() = default;

OscQueryServer::~OscQueryServer() {
  if (server) server->stop();
  if (thread.joinable()) thread.join();
}

bool OscQueryServer::Start(const std::string& host, int port, int oscPort,
                           const std::vector<hostkit::ParameterDescription>& parameters,
                           const ParameterProfile& profile, size_t bankSize, std::string& error) {
  root = std::make_unique<Node>();
  root->path = "/";
  Node& player = root->Child("tessarvander");
  player.description = "Tessarvander, played live";
  // Every address of the vocabulary; "param/NAME" stands for a node per
  // parameter, which can also be read.
  for (const OscAddress& address : OscAddresses()) {
    if (address.kind == OscKind::RecallPreset && bankSize == 0) continue;
    Node* parent = &player;
    std::string path = address.path;
    for (size_t slash; (slash = path.find('/')) != std::string::npos; path = path.substr(slash + 1))
      parent = &parent->Child(path.substr(0, slash));
    const char* type = address.arguments == OscArguments::None   ? ""
                       : address.arguments == OscArguments::Text ? "s"
                       : address.arguments == OscArguments::Number ? "f" : "i";
    if (path != "NAME") {
      Node& node = parent->Child(path);
      node.type = type;
      node.access = 2;
      if (address.kind == OscKind::Status) node.type = "f", node.access = 1, node.health = static_cast<long>(address.health);
      node.description = address.help;
      node.ranged = address.minimum <= address.maximum || address.maximum == kBankSize;
      node.minimum = address.minimum;
      node.maximum = address.maximum == kBankSize ? static_cast<double>(bankSize) : address.maximum;
      continue;
    }
    parent->description = "the plugin's parameters";
    for (const hostkit::ParameterDescription& parameter : parameters) {
      Node& node = parent->Child(OscName(parameter.name));
      node.type = type;
      node.access = 3;
      node.parameter = parameter.index;
      node.ranged = true;
      node.minimum = parameter.minimum;
      node.maximum = parameter.maximum;
      node.description = parameter.name;
      std::string choices;
      for (const Choice& choice : profile.Choices(parameter.index))
        choices += (choices.empty() ? "" : ", ") + choice.name;
      if (!choices.empty()) node.description += " (" + choices + ")";
    }
  }
  nlohmann::ordered_json info;
  info["NAME"] = "Tessarvander";
  info["OSC_IP"] = host;
  info["OSC_PORT"] = oscPort;
  info["OSC_TRANSPORT"] = "UDP";
  info["EXTENSIONS"] = {{"TYPE", true},   {"ACCESS", true}, {"VALUE", true},       {"RANGE", true},
                        {"DESCRIPTION", true}, {"LISTEN", false}, {"PATH_CHANGED", false}};
  hostInfo = info.dump();

  server = std::make_unique<httplib::Server>();
  server->set_read_timeout(kReadTimeoutSeconds, 0);
  server->set_write_timeout(kReadTimeoutSeconds, 0);
  server->set_keep_alive_max_count(16);
  server->set_payload_max_length(0);
  server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    int status = 200;
    std::string attribute;
    // "?VALUE" arrives as a parameter with an empty value.
    for (const auto& [name, value] : request.params)
      if (value.empty()) attribute = name;
    if (attribute == "HOST_INFO") {
      response.set_content(hostInfo, "application/json");
      return;
    }
    const Node* node = request.path.size() <= kLongestPath ? Find(request.path) : nullptr;
    const std::string body = node ? Describe(*node, attribute, status) : "";
    response.status = node ? status : 404;
    if (node && status == 200) response.set_content(body, "application/json");
  });
  // Anything but GET is refused: the address space is read here, written over OSC.
  const auto refuse = [](const httplib::Request&, httplib::Response& response) { response.status = 405; };
  server->Post(".*", refuse);
  server->Put(".*", refuse);
  server->Delete(".*", refuse);
  if (!server->bind_to_port(host.c_str(), port)) {
    error = "--oscquery: cannot serve on " + host + " port " + std::to_string(port);
    server.reset();
    return false;
  }
  thread = std::thread([this] { server->listen_after_bind(); });
  return true;
}

const OscQueryServer::Node* OscQueryServer::Find(const std::string& path) const {
  const Node* node = root.get();
  for (size_t start = 1; node && start < path.size();) {
    const size_t slash = std::min(path.find('/', start), path.size());
    const std::string name = path.substr(start, slash - start);
    start = slash + 1;
    if (name.empty()) continue;
    const auto child = node->contents.find(name);
    node = child == node->contents.end() ? nullptr : child->second.get();
  }
  return node;
}

std::string OscQueryServer::Describe(const Node& node, const std::string& attribute, int& status) const {
  // The node's own attributes, then (for the whole node) its contents.
  const std::function<nlohmann::ordered_json(const Node&)> tree = [&](const Node& at) {
    nlohmann::ordered_json json;
    json["FULL_PATH"] = at.path;
    if (!at.description.empty()) json["DESCRIPTION"] = at.description;
    json["ACCESS"] = at.access;
    if (!at.type.empty()) json["TYPE"] = at.type;
    if (at.ranged) json["RANGE"] = nlohmann::ordered_json::array({{{"MIN", at.minimum}, {"MAX", at.maximum}}});
    if (at.parameter >= 0 || at.health >= 0) {
      std::lock_guard<std::mutex> hold(valuesLock);
      const std::vector<float>& from = at.parameter >= 0 ? values : health;
      const size_t index = static_cast<size_t>(at.parameter >= 0 ? at.parameter : at.health);
      if (index < from.size()) json["VALUE"] = nlohmann::ordered_json::array({from[index]});
    }
    if (!at.contents.empty()) {
      json["CONTENTS"] = nlohmann::ordered_json::object();
      for (const auto& [name, child] : at.contents) json["CONTENTS"][name] = tree(*child);
    }
    return json;
  };
  nlohmann::ordered_json json = tree(node);
  if (attribute.empty()) return json.dump();
  if (!json.contains(attribute)) {
    status = 204;  // the convention: the attribute is not there
    return "";
  }
  nlohmann::ordered_json one;
  one[attribute] = json[attribute];
  return one.dump();
}

}  // namespace tool

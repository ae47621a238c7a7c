// OSCQuery for controller apps (play --oscquery PORT): an HTTP server, on the
// OSC listener's address (127.0.0.1 unless --osc-host says otherwise), that
// describes the player's OSC address space as JSON, as the OSCQuery
// convention has it:
//   GET /                                 the whole tree
//   GET /tessarvander/param/zoom          one node: TYPE, RANGE, VALUE,
//                                         DESCRIPTION, ACCESS
//   GET /tessarvander/param/zoom?VALUE    one attribute
//   GET /?HOST_INFO                       the server's name, OSC port and
//                                         which extensions it offers
// A path is only ever looked up in the tree the server built; nothing from
// a request reaches a file or a program. Values are the ones the frame loop
// published last. cpp-httplib has no WebSocket, so there is no LISTEN: a
// controller polls VALUE, or takes --osc-reply.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/PresetBank.h"
#include "formats/ParameterControls.h"
#include "formats/ParameterProfile.h"

namespace httplib {
class Server;
}

namespace tool {

class OscQueryServer {
 public:
  OscQueryServer();
  ~OscQueryServer();
  OscQueryServer(const OscQueryServer&) = delete;
  OscQueryServer& operator=(const OscQueryServer&) = delete;

  // Serves on host:port, describing the parameters and actions reached on
  // the OSC port. False with one line when the port cannot be bound.
  bool Start(const std::string& host, int port, int oscPort,
             const std::vector<hostkit::ParameterDescription>& parameters, const ParameterProfile& profile,
             size_t bankSize, std::string& error);
  // The values answered from now on: the parameters' by index, and the
  // show's health.
  template <class HealthValues>
  void Publish(const std::vector<float>& parameters, const HealthValues& healthValues) {
    std::lock_guard<std::mutex> hold(valuesLock);
    values = parameters;
    health.assign(healthValues.begin(), healthValues.end());
  }

 private:
  struct Node;
  // The node at `path`, or null.
  const Node* Find(const std::string& path) const;
  std::string Describe(const Node& node, const std::string& attribute, int& status) const;

  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  std::unique_ptr<Node> root;
  std::string hostInfo;
  mutable std::mutex valuesLock;
  std::vector<float> values;
  std::vector<float> health;
};

}  // namespace tool

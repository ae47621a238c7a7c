// The player's OSC address space as OSCQuery describes it: a tree built once
// from the OSC vocabulary (OscAddresses.h) and the plugin's parameters, its
// values read from the show as it stands (ShowState). Besides the addresses
// a controller sends to, it holds what a remote shows: each parameter's
// meaning ("6 layers"), the bank's slots, the look last recalled, the
// blackout, the tempo and the beat, all read only.
//
// Paths are only ever looked up in this tree; nothing from a request reaches
// a file or a program. No socket and no thread here.
#pragma once

#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "formats/PluginDescription.h"
#include "formats/OscAddresses.h"
#include "formats/ParameterProfile.h"

namespace tool {

// The show as the frame loop last published it.
struct ShowState {
  std::vector<float> parameters;          // by index
  std::vector<float> health;              // by Health
  bool blackout = false;
  std::vector<std::string> bank;          // each slot's look, "" for an empty one
  std::string look;                       // the look last recalled or loaded
  std::string cued;                       // the look cued to go next, "" for none
  // The cued look's preview as PNG bytes (null for none), and a number
  // that changes with each new picture.
  std::shared_ptr<const std::string> preview;
  uint64_t previewSerial = 0;
};

class OscQueryTree {
 public:
  // Where a node's value comes from.
  enum class Source { None, Parameter, Meaning, Health, Blackout, BankSlot, Look, Cued, Preview };

  struct Node {
    std::string path;
    std::string description;
    std::string type;  // "f", "i", "s", or empty for a container or an action without arguments
    int access = 0;    // 0 none, 1 read, 2 write, 3 both
    Source source = Source::None;
    size_t index = 0;  // the parameter, the Health value or the bank slot
    double minimum = 0.0, maximum = 0.0;
    bool ranged = false;
    // In the order built: the vocabulary's, and the plugin's for parameters.
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> contents;

    Node& Child(const std::string& name);
  };

  OscQueryTree(const std::vector<ParameterDescription>& parameters, const ParameterProfile& profile,
               size_t bankSize);

  // The node at a path ("/tessarvander/param/zoom"), or null.
  const Node* Find(const std::string& path) const;
  // The node as JSON: its attributes and, for the whole node, its contents;
  // or one attribute. `status` is 204 for an attribute the node lacks.
  std::string Describe(const Node& node, const std::string& attribute, const ShowState& state, int& status) const;
  // The node's value as an OSC message to its path, for a listener; empty
  // for a node without one.
  std::string ValueMessage(const Node& node, const ShowState& state) const;

 private:
  const ParameterProfile& profile;
  Node root;
};

}  // namespace tool

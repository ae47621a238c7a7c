#include "remote/OscQueryTree.h"

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>

#include "formats/OscMessages.h"

namespace tool {

OscQueryTree::Node& OscQueryTree::Node::Child(const std::string& name) {
  for (auto& [childName, child] : contents)
    if (childName == name) return *child;
  auto child = std::make_unique<Node>();
  child->path = (path == "/" ? "" : path) + "/" + name;
  contents.emplace_back(name, std::move(child));
  return *contents.back().second;
}

OscQueryTree::OscQueryTree(const std::vector<ParameterDescription>& parameters,
                           const ParameterProfile& profile, size_t bankSize)
    : profile(profile) {
  root.path = "/";
  Node& player = root.Child("tessarvander");
  player.description = "Tessarvander, played live";
  // Every address of the vocabulary; "param/NAME" stands for a node per
  // parameter, which can also be read.
  for (const OscAddress& address : OscAddresses()) {
    if (address.action == PlayerAction::RecallPreset && bankSize == 0) continue;
    Node* parent = &player;
    std::string path = address.path;
    for (size_t slash; (slash = path.find('/')) != std::string::npos; path = path.substr(slash + 1))
      parent = &parent->Child(path.substr(0, slash));
    if (path != "NAME") {
      Node& node = parent->Child(path);
      node.type = OscTypeTag(address.arguments);
      node.access = 2;
      node.description = address.help;
      node.ranged = address.minimum <= address.maximum || address.maximum == kBankSize;
      node.minimum = address.minimum;
      node.maximum = address.maximum == kBankSize ? static_cast<double>(bankSize) : address.maximum;
      if (address.action == PlayerAction::AskStatus) {
        node.type = "f", node.access = 1, node.source = Source::Health;
        node.index = static_cast<size_t>(address.health);
      }
      if (address.action == PlayerAction::SetBlackout) node.access = 3, node.source = Source::Blackout;
      continue;
    }
    parent->description = "the plugin's parameters";
    for (const ParameterDescription& parameter : parameters) {
      Node& node = parent->Child(OscName(parameter.name));
      node.type = OscTypeTag(address.arguments);
      node.access = 3;
      node.source = Source::Parameter;
      node.index = parameter.index;
      node.ranged = true;
      node.minimum = parameter.minimum;
      node.maximum = parameter.maximum;
      node.description = parameter.name;
      std::string choices;
      for (const Choice& choice : profile.Choices(parameter.index))
        choices += (choices.empty() ? "" : ", ") + choice.name;
      if (!choices.empty()) node.description += " (" + choices + ")";
      if (!profile.Known()) continue;
      Node& meaning = node.Child("meaning");
      meaning.type = "s", meaning.access = 1, meaning.source = Source::Meaning, meaning.index = parameter.index;
      meaning.description = "what the value means on screen";
    }
  }
  // What a remote shows besides: the bank's slots and the look on stage.
  Node& bank = player.Child("bank");
  bank.description = "the looks of the bank, by slot from 1 (empty for an empty slot)";
  for (size_t slot = 0; slot < bankSize; ++slot) {
    Node& node = bank.Child(std::to_string(slot + 1));
    node.type = "s", node.access = 1, node.source = Source::BankSlot, node.index = slot;
  }
  Node& look = player.Child("look");
  look.type = "s", look.access = 1, look.source = Source::Look;
  look.description = "the look last recalled or loaded";
  Node& cued = player.Child("cued");
  cued.type = "s", cued.access = 1, cued.source = Source::Cued;
  cued.description = "the look cued to go next (preset/cue, then go), empty for none";
  Node& preview = player.Child("preview");
  preview.type = "b", preview.access = 1, preview.source = Source::Preview;
  preview.description = "the cued look, a small PNG about once a second, to listeners only";
}

const OscQueryTree::Node* OscQueryTree::Find(const std::string& path) const {
  const Node* node = &root;
  for (size_t start = 1; node && start < path.size();) {
    const size_t slash = std::min(path.find('/', start), path.size());
    const std::string name = path.substr(start, slash - start);
    start = slash + 1;
    if (name.empty()) continue;
    const auto child = std::find_if(node->contents.begin(), node->contents.end(),
                                    [&name](const auto& entry) { return entry.first == name; });
    node = child == node->contents.end() ? nullptr : child->second.get();
  }
  return node;
}

namespace {

// A node's value as JSON, or null.
nlohmann::ordered_json ValueOf(const OscQueryTree::Node& node, const ShowState& state,
                               const ParameterProfile& profile) {
  using Source = OscQueryTree::Source;
  const auto at = [](const auto& values, size_t index) -> nlohmann::ordered_json {
    if (index >= values.size()) return nullptr;
    return values[index];
  };
  switch (node.source) {
    case Source::None: return nullptr;
    case Source::Parameter: return at(state.parameters, node.index);
    case Source::Health: return at(state.health, node.index);
    case Source::Blackout: return state.blackout ? 1 : 0;
    case Source::BankSlot: return at(state.bank, node.index);
    case Source::Look: return state.look;
    case Source::Cued: return state.cued;
    case Source::Preview: return nullptr;  // a picture, to listeners only
    case Source::Meaning:
      if (node.index >= state.parameters.size()) return nullptr;
      return profile.Meaning(static_cast<uint32_t>(node.index), state.parameters[node.index]);
  }
  return nullptr;
}

}  // namespace

std::string OscQueryTree::Describe(const Node& node, const std::string& attribute, const ShowState& state,
                                   int& status) const {
  // The node's own attributes, then (for the whole node) its contents.
  const std::function<nlohmann::ordered_json(const Node&)> tree = [&](const Node& at) {
    nlohmann::ordered_json json;
    json["FULL_PATH"] = at.path;
    if (!at.description.empty()) json["DESCRIPTION"] = at.description;
    json["ACCESS"] = at.access;
    if (!at.type.empty()) json["TYPE"] = at.type;
    if (at.ranged) {
      json["RANGE"] = nlohmann::ordered_json::array({{{"MIN", at.minimum}, {"MAX", at.maximum}}});
      // One entry a type: a name after the slot has no range.
      for (size_t more = 1; more < at.type.size(); ++more) json["RANGE"].push_back(nullptr);
    }
    nlohmann::ordered_json value = ValueOf(at, state, profile);
    if (!value.is_null()) json["VALUE"] = nlohmann::ordered_json::array({value});
    if (!at.contents.empty()) {
      json["CONTENTS"] = nlohmann::ordered_json::object();
      for (const auto& [name, child] : at.contents) json["CONTENTS"][name] = tree(*child);
    }
    return json;
  };
  nlohmann::ordered_json json = tree(node);
  status = 200;
  if (attribute.empty()) return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (!json.contains(attribute)) {
    status = 204;  // the convention: the attribute is not there
    return "";
  }
  nlohmann::ordered_json one;
  one[attribute] = json[attribute];
  return one.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string OscQueryTree::ValueMessage(const Node& node, const ShowState& state) const {
  if (node.source == Source::Preview) return state.preview ? EncodeOscBlob(node.path, *state.preview) : "";
  const nlohmann::ordered_json value = ValueOf(node, state, profile);
  if (value.is_string()) return EncodeOsc(node.path, value.get<std::string>());
  if (value.is_number_integer() && node.type == "i") return EncodeOsc(node.path, value.get<int>());
  if (value.is_number()) return EncodeOsc(node.path, value.get<float>());
  return "";
}

}  // namespace tool

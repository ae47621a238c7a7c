// The show as controllers follow it. The frame loop publishes the state
// once a pass; each follower (a WebSocket that asked to LISTEN, the
// --osc-reply address) takes, whenever its transport gets round to it, the
// message of every node it follows whose value changed since it last took
// one. One mechanism for every listener, whatever changed the value.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "remote/OscQueryTree.h"

namespace tool {

class ShowChanges {
 public:
  explicit ShowChanges(const OscQueryTree& tree) : tree(tree) {}

  // From the frame loop: copies a few values under a lock.
  void Publish(const ShowState& state);
  ShowState Current() const;

  // What one follower follows, and the message it was last given for each.
  struct Follower {
    std::map<const OscQueryTree::Node*, std::string> sent;
    void Follow(const OscQueryTree::Node& node) { sent.emplace(&node, ""); }
    void Ignore(const OscQueryTree::Node& node) { sent.erase(&node); }
  };
  // Every parameter's node: what --osc-reply follows.
  void FollowParameters(Follower& follower) const;
  // The messages of the follower's nodes whose values differ from what it
  // was last given (every one, the first time), as OSC to their paths.
  void Take(Follower& follower, std::vector<std::string>& messages) const;

 private:
  const OscQueryTree& tree;
  mutable std::mutex lock;
  ShowState published;
};

}  // namespace tool

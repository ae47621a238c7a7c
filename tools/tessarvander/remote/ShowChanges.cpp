#include "remote/ShowChanges.h"

namespace tool {

void ShowChanges::Publish(const ShowState& state) {
  std::lock_guard<std::mutex> hold(lock);
  published.parameters.assign(state.parameters.begin(), state.parameters.end());
  published.health.assign(state.health.begin(), state.health.end());
  published.blackout = state.blackout;
  if (published.bank != state.bank) published.bank = state.bank;
  if (published.look != state.look) published.look = state.look;
  if (published.cued != state.cued) published.cued = state.cued;
  published.preview = state.preview;
  published.previewSerial = state.previewSerial;
}

ShowState ShowChanges::Current() const {
  std::lock_guard<std::mutex> hold(lock);
  return published;
}

void ShowChanges::FollowParameters(Follower& follower) const {
  const OscQueryTree::Node* parameters = tree.Find(std::string(kOscPrefix) + "param");
  if (!parameters) return;
  for (const auto& [name, node] : parameters->contents)
    if (node->source == OscQueryTree::Source::Parameter) follower.Follow(*node);
}

void ShowChanges::Take(Follower& follower, std::vector<std::string>& messages) const {
  messages.clear();
  if (follower.sent.empty()) return;
  const ShowState state = Current();
  for (auto& [node, sent] : follower.sent) {
    // A picture is told apart by its number, not by its bytes.
    if (node->source == OscQueryTree::Source::Preview) {
      const std::string serial = std::to_string(state.previewSerial);
      if (!state.preview || sent == serial) continue;
      sent = serial;
      messages.push_back(tree.ValueMessage(*node, state));
      continue;
    }
    std::string message = tree.ValueMessage(*node, state);
    if (message.empty() || message == sent) continue;
    sent = message;
    messages.push_back(std::move(message));
  }
}

}  // namespace tool

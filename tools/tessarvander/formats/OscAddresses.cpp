#include "formats/OscAddresses.h"

#include <algorithm>

namespace tool {

const std::vector<OscAddress>& OscAddresses() {
  using P = PlayerAction;
  using A = OscArguments;
  static const std::vector<OscAddress> addresses = {
      {"param/NAME", P::SetParameter, A::Number,
       "set a parameter (by name or index); without a value, answer its value to the sender"},
      {"preset/load", P::LoadPreset, A::Text, "load a preset file"},
      {"preset/recall", P::RecallPreset, A::WholeNumber, "recall a look of the bank, from 1", 1.0, kBankSize},
      {"preset/cue", P::CuePreset, A::WholeNumber, "cue a look of the bank, from 1: it shows in the preview until go",
       1.0, kBankSize},
      {"go", P::Go, A::None, "the cued look goes out, by the chosen transition"},
      {"preset/store", P::StorePreset, A::SlotAndName,
       "store the look into a slot of the bank, from 1, under a name (\"slot N\" without one)", 1.0,
       static_cast<double>(kBankSlots)},
      {"blackout", P::SetBlackout, A::WholeNumber, "1 fades to black, 0 back", 0.0, 1.0},
      {"tap", P::Tap, A::None, "tap the tempo"},
      {"tempo/nudge", P::NudgeTempo, A::Number,
       "1 nudges the beat earlier, -1 later, and pushes on while held; 0 lets go (a push ends by itself after 4 s)",
       -1.0, 1.0},
      {"tempo/one", P::TempoOne, A::None, "the next downbeat is now"},
      {"tempo/halve", P::HalveTempo, A::None, "halve the tempo"},
      {"tempo/double", P::DoubleTempo, A::None, "double the tempo"},
      {"tempo/lock", P::SetTempoLock, A::WholeNumber, "1 holds the tempo against its source, 0 lets the source lead",
       0.0, 1.0},
      {"autopilot", P::SetAutopilot, A::WholeNumber,
       "1: the music changes the looks (each phrase, each new section), 0: the performer alone", 0.0, 1.0},
      {"pause", P::Pause, A::None, "pause the flight"},
      {"play", P::Play, A::None, "play the flight"},
      {"still", P::SaveStill, A::Text, "save the current frame as NAME.png, a new file in --out"},
      {"midi/learn", P::Learn, A::Text,
       "the next MIDI control moved drives this parameter or action (zoom, tap, recall 3, ...)"},
      {"status/frame", P::AskStatus, A::None, "answers the frames of the flight so far", 1, 0, Health::Frame},
      {"status/drawn", P::AskStatus, A::None, "answers the frames drawn a second", 1, 0, Health::DrawnPerSecond},
      {"status/longest-draw", P::AskStatus, A::None, "answers the longest draw of the last minute, in seconds", 1, 0,
       Health::LongestDraw},
      {"status/longest-gap", P::AskStatus, A::None,
       "answers the longest time between two process calls in the last minute, in seconds", 1, 0, Health::LongestGap},
      {"status/memory", P::AskStatus, A::None, "answers the memory the player holds, in MiB", 1, 0, Health::Memory},
      {"status/tempo", P::AskStatus, A::None,
       "answers the tempo in beats a minute, once confirmed (0 before there is one)", 1, 0, Health::Tempo},
      {"status/tempo-changing", P::AskStatus, A::None,
       "answers 1 while a new tempo is heard but not yet confirmed, else 0", 1, 0, Health::TempoChanging},
      {"status/tempo-locked", P::AskStatus, A::None, "answers 1 while the tempo is locked, else 0", 1, 0,
       Health::TempoLocked},
      {"status/autopilot", P::AskStatus, A::None,
       "answers 1 while the autopilot changes the looks, 2 while it waits after a performer's change, else 0", 1, 0,
       Health::Autopilot},
      {"status/beat", P::AskStatus, A::None, "answers the beat of the bar, from 1 (0 before there is a tempo)", 1, 0,
       Health::Beat},
  };
  return addresses;
}

const OscAddress* FindOscAddress(const std::string& address, std::string& name) {
  const std::string prefix = kOscPrefix;
  if (address.rfind(prefix, 0) != 0) return nullptr;
  const std::string path = address.substr(prefix.size());
  for (const OscAddress& row : OscAddresses()) {
    const std::string pattern = row.path;
    const size_t wildcard = pattern.find("NAME");
    if (wildcard == std::string::npos) {
      if (path == pattern) return &row;
    } else if (path.size() > wildcard && path.compare(0, wildcard, pattern, 0, wildcard) == 0) {
      name = path.substr(wildcard);
      return &row;
    }
  }
  return nullptr;
}

std::string OscAddressOf(PlayerAction action) {
  if (action == PlayerAction::QueryParameter) action = PlayerAction::SetParameter;
  for (const OscAddress& row : OscAddresses())
    if (row.action == action) return kOscPrefix + std::string(row.path);
  return kOscPrefix;
}

const char* OscTypeTag(OscArguments arguments) {
  switch (arguments) {
    case OscArguments::None: return "";
    case OscArguments::Text: return "s";
    case OscArguments::Number: return "f";
    case OscArguments::WholeNumber: return "i";
    case OscArguments::SlotAndName: return "is";
  }
  return "";
}

std::string OscSignature(const OscAddress& address) {
  const std::string tag = OscTypeTag(address.arguments);
  return kOscPrefix + std::string(address.path) + (tag.empty() ? "" : " " + tag);
}

std::string OscHelp() {
  size_t widest = 0;
  for (const OscAddress& address : OscAddresses()) widest = std::max(widest, OscSignature(address).size());
  std::string help;
  for (const OscAddress& address : OscAddresses()) {
    std::string signature = OscSignature(address);
    signature.resize(widest + 2, ' ');
    help += "  " + signature + address.help + "\n";
  }
  return help + "  bundles (#bundle) apply their messages together, at their time tag\n";
}

}  // namespace tool

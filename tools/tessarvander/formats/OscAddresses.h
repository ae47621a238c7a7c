// The player's OSC vocabulary: one table that the decoder, the OSCQuery
// tree, `play --help` and the README all follow. Each row names the player's
// action it asks for; adding an address is a row here.
#pragma once

#include <string>
#include <vector>

#include "formats/Actions.h"

namespace tool {

constexpr const char* kOscPrefix = "/tessarvander/";

// What a monitor can ask of the show (OSC /tessarvander/status/..., OSCQuery).
enum class Health { Frame, DrawnPerSecond, LongestDraw, LongestGap, Memory, Tempo, TempoChanging, TempoLocked, Beat, Autopilot, Count };

// The arguments an address takes.
// SlotAndName: a whole number, and a string after it or not.
enum class OscArguments { None, Number, WholeNumber, Text, SlotAndName };

struct OscAddress {
  const char* path;  // after the prefix; "param/NAME" stands for every parameter
  // What a message to it asks; a parameter without a value asks for its value.
  PlayerAction action;
  OscArguments arguments;
  const char* help;  // one line, for --help, OSCQuery's DESCRIPTION and the README
  // For OSCQuery: the range of a number (none when minimum > maximum); a
  // maximum of kBankSize means the bank's size.
  double minimum = 1.0, maximum = 0.0;
  Health health = Health::Count;  // for AskStatus: which
};
constexpr double kBankSize = -1.0;

const std::vector<OscAddress>& OscAddresses();
// The row for a full address ("/tessarvander/param/zoom" finds "param/NAME",
// with "zoom" in `name`), or null.
const OscAddress* FindOscAddress(const std::string& address, std::string& name);
// The address of the first row that asks for `action` ("/tessarvander/tap"),
// or the prefix alone when none does.
std::string OscAddressOf(PlayerAction action);
// The OSC type tag of a row's argument: "", "s", "f" or "i".
const char* OscTypeTag(OscArguments arguments);
// "/tessarvander/still s": an address as typed, with its type tag.
std::string OscSignature(const OscAddress& address);
// Every address and what it does, a line each, for --help and the README.
std::string OscHelp();

}  // namespace tool

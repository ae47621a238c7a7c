// One datagram from a controller, decoded against the player's OSC
// vocabulary (OscAddresses.h): what a message asks for, or why it is
// refused. No socket and no thread here, so the decoder is fuzzed and tested
// on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/OscAddresses.h"
#include "formats/ParameterNames.h"

namespace tool {

// Far above any message of this vocabulary; larger datagrams are refused.
constexpr size_t kMaxOscMessageBytes = 4096;
// A bundle holds at most this many messages, nested at most this deep.
constexpr size_t kMaxOscBundleMessages = 64;
constexpr int kMaxOscBundleDepth = 8;
// The time tag that means "at once".
constexpr uint64_t kOscImmediately = 1;

// A message as the frame loop takes it: the request it makes, when it
// falls due and who sent it.
struct OscCommand {
  PlayerRequest request;
  // Filled on the way in: when it applies (steady-clock seconds, 0 at
  // once), and where an answer goes (the sender's socket address, as bytes).
  double dueAt = 0.0;
  std::string sender;
  // A question's address as it was asked: OSC answers on it.
  std::string address;
};

struct OscDecoded {
  bool ok = false;
  uint64_t timeTag = kOscImmediately;  // NTP time: seconds since 1900 << 32
  std::string address;  // as sent; shown only through Printable
  std::string why;      // when refused
  OscCommand command;
};

// A parameter's name as the player's OSC addresses write it in answers,
// reports and OSCQuery: lower case, spaces as _ ("fractal_type").
std::string OscName(const std::string& displayName);

// One message of one argument, as bytes to send; empty if it cannot be made.
std::string EncodeOsc(const std::string& address, float value);
std::string EncodeOsc(const std::string& address, int value);
std::string EncodeOsc(const std::string& address, const std::string& text);
std::string EncodeOscBlob(const std::string& address, const std::string& bytes);

// Decodes one message of `size` bytes (the buffer may be changed).
OscDecoded DecodeOsc(char* data, size_t size, const ParameterNames& names);
// Decodes one datagram: a message, or a bundle ("#bundle", a time tag, then
// sized elements, bundles among them) whose messages take its time tag.
// At least one entry; a malformed bundle is one refusal.
std::vector<OscDecoded> DecodeOscPacket(char* data, size_t size, const ParameterNames& names);

}  // namespace tool

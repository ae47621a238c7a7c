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

struct OscCommand {
  OscKind kind = OscKind::Pause;
  uint32_t index = 0;  // the parameter, or the preset from 0
  float value = 0.0f;
  std::string text;  // the preset's path, the still's name, what to learn
  std::vector<ParameterValue> values;  // a preset, read
  // Filled by the listener: when it applies (steady-clock seconds, 0 at
  // once), and where a query's answer goes.
  double dueAt = 0.0;
  std::string address;
  std::string sender;  // the sender's socket address, as bytes
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

// Decodes one message of `size` bytes (the buffer may be changed).
OscDecoded DecodeOsc(char* data, size_t size, const ParameterNames& names);
// Decodes one datagram: a message, or a bundle ("#bundle", a time tag, then
// sized elements, bundles among them) whose messages take its time tag.
// At least one entry; a malformed bundle is one refusal.
std::vector<OscDecoded> DecodeOscPacket(char* data, size_t size, const ParameterNames& names);

}  // namespace tool

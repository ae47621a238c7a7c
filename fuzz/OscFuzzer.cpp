// libFuzzer target for the player's OSC decoder: any datagram (a message or a
// bundle) must decode to commands or refusals, a bounded number of them, with
// a set value always finite.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ParameterTable.h"
#include "formats/ParameterProfile.h"
#include "formats/OscMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The listener's buffer: one byte more than the largest message.
  std::vector<char> buffer(tool::kMaxOscMessageBytes + 1);
  const size_t length = std::min(size, buffer.size());
  std::memcpy(buffer.data(), data, length);
  const std::vector<tool::OscDecoded> packet =
      tool::DecodeOscPacket(buffer.data(), size, tool::ParameterProfile::TableNames());
  if (packet.empty() || packet.size() > tool::kMaxOscBundleMessages) __builtin_trap();
  for (const tool::OscDecoded& decoded : packet) {
    const tool::PlayerRequest& request = decoded.command.request;
    const bool parameter =
        request.action == tool::PlayerAction::SetParameter || request.action == tool::PlayerAction::QueryParameter;
    if (decoded.ok && request.action == tool::PlayerAction::SetParameter && !std::isfinite(request.value))
      __builtin_trap();
    if (decoded.ok && parameter && (request.number < 0 || request.number >= static_cast<int>(tessarvander::kParameterCount)))
      __builtin_trap();
    if (!decoded.ok && decoded.why.empty()) __builtin_trap();
  }
  return 0;
}

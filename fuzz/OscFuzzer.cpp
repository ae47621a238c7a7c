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
  std::vector<char> buffer(cli::kMaxOscMessageBytes + 1);
  const size_t length = std::min(size, buffer.size());
  std::memcpy(buffer.data(), data, length);
  const std::vector<cli::OscDecoded> packet =
      cli::DecodeOscPacket(buffer.data(), size, cli::ParameterProfile::TableNames());
  if (packet.empty() || packet.size() > cli::kMaxOscBundleMessages) __builtin_trap();
  for (const cli::OscDecoded& decoded : packet) {
    const bool parameter = decoded.command.kind == cli::OscCommand::SetParameter ||
                           decoded.command.kind == cli::OscCommand::Query;
    if (decoded.ok && decoded.command.kind == cli::OscCommand::SetParameter && !std::isfinite(decoded.command.value))
      __builtin_trap();
    if (decoded.ok && parameter && decoded.command.index >= tessarvander::kParameterCount) __builtin_trap();
    if (!decoded.ok && decoded.why.empty()) __builtin_trap();
  }
  return 0;
}

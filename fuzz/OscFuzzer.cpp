// libFuzzer target for the player's OSC decoder: any datagram must decode to
// a command or a refusal, with a set value always finite.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ParameterTable.h"
#include "session/ParameterProfile.h"
#include "player/OscMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The listener's buffer: one byte more than the largest message.
  std::vector<char> buffer(cli::kMaxOscMessageBytes + 1);
  const size_t length = std::min(size, buffer.size());
  std::memcpy(buffer.data(), data, length);
  const cli::OscDecoded decoded = cli::DecodeOsc(buffer.data(), size, cli::ParameterProfile::TableNames());
  if (decoded.ok && decoded.command.kind == cli::OscCommand::SetParameter && !std::isfinite(decoded.command.value))
    __builtin_trap();
  if (decoded.ok && decoded.command.index >= tessarvander::kParameterCount) __builtin_trap();
  if (!decoded.ok && decoded.why.empty()) __builtin_trap();
  return 0;
}

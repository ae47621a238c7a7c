#include "remote/OscInbox.h"

#include <algorithm>
#include <chrono>

#include "formats/Presets.h"
#include "sys/Messages.h"
#include "sys/SteadyClock.h"

namespace tool {
namespace {

// About four seconds of a flood of 10,000 messages a second.
constexpr size_t kMaxQueued = 40000;
// Bad messages are told once per address, for this many addresses; the rest
// are counted, so that a flood of new addresses costs neither memory nor a
// screenful of lines.
constexpr size_t kMaxToldAddresses = 32;
// A bundle may wait for its time tag this long, no longer.
constexpr double kLatestTimeTagSeconds = 60.0;

// When a time tag falls due, in steady-clock seconds: NTP time (seconds
// since 1900, a 32-bit fraction) against the wall clock now.
double DueAt(uint64_t timeTag) {
  if (timeTag == kOscImmediately) return 0.0;
  constexpr double kNtpToUnix = 2208988800.0;
  const double wall =
      static_cast<double>(timeTag >> 32) - kNtpToUnix + static_cast<double>(timeTag & 0xffffffffu) / 4294967296.0;
  const double nowWall = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  return SteadySeconds() + std::max(0.0, wall - nowWall);
}

}  // namespace

void OscInbox::Take(char* data, size_t size, const std::string& sender, const char* transport) {
  for (OscDecoded& decoded : DecodeOscPacket(data, size, names)) {
    if (!decoded.ok) {
      Drop(transport, decoded.address, decoded.why);
      continue;
    }
    OscCommand& command = decoded.command;
    command.sender = sender;
    const PlayerAction action = command.request.action;
    if (action == PlayerAction::QueryParameter || action == PlayerAction::AskStatus) command.address = decoded.address;
    command.dueAt = DueAt(decoded.timeTag);
    if (command.dueAt > SteadySeconds() + kLatestTimeTagSeconds) {
      Drop(transport, decoded.address, "a time tag more than a minute ahead");
      continue;
    }
    // A preset is read here, off the frame thread: the frame loop only
    // applies its values.
    if (command.request.action == PlayerAction::LoadPreset) {
      std::string error;
      if (!LoadPreset(command.request.text, names, command.request.values, error)) {
        Drop(transport, decoded.address, error);
        continue;
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (queue.size() >= kMaxQueued) {
      if (++dropped == 1)
        Warn(std::string(transport) + ": more than " + std::to_string(kMaxQueued) +
             " messages waiting for the next frame; dropping the rest");
      continue;
    }
    queue.push_back(std::move(command));
  }
}

void OscInbox::Drop(const char* transport, const std::string& address, const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex);
  const std::string told = std::string(transport) + '\n' + address + '\n' + why;  // each reason for each address, once
  if (toldOf.count(told)) return;
  if (toldOf.size() >= kMaxToldAddresses) {
    if (++untold == 1)
      Warn(std::string(transport) + ": bad messages of more than " + std::to_string(kMaxToldAddresses) +
           " kinds; the rest are dropped without a line");
    return;
  }
  toldOf.insert(told);
  Warn(std::string(transport) + ": dropped " + Printable(address, 80) + ": " + Printable(why, 300) +
       " (later ones like it are dropped without a line)");
}

void OscInbox::Drain(double now, std::vector<OscCommand>& commands) {
  commands.clear();
  std::lock_guard<std::mutex> lock(mutex);
  // The due ones out in order; the waiting ones close up behind them.
  size_t kept = 0;
  for (size_t i = 0; i < queue.size(); ++i) {
    if (queue[i].dueAt <= now) commands.push_back(std::move(queue[i]));
    else if (kept++ != i) queue[kept - 1] = std::move(queue[i]);
  }
  queue.resize(kept);
}

}  // namespace tool

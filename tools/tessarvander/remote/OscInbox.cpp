#include "remote/OscInbox.h"

#include <algorithm>
#include <chrono>

#include "formats/Presets.h"
#include "sys/Messages.h"
#include "sys/SteadyClock.h"

namespace tool {
namespace {

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

// What a waiting command holds, near enough.
size_t Bytes(const OscCommand& command) {
  return sizeof(OscCommand) + command.request.text.size() + command.sender.size() + command.address.size() +
         command.request.values.size() * sizeof(ParameterValue);
}

bool Question(const PlayerRequest& request) {
  return request.action == PlayerAction::QueryParameter || request.action == PlayerAction::AskStatus;
}

}  // namespace

void OscInbox::Take(char* data, size_t size, const std::string& replyTo, const std::string& from,
                    const char* transport) {
  const double now = SteadySeconds();
  for (OscDecoded& decoded : DecodeOscPacket(data, size, names)) {
    if (!decoded.ok) {
      Refused(transport, decoded.address, decoded.why);
      continue;
    }
    OscCommand& command = decoded.command;
    command.sender = replyTo;
    if (Question(command.request)) command.address = decoded.address;
    command.dueAt = DueAt(decoded.timeTag);
    // Its own time, for a tap or a nudge: when it arrived, or its time tag.
    command.request.at = std::max(now, command.dueAt);
    if (command.dueAt > now + kLatestTimeTagSeconds) {
      Refused(transport, decoded.address, "a time tag more than a minute ahead");
      continue;
    }
    // A preset is read here, off the frame thread: the frame loop only
    // applies its values.
    if (command.request.action == PlayerAction::LoadPreset) {
      std::string error;
      if (!LoadPreset(command.request.text, names, command.request.values, error)) {
        Refused(transport, decoded.address, error);
        continue;
      }
    }
    const size_t bytes = Bytes(command);
    const bool scheduled = command.dueAt > now;
    std::lock_guard<std::mutex> lock(mutex);
    Budget& budget = senders[from];
    if (budget.bytes + bytes > kSenderBytes || totalBytes + bytes > kTotalBytes ||
        (scheduled && (budget.scheduled >= kSenderScheduled || totalScheduled >= kTotalScheduled))) {
      bool overflow = false;
      if (overBudget.First(from, overflow))
        Warn(std::string(transport) + ": a controller sends more than the show takes (" +
             std::to_string(kSenderBytes >> 20) + " MiB waiting, " + std::to_string(kSenderScheduled) +
             " for later); what it sends beyond that is dropped, without a line from now on");
      if (budget.bytes == 0) senders.erase(from);
      continue;
    }
    budget.bytes += bytes;
    budget.scheduled += scheduled;
    totalBytes += bytes;
    totalScheduled += scheduled;
    queue.push_back({std::move(command), from, bytes, scheduled});
  }
}

void OscInbox::Refused(const char* transport, const std::string& address, const std::string& why) {
  bool overflow = false;
  if (said.First(std::string(transport) + '\n' + address + '\n' + why, overflow)) {
    Warn(std::string(transport) + ": dropped " + Printable(address, 80) + ": " + Printable(why, 300) +
         " (later ones like it are dropped without a line)");
  } else if (overflow) {
    Warn(std::string(transport) + ": bad messages of many kinds; the rest are dropped without a line");
  }
}

void OscInbox::Drain(double now, std::vector<OscCommand>& commands) {
  commands.clear();
  std::lock_guard<std::mutex> lock(mutex);
  // The due ones out in order; the waiting ones close up behind them.
  size_t kept = 0;
  for (size_t i = 0; i < queue.size(); ++i) {
    Waiting& waiting = queue[i];
    if (waiting.command.dueAt > now) {
      if (kept++ != i) queue[kept - 1] = std::move(waiting);
      continue;
    }
    Budget& budget = senders[waiting.from];
    budget.bytes -= waiting.bytes;
    budget.scheduled -= waiting.scheduled;
    totalBytes -= waiting.bytes;
    totalScheduled -= waiting.scheduled;
    if (budget.bytes == 0) senders.erase(waiting.from);
    commands.push_back(std::move(waiting.command));
  }
  queue.resize(kept);
}

}  // namespace tool

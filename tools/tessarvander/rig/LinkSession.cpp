#include "rig/LinkSession.h"

#include <ableton/Link.hpp>

#include <chrono>

#include "sys/SteadyClock.h"

namespace tool {

struct LinkSession::Session {
  explicit Session(double beatsPerMinute) : link(beatsPerMinute) {}
  ableton::Link link;
};

LinkSession::LinkSession(double beatsPerMinute, int beatsPerBar)
    : session(std::make_unique<Session>(beatsPerMinute)), beatsPerBar(beatsPerBar) {
  session->link.enable(true);
}

LinkSession::~LinkSession() { session->link.enable(false); }

TempoReading LinkSession::At(double time) const {
  const auto state = session->link.captureAppSessionState();
  // Link keeps a clock of its own: `time` is as far from its now as from
  // the steady clock's.
  const auto since = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::duration<double>(time - SteadySeconds()));
  return {state.tempo(), state.beatAtTime(session->link.clock().micros() + since, beatsPerBar)};
}

void LinkSession::SetTempo(double beatsPerMinute) {
  auto state = session->link.captureAppSessionState();
  state.setTempo(beatsPerMinute, session->link.clock().micros());
  session->link.commitAppSessionState(state);
}

size_t LinkSession::Peers() const { return session->link.numPeers(); }

}  // namespace tool

#include "rig/LinkSession.h"

#include <ableton/Link.hpp>

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

TempoReading LinkSession::Now() const {
  const auto state = session->link.captureAppSessionState();
  const auto time = session->link.clock().micros();
  return {state.tempo(), state.beatAtTime(time, beatsPerBar)};
}

void LinkSession::SetTempo(double beatsPerMinute) {
  auto state = session->link.captureAppSessionState();
  state.setTempo(beatsPerMinute, session->link.clock().micros());
  session->link.commitAppSessionState(state);
}

size_t LinkSession::Peers() const { return session->link.numPeers(); }

}  // namespace tool

// An Ableton Link session: the tempo, beat and phase shared with every Link
// peer on the local network. Link's headers (and the networking library
// they bring) stay inside LinkSession.cpp.
#pragma once

#include <cstddef>
#include <memory>

#include "rig/Tempo.h"

namespace tool {

class LinkSession {
 public:
  // Joins (or starts) the session; `beatsPerMinute` is the tempo proposed
  // when no peer is there yet.
  explicit LinkSession(double beatsPerMinute = 120.0, int beatsPerBar = 4);
  ~LinkSession();
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // The session's tempo and beats at `time` of the steady clock (a frame's
  // own time, near now); its bar is Link's quantum.
  TempoReading At(double time) const;
  // Proposes a tempo to every peer (a tap while Link leads the tempo).
  void SetTempo(double beatsPerMinute);
  size_t Peers() const;

 private:
  struct Session;
  std::unique_ptr<Session> session;
  int beatsPerBar;
};

}  // namespace tool

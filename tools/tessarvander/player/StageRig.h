// What the performer plugs into `play`, gathered for the frame loop: MIDI
// controllers and their map, the tempo (one source at a time: taps, a MIDI
// clock, Ableton Link or the live sound's beats) and the live sound with the
// reactions that follow it. The loop polls it once a pass and asks it for
// the reactions' values once a frame; nothing here blocks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "music/LiveAnalysis.h"
#include "player/Backstage.h"
#include "music/LiveReactions.h"
#include "rig/AudioInput.h"
#include "rig/LinkSession.h"
#include "rig/MidiInput.h"
#include "formats/MidiMap.h"
#include "rig/ShownTempo.h"
#include "rig/Tempo.h"
#include "rig/TempoHand.h"

namespace tool {

struct RigOptions {
  bool midi = false;
  std::string midiPort;      // part of a port's name; empty: every input
  std::string midiMapPath;   // read at the start if there, written at every change
  TempoSource tempo = TempoSource::Tap;
  bool audioIn = false;
  std::string audioDevice;   // part of a device's name; empty: the default
  std::vector<Reaction> reactions;
  ReactionTiming timing;
};

struct RigLine {
  std::string text;
  bool problem = false;
};

class StageRig {
 public:
  // The map file is written by `backstage`, off the frame loop.
  StageRig(const ParameterNames& names, Backstage& backstage);
  ~StageRig();

  // Opens what the options ask for. A MIDI system or sound device that is
  // not there is one line and the show goes on without it; a bad map file
  // or a tempo source with nothing to follow is an error.
  bool Start(const RigOptions& options, std::vector<RigLine>& lines, std::string& error);

  // Once a pass: MIDI into edits and actions (`values` as they stand, for
  // encoders and toggles), the sound into the analysis, the tempo sources
  // fed; what to tell the performer into `lines`.
  void Poll(double now, const std::vector<float>& values, MidiResult& midi, std::vector<RigLine>& lines);
  // Once a frame, at the frame's own time (of the steady clock, as `now` is
  // given to Poll; earlier for a frame that catches up): every live
  // reaction's value, and the tempo.
  void ReactionValues(double time, std::vector<ParameterValue>& values);
  // The reactions, for the panel to put on a slider or take off.
  LiveReactions& Reactions() { return *reactions; }

  TempoSource Source() const { return source; }
  void SetSource(TempoSource chosen, std::vector<RigLine>& lines);
  // The tempo at `time` (of the steady clock, any time near now), as the
  // source gives it and the performer's hand makes it.
  TempoReading Tempo(double time) const;
  // The tempo to show: confirmed, or the one before while it changes.
  const ShownTempo& Shown() const { return shown; }

  // The performer's hand on the tempo; `at` is when the key went down, the
  // pad was hit or the message arrived.
  // A tap: the tapped tempo, or, while Link leads, a tempo proposed to the
  // session.
  void Tap(double at, std::vector<RigLine>& lines);
  void Nudge(int direction, bool held, double at) { hand.Nudge(direction, held, at); }
  void One(double at, std::vector<RigLine>& lines);
  void ScaleTempo(double by, double at, std::vector<RigLine>& lines);
  void LockTempo(bool on, double at, std::vector<RigLine>& lines);
  bool TempoLocked() const { return hand.Locked(); }

  bool MidiOn() const { return midiInput != nullptr; }
  MidiMap& Map() { return map; }
  // After the panel cleared a mapping or changed its mode.
  void MapEdited(std::vector<RigLine>& lines);
  const std::string& MapPath() const { return mapPath; }
  bool AudioOn() const { return audioInput != nullptr; }
  int SoundRate() const { return audioInput ? audioInput->SampleRate() : 0; }
  // The live sound for the take: the sample (counted from the first one
  // captured) that a frame at `time` goes with: the sound heard then, less
  // how long an onset takes to be known, so a reaction falls with the
  // sound that caused it. And the recent sound itself: samples [from, from + count) into
  // `out`, silence for those no longer kept; how many are there yet.
  double SoundSampleAt(double time) const;
  // The live sound's level, bass, mid and treble in dB at a time of the
  // clock; false without live sound.
  bool SoundAt(double time, float out[4]) const;
  size_t RecentSound(uint64_t from, size_t count, float* out) const;
  uint64_t SoundCaptured() const { return soundCaptured; }
  size_t LinkPeers() const { return link ? link->Peers() : 0; }

 private:
  void SaveMap(std::vector<RigLine>& lines);

  const ParameterNames& names;
  Backstage& backstage;
  MidiMap map;
  std::string mapPath;
  std::unique_ptr<MidiInput> midiInput;
  std::vector<MidiBytes> midiBytes;
  long malformedMidi = 0;
  double malformedSaidAt = -1e9;
  TempoSource source = TempoSource::Tap;
  TapTempo tapTempo;
  MidiClockTempo midiClock;
  std::unique_ptr<LinkSession> link;
  std::unique_ptr<AudioInput> audioInput;
  LiveAnalysis analysis;
  std::unique_ptr<LiveReactions> reactions;
  std::vector<float> samples;
  bool silenceSaid = false;
  TempoHand hand;
  ShownTempo shown;
  TempoReading SourceTempo(double time) const;
  void SayTempo(double now, std::vector<RigLine>& lines);
  void Keep(const std::vector<float>& captured);
  // The sound's own seconds at the last poll, and the clock's then: a time
  // of the clock is a time of the sound.
  double SoundSecondsAt(double time) const;
  double soundPolledAt = 0.0;
  double soundSecondsAtPoll = 0.0;
  // The last seconds of sound, for the take's sound file.
  static constexpr double kRecentSeconds = 8.0;
  std::vector<float> recent;
  uint64_t soundCaptured = 0;
};

}  // namespace tool

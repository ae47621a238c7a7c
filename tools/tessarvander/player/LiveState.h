// What a live session holds besides its picture: every parameter's value,
// whether the flight is paused, how many frames were shown, and the
// session's history on disk, from which takes are written. Changes arrive
// from keys, the panel and OSC and are applied in that order before a frame.
// No GL here: it is tested as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/Takes.h"
#include "formats/ParameterControls.h"

namespace tool {

class LiveState {
 public:
  // Starts from the plugin's defaults with the controls' values over them.
  LiveState(const ParameterControls& controls, double framesPerSecond);

  const std::vector<float>& Values() const { return values; }
  // Every value as (index, value), refilled in place: the frame loop
  // allocates nothing for them.
  const std::vector<ParameterValue>& AllValues();
  // A change from any source; recorded for takes at the current frame.
  void Set(uint32_t index, float value);
  void Apply(const std::vector<ParameterValue>& changes);

  bool Paused() const { return paused; }
  void SetPaused(bool pause);

  // The plugin processed the next frame of the flight (none goes by while
  // paused).
  void FrameShown();
  long ShownFrames() const { return shownFrames; }

  // The picture's level from the frame now (a blackout's fade), for the take.
  void SetLevel(float level);

  // The session's history, written as it runs (see TakeJournal): to the
  // take at `path`, or, without one, to an unnamed file in `folder`.
  bool Record(const std::string& path, const std::string& folder, std::string& error);
  bool RecordingSession() const { return journal.Named(); }
  const std::string& SessionTakePath() const { return journal.Path(); }
  // The first write of the history that failed, or empty; and the frames it
  // holds for sure.
  const std::string& RecordFailure() const { return journal.Failure(); }
  long RecordedUpTo() const { return journal.RecordedUpTo(); }
  bool CloseSession(std::string& error) { return journal.Close(shownFrames, error); }

  // A take (T) runs from the frame it started at to the frame now.
  void StartTake() { takeFirst = shownFrames; }
  bool TakeRecording() const { return takeFirst >= 0; }
  long TakeFirst() const { return takeFirst; }
  // Writes the take from the session's history and stops recording it.
  bool WriteTake(const std::string& path, std::string& error);

 private:
  const ParameterNames& names;
  double framesPerSecond;
  std::vector<float> values;  // by parameter index
  std::vector<ParameterValue> allValues;
  TakeJournal journal;
  float level = 1.0f;
  bool paused = false;
  long shownFrames = 0;
  long takeFirst = -1;
};

}  // namespace tool

// The live sound written beside the take, frame for frame: frame n of the
// session goes with the sound heard a frame before its own time, less the
// analysis's delay (StageRig::SoundSampleAt): a reaction reaches the
// picture at the frame after its sound is known, so the two fall on one
// frame of the re-render. Sample j of the file
// is sample anchor + j of the capture; where the two part by more than
// kSlip (the flight paused, sound was lost, the sound card's clock drifted
// from the computer's), the anchor moves and the file skips or repeats
// that much there.
#pragma once

#include <string>
#include <vector>

#include "formats/SoundJournal.h"
#include "player/StageRig.h"

namespace tool {

class TakeSound {
 public:
  static constexpr double kSlip = 0.03;  // seconds

  // Beside the take at `takePath`, or unnamed in `folder` for a session
  // without one. False with one line.
  bool Start(const std::string& takePath, const std::string& folder, int sampleRate, double framesPerSecond,
             std::string& error);
  bool Recording() const { return journal.Recording(); }
  // Frame `frame` of the session was shown when the capture's sample
  // `heard` was known.
  void FrameShown(long frame, double heard);
  // Writes what the frames shown so far cover, as far as the sound has come.
  void Catch(long framesShown, const StageRig& rig);
  // The sound of frames [first, end), beside the take T wrote at `takePath`.
  void WriteTake(const std::string& takePath, long first, long end);
  bool Close(std::string& error) { return journal.Close(error); }
  bool Settle(double patience) { return journal.Settle(patience); }
  std::vector<RecordingFile::News> TakeNews() { return journal.TakeNews(); }

 private:
  size_t SampleOf(long frame) const;

  SoundJournal journal;
  double framesPerSecond = 60.0;
  double anchor = 0.0;  // the capture's sample of the file's first
  bool anchored = false;
  std::vector<float> scratch;
};

}  // namespace tool

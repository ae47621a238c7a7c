// Takes: a live session's parameter changes, frame by frame, as JSON lines,
// so that `render --take` can draw the very same frames again at any size.
//
//   {"take": 1, "fps": 60, "first": 240, "parameters": {"Speed": 0.3, ...}}
//   {"frame": 120, "set": {"Hue": 0.41}}      a change made before frame 120
//   {"frame": 300, "pause": true}             frames from 300 on not processed
//   {"frame": 420, "pause": false}            ... processed again from 420
//   {"upto": 480}                             (written while recording) frames before 480 are recorded
//   {"frames": 900}                           the session's frames up to the take's end
//
// A take written while the session runs carries "upto" lines; if the session
// ends before it is closed (a crash), the take holds the frames up to the last.
//
// Frames count from the session's first frame, whose values "parameters"
// gives. The take itself is frames "first" to "frames": what came before is
// replayed offscreen, so that the plugin's clock and eased values stand where
// they stood in the session. A paused frame is shown (the picture holds) but
// not processed, so the clock, which steps once per processed frame, stands
// still too.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "formats/FrameLimits.h"
#include "formats/ParameterControls.h"

namespace tool {

// The largest take read; its frame rate and frames keep the command line's
// bounds (kMinFramesPerSecond ... kMaxFrames).
constexpr size_t kMaxTakeBytes = 256u << 20;

struct Take {
  double framesPerSecond = 60.0;
  long first = 0;
  long frames = 0;
  std::vector<ParameterValue> start;
  // What changes before each frame; frames without changes are absent.
  struct Change {
    std::vector<ParameterValue> values;
    int pause = -1;  // 1 pause from here, 0 play from here, -1 unchanged
  };
  std::map<long, Change> changes;
};

// Reads a take. False with one line naming the file, the line and what is
// wrong.
bool LoadTake(const std::string& path, const ParameterNames& names, Take& take, std::string& error);
// The same from a take's text; `path` names it in the messages.
bool ParseTake(const std::string& text, const std::string& path, const ParameterNames& names, Take& take,
               std::string& error);

// Plays a take back frame by frame: the values to send and whether to process.
class TakePlayer {
 public:
  explicit TakePlayer(const Take& take);
  // Call once per frame, in order from 0: applies that frame's changes.
  void Advance(long frame);
  const std::vector<ParameterValue>& Values() const { return values; }
  bool Paused() const { return paused; }

 private:
  const Take& take;
  std::vector<ParameterValue> values;
  bool paused = false;
};

// Every change of a live session since its first frame, kept in memory, from
// which takes are written. Changes to a parameter within one frame keep only
// the last value, so a flood of control messages costs one entry a frame.
class SessionHistory {
 public:
  void Begin(double framesPerSecond, const std::vector<ParameterValue>& start);
  void Set(long frame, uint32_t index, float value);
  void Pause(long frame, bool paused);
  // Writes the take of frames [first, end). The file appears only when
  // complete.
  bool WriteTake(const std::string& path, long first, long end, const ParameterNames& names,
                 std::string& error) const;

 private:
  double framesPerSecond = 60.0;
  std::vector<ParameterValue> start;
  std::map<long, Take::Change> changes;
};

// A take written as the session runs, so that a crash loses at most the last
// half second: the changes of each frame are appended as it ends, and an
// "upto" line is flushed twice a second. It is written to PATH.recording, new
// (a file left there is refused), and renamed to PATH when the session ends.
class TakeJournal {
 public:
  ~TakeJournal();
  bool Open(const std::string& path, double framesPerSecond, const std::vector<ParameterValue>& start,
            const ParameterNames& names, std::string& error);
  bool Recording() const { return file != nullptr; }
  void Set(long frame, uint32_t index, float value);
  void Pause(long frame, bool paused);
  // Frames before `frames` are done.
  void FrameDone(long frames);
  // The session's frames end at `frames`; the take is put in place.
  bool Close(long frames, std::string& error);
  const std::string& Path() const { return path; }

 private:
  std::string path;
  std::string recordingPath;
  const ParameterNames* names = nullptr;
  FILE* file = nullptr;
  std::map<long, Take::Change> pending;
  std::chrono::steady_clock::time_point lastFlush;
};

}  // namespace tool

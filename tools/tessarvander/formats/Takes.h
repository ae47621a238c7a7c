// Takes: a live session's parameter changes, frame by frame, as JSON lines,
// so that `render --take` can draw the very same frames again at any size.
//
//   {"take": 1, "fps": 60, "first": 240, "parameters": {"Speed": 0.3, ...}}
//   {"frame": 120, "set": {"Hue": 0.41}}      a change made before frame 120
//   {"frame": 300, "pause": true}             frames from 300 on not processed
//   {"frame": 420, "pause": false}            ... processed again from 420
//   {"frame": 500, "level": 0.25}             the picture's level from 500 (a blackout's fade)
//   {"frame": 600, "set2": {"Hue": 0.8}}      a change to the second deck (a look dissolved in)
//   {"frame": 600, "mix": 0.5, "blend": "dissolve"}  the crossfader between the decks
//   {"upto": 480}                             (written while recording) frames before 480 are recorded
//   {"frames": 900}                           the session's frames up to the take's end
//
// A take written while the session runs carries "upto" lines; if the session
// ends before it is closed (a crash, a full disk), the take holds the frames
// up to the last "upto", whatever follows it: a line cut short, changes of
// later frames.
//
// Frames count from the session's first frame, whose values "parameters"
// gives. The take itself is frames "first" to "frames": what came before is
// replayed offscreen, so that the plugin's clock and eased values stand where
// they stood in the session. A paused frame is shown (the picture holds) but
// not processed, so the clock, which steps once per processed frame, stands
// still too.
//
// A session plays two decks, two instances of the plugin that step together
// from the first frame: the picture is the first deck's, the second's, or a
// blend of both ("mix" 0 is the first deck alone, 1 the second). Both start
// from "parameters"; a take that never names the second deck is played with
// one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "formats/FrameLimits.h"
#include "formats/ParameterControls.h"

namespace tool {

// The largest take read; its frame rate and frames keep the command line's
// bounds (kMinFramesPerSecond ... kMaxFrames).
constexpr size_t kMaxTakeBytes = 256u << 20;

// How the crossfader blends the decks: a linear dissolve, an additive
// crossfade, or the second deck keyed in by its luma.
enum class Blend { Dissolve, Add, Luma };
const char* BlendName(Blend blend);
bool ParseBlend(const std::string& name, Blend& blend);

struct Take {
  double framesPerSecond = 60.0;
  long first = 0;
  long frames = 0;
  std::vector<ParameterValue> start;
  // What changes before each frame; frames without changes are absent.
  struct Change {
    std::vector<ParameterValue> values;
    std::vector<ParameterValue> secondDeck;
    int pause = -1;      // 1 pause from here, 0 play from here, -1 unchanged
    float level = -1.0f; // the picture's level (1 the picture, 0 black), or -1 unchanged
    float mix = -1.0f;   // the crossfader, or -1 unchanged
    int blend = -1;      // a Blend, or -1 unchanged
  };
  std::map<long, Change> changes;
  // The take plays the second deck.
  bool twoDecks = false;
  // The take ended before it was closed: it holds the frames to its last "upto".
  bool cutShort = false;
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
  const std::vector<ParameterValue>& SecondDeck() const { return secondDeck; }
  bool Paused() const { return paused; }
  // The picture's level: 1 the picture, 0 black.
  float Level() const { return level; }
  float Mix() const { return mix; }
  Blend Blending() const { return blend; }

 private:
  const Take& take;
  std::vector<ParameterValue> values, secondDeck;
  bool paused = false;
  float level = 1.0f;
  float mix = 0.0f;
  Blend blend = Blend::Dissolve;
};

// A live session's take, written as the session runs: every change with
// the frame it took effect at, appended as the frame ends. Lines are built
// whole in a buffer of the journal's own and written with one call, every
// write checked: a crash, a kill or a full disk leaves whole lines and the
// "upto" of the last frames written, never half a line. The first write that
// fails stops the journal and is kept as one line for the player to say; the
// show goes on.
//
// With a path, the journal is PATH.recording, new (an existing PATH or
// PATH.recording is refused: a take is never replaced), and is put in place
// as PATH when the session ends. Without one, it is an unnamed file in the
// out folder that only the session's own takes (T) read: the session's
// history lives on disk, never in memory, however long the show.
class TakeJournal {
 public:
  // Frames between two "upto" lines: at 60 a second, a crash loses at most
  // half a second.
  static constexpr long kUptoEvery = 30;

  ~TakeJournal();
  bool Open(const std::string& path, const std::string& folder, double framesPerSecond,
            const std::vector<ParameterValue>& start, const ParameterNames& names, std::string& error);
  bool Recording() const { return fd >= 0; }
  bool Named() const { return !path.empty(); }
  void Set(long frame, uint32_t index, float value);
  void SetSecond(long frame, uint32_t index, float value);
  void Pause(long frame, bool paused);
  void Level(long frame, float level);
  void Mix(long frame, float mix, Blend blend);
  // Frames before `frames` are done: their changes are written.
  void FrameDone(long frames);
  // The take of frames [first, end) of the session, copied from what is
  // written, as a new file at `take`.
  bool WriteTake(const std::string& take, long first, long end, std::string& error);
  // The session's frames end at `frames`; a named take is put in place.
  bool Close(long frames, std::string& error);
  const std::string& Path() const { return path; }
  // The first write that failed ("the disk is full"), or empty.
  const std::string& Failure() const { return failure; }
  // The frames the file holds for sure: up to its last "upto".
  long RecordedUpTo() const { return recordedUpTo; }

 private:
  bool Append(const std::string& lines);

  std::string path;
  std::string recordingPath;
  const ParameterNames* names = nullptr;
  int fd = -1;
  double framesPerSecond = 60.0;
  std::vector<ParameterValue> start;
  size_t headerBytes = 0;
  long written = 0;  // bytes
  std::map<long, Take::Change> pending;
  std::string lines;  // built for the next write
  long lastUpto = 0;
  long recordedUpTo = 0;
  std::string failure;
};

}  // namespace tool

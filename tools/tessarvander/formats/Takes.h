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
//   {"frame": 900000, "renew": 120}           fresh instances from here, dissolved in over 120 frames
//                                             once they have settled (render/Decks.h)
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
#include <memory>
#include <string>
#include <vector>

#include "formats/FrameLimits.h"
#include "formats/ParameterControls.h"

namespace tool {

// A take is read line by line, never whole: a line may be at most this
// long; the file as long as the frame limits allow. What a render holds of
// it at once is a line and the values of one frame.
constexpr size_t kMaxTakeLineBytes = 1u << 20;

// How the crossfader blends the decks: a linear dissolve, an additive
// crossfade, or the second deck keyed in by its luma.
enum class Blend { Dissolve, Add, Luma };
const char* BlendName(Blend blend);
bool ParseBlend(const std::string& name, Blend& blend);

// How a recalled look comes in over a crossfade: the first three blend the
// two decks' pictures (a Blend each); a morph eases the values on one deck,
// the fractal type and palette switching half way.
enum class Transition { Dissolve, Add, Luma, Morph };
static_assert(static_cast<int>(Transition::Luma) == static_cast<int>(Blend::Luma), "a transition names its blend");
// "dissolve", "add", "luma", "morph".
const char* TransitionName(Transition transition);
bool ParseTransition(const std::string& name, Transition& transition);

// What changes before one frame.
struct TakeChange {
  std::vector<ParameterValue> values;
  std::vector<ParameterValue> secondDeck;
  int pause = -1;      // 1 pause from here, 0 play from here, -1 unchanged
  float level = -1.0f; // the picture's level (1 the picture, 0 black), or -1 unchanged
  float mix = -1.0f;   // the crossfader, or -1 unchanged
  int blend = -1;      // a Blend, or -1 unchanged
  long renew = -1;     // fresh instances from this frame, dissolved in over this many frames; -1 none
};

// The longest dissolve into renewed instances a take may ask for.
constexpr long kLongestRenewFrames = 600;

// A take as checked: its header, its length and what its changes hold, and
// where its lines are (a file, or a text held here), for a TakePlayer to
// read them again as frames go by.
struct Take {
  double framesPerSecond = 60.0;
  long first = 0;
  long frames = 0;
  std::vector<ParameterValue> start;
  // The take plays the second deck.
  bool twoDecks = false;
  // The take ended before it was closed: it holds the frames to its last "upto".
  bool cutShort = false;
  long changeFrames = 0;  // frames with a change, below `frames`
  long lastChange = -1;   // the last of them
  std::string path;       // its file, or empty for `text`
  std::string text;
};

// Reads a take, line by line. False with one line naming the file, the
// line and what is wrong.
bool LoadTake(const std::string& path, const ParameterNames& names, Take& take, std::string& error);
// The same from a take's text; `path` names it in the messages.
bool ParseTake(const std::string& text, const std::string& path, const ParameterNames& names, Take& take,
               std::string& error);

class TakeLines;
class TakeLineReader;

// Plays a take back frame by frame: the values to send and whether to
// process, its lines read again as the frames reach them.
class TakePlayer {
 public:
  TakePlayer(const Take& take, const ParameterNames& names);
  ~TakePlayer();
  // Call once per frame, in order from 0: applies that frame's changes.
  void Advance(long frame);
  const std::vector<ParameterValue>& Values() const { return values; }
  const std::vector<ParameterValue>& SecondDeck() const { return secondDeck; }
  bool Paused() const { return paused; }
  // The picture's level: 1 the picture, 0 black.
  float Level() const { return level; }
  float Mix() const { return mix; }
  Blend Blending() const { return blend; }
  // Whether the frame just advanced to renews the instances, and over how
  // many frames (-1: it does not).
  long Renewal() const { return renewal; }

 private:
  void Apply(const TakeChange& change);

  const Take& take;
  Take header;  // the reader's own account of the header it reads again
  std::unique_ptr<TakeLines> lines;
  std::unique_ptr<TakeLineReader> reader;
  bool done = false;
  long pendingFrame = -1;  // the frame of the change read ahead, -1 for none
  TakeChange pending;
  std::vector<ParameterValue> values, secondDeck;
  bool paused = false;
  float level = 1.0f;
  float mix = 0.0f;
  Blend blend = Blend::Dissolve;
  long renewal = -1;
};

// The take's lines as the journal writes them: values at the precision
// they have (a float's shortest form, "0.3", never "0.30000001192092896").
std::string TakeHeaderLine(double framesPerSecond, long first, const std::vector<ParameterValue>& start,
                           const ParameterNames& names);
std::string TakeChangeLine(long frame, const TakeChange& change, const ParameterNames& names);

}  // namespace tool

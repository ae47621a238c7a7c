// What a live session holds besides its picture: every parameter's value on
// each of the two decks (two instances of the plugin, stepping together; the
// picture is one of them or a blend while a look dissolves in), which deck
// the performer's changes go to, the crossfader, whether the flight is
// paused, how many frames were shown, and the session's history on disk,
// from which takes are written. No GL here: it is tested as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/TakeJournal.h"
#include "formats/Takes.h"
#include "formats/ParameterControls.h"
#include "player/TakeSound.h"

namespace tool {

class LiveState {
 public:
  static constexpr int kDecks = 2;

  // Both decks start from the plugin's defaults with the controls' values
  // over them.
  LiveState(const ParameterControls& controls, double framesPerSecond);

  // Parameters whose values both decks always share: those the plugin eases
  // and integrates into its travel clock. Both instances then keep one clock
  // and one set of eased values from the first frame on, so a look that
  // comes in on the other deck is drawn exactly as a cut to it would be.
  void ShareBetweenDecks(const std::vector<bool>& shared) { sharedByDecks = shared; }

  // The deck changes go to: the one on air, or coming on.
  int LiveDeck() const { return liveDeck; }
  void SetLiveDeck(int deck) { liveDeck = deck; }
  // The live deck's values, by parameter index.
  const std::vector<float>& Values() const { return values[liveDeck]; }
  const std::vector<float>& DeckValues(int deck) const { return values[deck]; }
  // Every value of a deck as (index, value), refilled in place: the frame
  // loop allocates nothing for them.
  const std::vector<ParameterValue>& AllValues(int deck);
  const std::vector<ParameterValue>& AllValues() { return AllValues(liveDeck); }
  // A change from any source, to the live deck or to `deck`; recorded for
  // takes at the current frame.
  void Set(uint32_t index, float value) { SetOn(liveDeck, index, value); }
  void SetOn(int deck, uint32_t index, float value);
  void Apply(const std::vector<ParameterValue>& changes) { ApplyTo(liveDeck, changes); }
  void ApplyTo(int deck, const std::vector<ParameterValue>& changes);

  // The crossfader: 0 the first deck alone, 1 the second; and the blend.
  float Mix() const { return mix; }
  Blend Blending() const { return blend; }
  void SetMix(float mix, Blend blend);

  bool Paused() const { return paused; }
  void SetPaused(bool pause);

  // The plugin processed the next frame of the flight (none goes by while
  // paused).
  void FrameShown();
  long ShownFrames() const { return shownFrames; }

  // The picture's level from the frame now (a blackout's fade), for the take.
  void SetLevel(float level);
  // The instances are renewed from the frame now, dissolved in over
  // `dissolveFrames` once settled, for the take.
  void Renewed(long dissolveFrames) { journal.Renew(shownFrames, dissolveFrames); }

  // The session's history, written as it runs (see TakeJournal): to the
  // take at `path`, or, without one, to an unnamed file in `folder`.
  bool Record(const std::string& path, const std::string& folder, std::string& error);
  bool RecordingSession() const { return journal.Named(); }
  const std::string& SessionTakePath() const { return journal.Path(); }
  // The first write of the history that failed, or empty; and the frames it
  // holds for sure.
  std::string RecordFailure() const { return journal.Failure(); }
  long RecordedUpTo() const { return journal.RecordedUpTo(); }
  // What the history's writer has to say: takes saved, gigabytes passed.
  std::vector<TakeJournal::News> JournalNews();
  bool CloseSession(std::string& error);
  // Waits for the history's writers (for the tests).
  bool SettleHistory(double patience) { return journal.Settle(patience) && sound.Settle(patience); }

  // The live sound beside the history (with --audio-in), once the sound
  // is there: at the take's path, or unnamed in `folder`.
  bool RecordSound(const std::string& takePath, const std::string& folder, int sampleRate, std::string& error);
  TakeSound& Sound() { return sound; }
  bool KeepsHistory() const { return journal.Recording(); }

  // A take (T) runs from the frame it started at to the frame now.
  void StartTake() { takeFirst = shownFrames; }
  bool TakeRecording() const { return takeFirst >= 0; }
  long TakeFirst() const { return takeFirst; }
  // Hands the take to the history's writer, which writes it from the
  // session's history (its outcome comes with the news), and stops
  // recording it.
  void WriteTake(const std::string& path);

 private:
  const ParameterNames& names;
  double framesPerSecond;
  std::vector<float> values[kDecks];  // by parameter index
  std::vector<ParameterValue> allValues;
  std::vector<bool> sharedByDecks;  // by parameter index
  int liveDeck = 0;
  float mix = 0.0f;
  Blend blend = Blend::Dissolve;
  TakeJournal journal;
  TakeSound sound;
  float level = 1.0f;
  bool paused = false;
  long shownFrames = 0;
  long takeFirst = -1;
};

}  // namespace tool

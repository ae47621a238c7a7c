// The music analysis on tracks made here from known beats: the tempo to
// 0.1 %, the beats within 35 ms, the bars, the silence gate, and the shaping
// of reactions. Everything runs in-process on samples in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "SyntheticMusic.h"
#include "ParameterTable.h"
#include "music/AudioAnalysis.h"
#include "music/Reactions.h"
#include "formats/ParameterProfile.h"

namespace {

using synthetic::Builder;
using synthetic::Pattern;

constexpr double kTolerance = 0.035;  // seconds

tool::AudioAnalysis Analysed(const synthetic::Track& track, const tool::BeatOptions& options = {}) {
  tool::AudioAnalysis analysis;
  analysis.beatOptions = options;
  std::string error;
  EXPECT_TRUE(analysis.Analyse(track.samples, synthetic::kRate, error)) << error;
  return analysis;
}

// The beats of a track found as the issue of a beat tracker asks: at least
// 97 % of known beats within 35 ms, at most 2 % extra, no beat in silence,
// and 90 % of bars starting on the right beat.
void ExpectTheGridHolds(const synthetic::Track& track, const tool::BeatGrid& grid, const std::string& name) {
  const synthetic::Match beats = synthetic::MatchBeats(track.beats, grid.Beats(), kTolerance);
  EXPECT_GE(beats.Share(), 0.97) << name << ": " << beats.matched << " of " << beats.known << " beats";
  EXPECT_LE(beats.ExtraShare(), 0.02) << name << ": " << beats.extra << " extra beats";
  for (const auto& [start, end] : track.silences)
    for (double beat : grid.Beats()) EXPECT_FALSE(beat >= start && beat < end) << name << ": a beat at " << beat << " s in silence";
  const synthetic::Match bars = synthetic::MatchBeats(track.downbeats, grid.Downbeats(), kTolerance);
  EXPECT_GE(bars.Share(), 0.90) << name << ": " << bars.matched << " of " << bars.known << " bars";
}

TEST(MusicTest, TheTempoAndTheBeatsHoldAtEveryTempo) {
  for (double bpm : {70.0, 96.0, 120.0, 128.0, 150.0, 174.0}) {
    const synthetic::Track track = Builder().Bars(12, bpm, Pattern::Basic).Done();
    const tool::AudioAnalysis analysis = Analysed(track);
    const std::string name = std::to_string(static_cast<int>(bpm)) + " bpm";
    EXPECT_NEAR(analysis.Grid().BeatsPerMinute(), bpm, bpm * 0.001) << name;
    ExpectTheGridHolds(track, analysis.Grid(), name);
  }
}

TEST(MusicTest, SwingSyncopationBreaksAndSoftIntrosKeepTheGrid) {
  struct Case {
    const char* name;
    synthetic::Track track;
    double bpm;
  };
  const Case cases[] = {
      {"swing", Builder().Bars(12, 110, Pattern::Swing).Done(), 110},
      {"3+3+2 bass", Builder().Bars(12, 124, Pattern::Tresillo).Done(), 124},
      {"a soft intro", Builder().Bars(4, 128, Pattern::Sparse, 0.1).Bars(10, 128, Pattern::Basic).Done(), 128},
      {"a break without drums",
       Builder().Bars(8, 126, Pattern::Basic).Bars(4, 126, Pattern::PadOnly).Bars(8, 126, Pattern::Basic).Done(), 126},
      {"silence and a fade-out",
       Builder().Bars(8, 120, Pattern::Basic).Silence(3.0).Bars(8, 120, Pattern::Basic).FadeTail(3.0, 0.006, 120).Done(),
       120},
  };
  for (const Case& c : cases) {
    const tool::AudioAnalysis analysis = Analysed(c.track);
    EXPECT_NEAR(analysis.Grid().BeatsPerMinute(), c.bpm, c.bpm * 0.001) << c.name;
    ExpectTheGridHolds(c.track, analysis.Grid(), c.name);
  }
  // The break's start and the drums' return are section changes, and a
  // loop that never changes has none.
  const tool::AudioAnalysis broken = Analysed(cases[3].track);
  const std::vector<double> changes = {cases[3].track.downbeats[8], cases[3].track.downbeats[12]};
  EXPECT_EQ(synthetic::MatchBeats(changes, broken.Grid().Sections(), kTolerance).matched, 2u);
  EXPECT_EQ(broken.Grid().Sections().size(), 2u);
  EXPECT_TRUE(Analysed(cases[0].track).Grid().Sections().empty());
}

// The kinds a tracker falls on, where the answer is known: one level and one
// tempo through a kick every three sixteenths (a pull to 4:3), a break of
// 8 s without percussion (the same phase after it), swing at 3:1 (the beat
// on the beat, not on the swung note; 2:1 is above), a figure in fives
// between passages of its tempo (a pull to 4:5, held; a step of 5:4 that
// stays is followed below), and an accelerando from 120 to 150 over two bars
// (followed, at the level the music had), two bars of off-beat stabs before
// the beat (the beats follow the grid the drums settle), and a breakdown of
// eight bars whose bass strikes every off-beat (the beat the kick held
// before it).
TEST(MusicTest, TheLevelTempoAndPhaseHoldWhereTrackersFall) {
  struct Case {
    const char* name;
    synthetic::Track track;
    double bpm;  // at the end
  };
  const Case cases[] = {
      {"3+3+3+3+4 kick", Builder().Bars(16, 134, Pattern::Kick3334).Done(), 134},
      {"8 s without percussion",
       Builder().Bars(8, 120, Pattern::Basic).Bars(4, 120, Pattern::PadOnly).Bars(8, 120, Pattern::Basic).Done(), 120},
      {"swing 3:1", Builder().Bars(12, 110, Pattern::Swing31).Done(), 110},
      {"a figure in fives",
       Builder().Bars(8, 170, Pattern::Basic).Bars(6, 170, Pattern::Fives).Bars(8, 170, Pattern::Basic).Done(), 170},
      {"an accelerando", Builder().Bars(8, 120, Pattern::Basic).Ramp(2, 120, 150).Bars(10, 150, Pattern::Basic).Done(),
       150},
      {"an intro of off-beat stabs", Builder().Bars(2, 140, Pattern::Upbeats).Bars(12, 140, Pattern::Basic).Done(), 140},
      {"an off-beat bass breakdown",
       Builder().Bars(8, 138, Pattern::Basic).Bars(8, 138, Pattern::Breakdown).Bars(8, 138, Pattern::Basic).Done(), 138},
  };
  for (const Case& c : cases) {
    const tool::AudioAnalysis analysis = Analysed(c.track);
    EXPECT_NEAR(analysis.Grid().BeatsPerMinuteAt(c.track.Seconds() - 3.0), c.bpm, c.bpm * 0.01) << c.name;
    ExpectTheGridHolds(c.track, analysis.Grid(), c.name);
  }
}

// A shuffle whose guitar strikes every swung note as hard as the drums
// strike the beat: the chain of onsets settles on the swung note, a third of
// a beat early, and the beats move to the beat after it. The first and last
// beats, where the chain starts and stops, may stay behind.
TEST(MusicTest, TheBeatsLeaveTheSwungNote) {
  const synthetic::Track track = Builder().Bars(32, 140, Pattern::SwungComp).Done();
  const tool::AudioAnalysis analysis = Analysed(track);
  const synthetic::Match beats = synthetic::MatchBeats(track.beats, analysis.Grid().Beats(), kTolerance);
  EXPECT_GE(beats.Share(), 0.9) << beats.matched << " of " << beats.known << " beats";
  EXPECT_LE(beats.ExtraShare(), 0.1) << beats.extra << " extra beats";
}

TEST(MusicTest, ATempoChangeIsFollowedAndTheRangeIsPrinted) {
  const synthetic::Track track = Builder().Bars(12, 120, Pattern::Basic).Bars(12, 150, Pattern::Basic).Done();
  const tool::AudioAnalysis analysis = Analysed(track);
  ExpectTheGridHolds(track, analysis.Grid(), "120 then 150 bpm");
  double slowest = 0.0, fastest = 0.0;
  analysis.Grid().TempoRange(slowest, fastest);
  EXPECT_NEAR(slowest, 120.0, 0.12);
  EXPECT_NEAR(fastest, 150.0, 0.15);
  EXPECT_NEAR(analysis.Grid().BeatsPerMinuteAt(10.0), 120.0, 0.5);
  EXPECT_NEAR(analysis.Grid().BeatsPerMinuteAt(track.Seconds() - 5.0), 150.0, 0.5);
}

TEST(MusicTest, TheUserDecidesTheGridWhenAsked) {
  const synthetic::Track track = Builder().Bars(8, 120, Pattern::Basic).Done();
  {  // half and double of the tracked beats
    tool::BeatOptions half;
    half.scale = tool::BeatScale::Half;
    const tool::AudioAnalysis halved = Analysed(track, half);
    EXPECT_NEAR(halved.Grid().BeatsPerMinute(), 60.0, 0.06);
    tool::BeatOptions twice;
    twice.scale = tool::BeatScale::Double;
    EXPECT_NEAR(Analysed(track, twice).Grid().BeatsPerMinute(), 240.0, 0.24);
  }
  {  // a given tempo and first beat: that exact grid, the bar starting there
    tool::BeatOptions fixed;
    fixed.beatsPerMinute = 120.0;
    fixed.firstBeat = track.beats[1];
    const tool::AudioAnalysis analysis = Analysed(track, fixed);
    ASSERT_FALSE(analysis.Grid().Beats().empty());
    EXPECT_DOUBLE_EQ(analysis.Grid().Beats().front(), track.beats[1]);
    EXPECT_DOUBLE_EQ(analysis.Grid().Downbeats().front(), track.beats[1]);
    EXPECT_NEAR(analysis.Grid().Beats()[5] - analysis.Grid().Beats()[4], 0.5, 1e-9);
  }
  {  // a given list of beats, in bars of three
    tool::BeatOptions given;
    given.beatsGiven = true;
    given.beats = {1.0, 1.4, 1.8, 2.2, 2.6, 3.0, 3.4};
    given.beatsPerBar = 3;
    given.firstBeat = 1.4;
    const tool::AudioAnalysis analysis = Analysed(track, given);
    EXPECT_EQ(analysis.Grid().Beats().front(), 1.4);
    EXPECT_EQ(analysis.Grid().Downbeats(), (std::vector<double>{1.4, 2.6}));
    EXPECT_NEAR(analysis.Grid().BarPhase(2.0), (1 + 0.5) / 3.0, 1e-6);
  }
}

class ReactionShapingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    track = Builder().Bars(8, 120, Pattern::Basic).Done();
    analysis = Analysed(track);
  }
  tool::ReactionCurves Curves(const std::vector<std::string>& texts, long frames = 600) {
    std::vector<tool::Reaction> reactions;
    for (const std::string& text : texts) {
      tool::Reaction reaction;
      std::string error;
      EXPECT_TRUE(tool::ParseReaction(text, names, reaction, error)) << error;
      reactions.push_back(reaction);
    }
    return tool::ReactionCurves(analysis, reactions, tool::ReactionTiming(), frames);
  }
  static long FrameOf(double seconds) { return std::lround(seconds * 60.0); }

  tool::ParameterNames names = tool::ParameterProfile::TableNames();
  synthetic::Track track;
  tool::AudioAnalysis analysis;
};

// A pulse with a release in beats is gone by then, whatever the tempo; a
// lead moves the whole curve earlier; the beat phase rises the same way in
// every beat.
TEST_F(ReactionShapingTest, ReleaseInBeatsLeadAndPhaseLandOnTheBeat) {
  const tool::ReactionCurves curves =
      Curves({"zoom=0:1:beat,release=0.5b", "glow=0:1:beat,release=0.5b,lead=0.1", "brightness=0:1:beat-phase"});
  const std::vector<double>& beats = analysis.Grid().Beats();
  for (size_t i = 1; i + 2 < beats.size() && FrameOf(beats[i + 1]) < curves.Frames(); ++i) {
    const long beat = FrameOf(beats[i]);
    EXPECT_GT(curves.Value(0, beat), 0.9f) << "at beat " << i;
    EXPECT_EQ(curves.Value(0, FrameOf(beats[i] + 0.25) + 1), 0.0f) << "half a beat after beat " << i;
    // The lead of 0.1 s is 6 frames at 60 frames a second.
    EXPECT_EQ(curves.Value(1, beat - 6), curves.Value(0, beat)) << "led beat " << i;
    EXPECT_NEAR(curves.Value(2, FrameOf(beats[i] + 0.25)), 0.5f, 0.05f) << "phase half way through beat " << i;
  }
}

// dB between robust percentiles: in a quiet-loud-quiet track the quiet parts
// are low but not flat, the loud part near the top, and one transient far
// above the mix does not set the scale. A negative gain ducks.
TEST_F(ReactionShapingTest, LevelsAreScaledInDecibelsBetweenPercentiles) {
  track = Builder()
              .Bars(6, 120, Pattern::Basic, 0.1)
              .Bars(6, 120, Pattern::Basic, 1.0)
              .Bars(6, 120, Pattern::Basic, 0.1)
              .Transient(18.0, 1.0)
              .Done();
  analysis = Analysed(track);
  const long frames = static_cast<long>(track.Seconds() * 60.0);
  const tool::ReactionCurves curves =
      Curves({"zoom=0.4:0.6:bass,release=0.5", "hue=0:1:level,gain=-1,attack=0,release=0"}, frames);
  const auto mean = [&](size_t reaction, double from, double to) {
    double sum = 0.0;
    for (long f = FrameOf(from); f < FrameOf(to); ++f) sum += curves.Value(reaction, f);
    return sum / static_cast<double>(FrameOf(to) - FrameOf(from));
  };
  const double quiet = mean(0, 2.0, 12.0), loud = mean(0, 14.0, 24.0);
  EXPECT_GT(loud - quiet, 0.08) << "the bass reaction moves visibly between the parts";
  EXPECT_GT(loud, 0.55);
  EXPECT_GT(quiet, 0.41) << "the quiet part is quieter, not silent";
  EXPECT_GT(mean(1, 2.0, 12.0), mean(1, 14.0, 24.0) + 0.3) << "gain=-1 pulls the loud part down";
}

}  // namespace

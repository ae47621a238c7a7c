// The command-line host's logic in-process, without the program or a GL
// context: takes and the render timeline, segments and sequence names,
// reactions, presets, and the music analysis on a synthetic click track.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "ParameterTable.h"
#include "formats/Presets.h"
#include "formats/Takes.h"
#include "farm/Segments.h"
#include "music/AudioAnalysis.h"
#include "music/Reactions.h"
#include "output/OutputKind.h"
#include "player/LiveState.h"
#include "render/RenderPlan.h"
#include "render/RenderTimeline.h"
#include "formats/ParameterProfile.h"

namespace {

namespace fs = std::filesystem;
namespace param = tessarvander::param;
using tool::ParameterControls;
using tool::ParameterNames;
using tool::ParameterValue;

class ToolLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("tessarvander-logic-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream((folder / name).string(), std::ios::binary) << text;
    return (folder / name).string();
  }
  fs::path folder;
  ParameterNames names = tool::ParameterProfile::TableNames();
};

float ValueOf(const std::vector<ParameterValue>& values, uint32_t index) {
  for (const auto& value : values)
    if (value.index == index) return value.value;
  return NAN;
}

// A take replays its session frame for frame: its start values, each change
// at its frame, no process call while paused; ramps and --set lie over it.
TEST_F(ToolLogicTest, TakeReplaysItsSessionThroughTheTimeline) {
  const std::string path = Write("s.take",
                                 R"({"take": 1, "fps": 30, "first": 2, "parameters": {"Hue": 0.2, "Zoom": 0.1}})"
                                 "\n"
                                 R"({"frame": 3, "set": {"hue": 0.5}})"
                                 "\n"
                                 R"({"frame": 4, "pause": true})"
                                 "\n"
                                 R"({"frame": 6, "pause": false, "set": {"Fractal Type": 0.9}})"
                                 "\n"
                                 R"({"frames": 8})"
                                 "\n");
  tool::Take take;
  std::string error;
  ASSERT_TRUE(tool::LoadTake(path, names, take, error)) << error;
  EXPECT_EQ(take.framesPerSecond, 30.0);
  tool::FrameRequest request;
  const tool::FramePlan plan = tool::PlanTake(request, take);
  EXPECT_EQ(plan.preRoll, 2);
  EXPECT_EQ(plan.output, 6);

  ParameterControls controls(names);
  ASSERT_TRUE(controls.AddRamp("brightness=0:1", error)) << error;
  tool::RenderTimeline timeline(controls, plan.preRoll, plan.output, &take);
  std::vector<ParameterValue> values;
  const bool processed[] = {true, true, true, true, false, false, true, true};
  const float hue[] = {0.2f, 0.2f, 0.2f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  for (long frame = 0; frame < 8; ++frame) {
    SCOPED_TRACE(frame);
    EXPECT_EQ(timeline.Next(values), processed[frame]);
    EXPECT_EQ(timeline.HostFrame(), frame);
    EXPECT_EQ(ValueOf(values, param::Hue), hue[frame]);
    EXPECT_EQ(ValueOf(values, param::Zoom), 0.1f);
    // The ramp holds its first value through the pre-roll, and ends on its last.
    EXPECT_FLOAT_EQ(ValueOf(values, param::Brightness), frame < 2 ? 0.0f : (frame - 2) / 5.0f);
  }
  EXPECT_EQ(ValueOf(values, param::FractalType), 0.9f);

  // A still of a take is its last frame.
  request.still = true;
  const tool::FramePlan still = tool::PlanTake(request, take);
  EXPECT_EQ(still.preRoll + still.output, 8);
  EXPECT_EQ(still.output, 1);
}

// The player's live state, without a window or GL: changes from any source
// land in the values and in the take, a pause and play between two frames
// changes nothing, and the take replays the same values frame by frame.
TEST_F(ToolLogicTest, LiveStateRecordsWhatATakeReplays) {
  ParameterControls controls(names);
  std::string error;
  ASSERT_TRUE(controls.AddSet("hue=0.25", error)) << error;
  tool::LiveState live(controls, 60.0);
  EXPECT_EQ(live.Values()[param::Hue], 0.25f);
  EXPECT_EQ(live.Values()[param::Speed], tessarvander::kParameterRows[param::Speed].defaultValue);
  ASSERT_TRUE(live.Record("", folder.string(), error)) << error;
  std::vector<std::vector<ParameterValue>> sent;
  live.StartTake();
  for (long frame = 0; frame < 6; ++frame) {
    if (frame == 2) live.Apply({{param::Zoom, 0.9f}, {param::Hue, 0.5f}});
    if (frame == 3) {
      live.SetPaused(true);
      live.Set(param::Hue, 0.75f);  // a change while paused shows with the next frame
      live.SetPaused(false);
    }
    sent.push_back(live.AllValues());
    live.FrameShown();
  }
  EXPECT_EQ(live.ShownFrames(), 6);
  live.WriteTake((folder / "live.take").string());
  EXPECT_FALSE(live.TakeRecording());
  ASSERT_TRUE(live.SettleHistory(10.0));
  const std::vector<tool::TakeJournal::News> news = live.JournalNews();
  ASSERT_EQ(news.size(), 1u);
  EXPECT_FALSE(news[0].problem) << news[0].line;

  tool::Take take;
  ASSERT_TRUE(tool::LoadTake((folder / "live.take").string(), names, take, error)) << error;
  const ParameterControls noControls(names);
  tool::RenderTimeline timeline(noControls, take.first, take.frames - take.first, &take);
  std::vector<ParameterValue> values;
  for (long frame = 0; frame < 6; ++frame) {
    EXPECT_TRUE(timeline.Next(values)) << frame;
    for (const auto& [index, value] : sent[frame]) EXPECT_EQ(ValueOf(values, index), value) << frame << " " << index;
  }
}

// The parts of a render cover every frame once, in order, for any count;
// sequence names number the frames globally.
TEST_F(ToolLogicTest, SegmentsCoverTheRenderOnceAndSequencesNumberGlobally) {
  for (long frames : {1L, 7L, 90L, 1001L})
    for (long count = 1; count <= std::min(frames, 12L); ++count) {
      long expected = 0;
      for (long k = 1; k <= count; ++k) {
        long first = 0, end = 0;
        tool::SegmentRange({k, count}, frames, first, end);
        EXPECT_EQ(first, expected) << k << "/" << count << " of " << frames;
        EXPECT_GT(end, first) << "no empty part";
        expected = end;
      }
      EXPECT_EQ(expected, frames);
    }
  tool::SegmentSpec segment;
  std::string error;
  EXPECT_TRUE(tool::ParseSegment("2/4", segment, error));
  EXPECT_EQ(segment.index, 2);
  for (const char* bad : {"0/3", "4/3", "two/3", "3", "1/0", "-1/3", "1/99999999999"})
    EXPECT_FALSE(tool::ParseSegment(bad, segment, error)) << bad;

  std::string name;
  ASSERT_TRUE(tool::SequenceName("frames/f_%05d.png", 42, name));
  EXPECT_EQ(name, "frames/f_00042.png");
  ASSERT_TRUE(tool::SequenceName("100%%_%d.png", 7, name));
  EXPECT_EQ(name, "100%_7.png");
  EXPECT_FALSE(tool::SequenceName("f_%d_%d.png", 1, name));
  EXPECT_FALSE(tool::SequenceName("f_%s.png", 1, name));
}

TEST_F(ToolLogicTest, ReactionsAreReadOrRefusedWithOneLine) {
  tool::Reaction reaction;
  std::string error;
  ASSERT_TRUE(tool::ParseReaction("pulse amount=0.1:0.8:beat", names, reaction, error)) << error;
  EXPECT_EQ(reaction.index, param::PulseAmount);
  EXPECT_EQ(reaction.from, 0.1f);
  EXPECT_EQ(reaction.to, 0.8f);
  EXPECT_EQ(reaction.feature, tool::AudioFeature::Beat);
  // An empty message: read.
  const std::pair<const char*, const char*> texts[] = {
      {"hue=0:1:sparkle", "unknown feature \"sparkle\""},
      {"sparkle=0:1:bass", "unknown parameter \"sparkle\""},
      {"hue=0:bass", "is not of the form NAME=FROM:TO:FEATURE"},
      {"hue=a:1:bass", "\"a\" is not a number"},
      {"hue=0:1e39:bass", "too large"},
      {"hue=0:1:bass,release=2", ""},
      {"hue=0:1:bass,release=0.5b,lead=-0.25b,curve=2,gain=-1,threshold=0.1", ""},
      {"hue=0:1:bass,release=61", "out of range"},
      {"hue=0:1:bass,release=-1", "out of range"},
      {"hue=0:1:bass,release=1e400b", "not a number"},
      {"hue=0:1:bass,threshold=1", "out of range (0 to 0.99)"},
      {"hue=0:1:bass,curve=0", "out of range"},
      {"hue=0:1:bass,sparkle=1", "unknown setting \"sparkle\""},
      {"hue=0:1:bass,release", "is not KEY=VALUE"},
      {"hue=0:1:bass,", "is not KEY=VALUE"},
  };
  for (const auto& [text, message] : texts) {
    if (*message == '\0') {
      EXPECT_TRUE(tool::ParseReaction(text, names, reaction, error)) << error;
      continue;
    }
    EXPECT_FALSE(tool::ParseReaction(text, names, reaction, error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST_F(ToolLogicTest, PresetsAreReadOrRefusedWithTheirPlace) {
  std::vector<ParameterValue> values;
  std::string error;
  ASSERT_TRUE(tool::LoadPreset(Write("good.json", R"({"format": "tessarvander-preset", "version": 1,
      "parameters": {"fractal-type": 0.6, "Color Mode": 0.45}})"),
                              names, values, error))
      << error;
  EXPECT_EQ(ValueOf(values, param::FractalType), 0.6f);
  EXPECT_EQ(ValueOf(values, param::ColorMode), 0.45f);
  const std::pair<std::string, const char*> bad[] = {
      {"{\"format\": \"tessarvander-preset\",\n  \"version\": 1,,\n}", "not JSON at line 2, column 16"},
      {R"({"format": "tessarvander-preset", "version": 1, "parameters": {"Sparkle": 1}})",
       "key \"parameters\" / \"Sparkle\" names no parameter of this plugin"},
      {R"({"format": "tessarvander-preset", "version": 1, "parameters": {"Hue": "red"}})",
       "key \"parameters\" / \"Hue\" must be a finite number"},
      {R"({"format": "tessarvander-preset", "version": 7, "parameters": {}})", "key \"version\" must be 1"},
  };
  for (const auto& [text, message] : bad) {
    values.clear();
    EXPECT_FALSE(tool::LoadPreset(Write("bad.json", text), names, values, error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

// A click every half second for 10 s, made here: the tempo is 120 beats a
// minute and a beat falls on every click.
TEST_F(ToolLogicTest, ClickTrackGivesItsTempoAndBeats) {
  constexpr int kRate = 44100;
  std::vector<float> samples(static_cast<size_t>(10 * kRate), 0.0f);
  for (int click = 0; click < 20; ++click)
    for (int i = 0; i < 441; ++i)
      samples[static_cast<size_t>(click * kRate / 2 + i)] = static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / kRate));
  tool::AudioAnalysis analysis;
  std::string error;
  ASSERT_TRUE(analysis.Analyse(samples, kRate, error)) << error;
  EXPECT_NEAR(analysis.Grid().BeatsPerMinute(), 120.0, 0.12);
  for (int click = 0; click < 20; ++click) {
    const double at = click * 0.5;
    const auto& beats = analysis.Grid().Beats();
    const bool near = std::any_of(beats.begin(), beats.end(), [&](double beat) { return std::fabs(beat - at) < 0.025; });
    EXPECT_TRUE(near) << "no beat within 25 ms of the click at " << at << " s";
  }
}

}  // namespace

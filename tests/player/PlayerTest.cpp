// The live player in-process, through its window and clock seams: the pace
// and the catch-up at one pixel, crossfades and blackouts frame by frame,
// stills and takes against what render draws, Ctrl-C, and every kind of
// input through one Apply. No display, no sleeps: the clock moves when the
// player waits or the test turns it.
#define GLFW_INCLUDE_NONE  // only the key codes
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <regex>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ParameterTable.h"
#include "PlayerHarness.h"
#include "SyntheticMusic.h"
#include "RunProgram.h"
#include "formats/CueSheet.h"
#include "formats/MidiMap.h"
#include "formats/OscAddresses.h"
#include "formats/OscMessages.h"
#include "player/Keys.h"
#include "remote/OscQueryTree.h"
#include "formats/ParameterProfile.h"
#include "sys/Interrupts.h"
#include "sys/WorkerThread.h"
#include "music/Director.h"
#include "music/LiveAnalysis.h"
#include "player/Autopilot.h"
#include "music/Reactions.h"
#include "player/CueCompiler.h"
#include "render/RenderJob.h"
#include "render/RenderPlan.h"
#include "render/RenderTimeline.h"
#include "output/StillSink.h"

namespace playertest {
namespace {

namespace param = tessarvander::param;

// Writes RGBA pixels (bottom row first) as a PNG, to look at.
void WritePicture(const std::vector<uint8_t>& pixels, int width, int height, const std::string& path) {
  tool::PngStillSink sink;
  std::string error;
  EXPECT_TRUE(sink.Start(path, width, height, tool::PngOptions(), error) && sink.Write(pixels.data(), 0, error) &&
              sink.Finish(error))
      << error;
}

// "saved still PATH (frame N of the flight, ...)": the frame, or -1.
long StillFrame(const std::vector<std::string>& said, const std::string& name) {
  const std::regex still("saved still \\S*" + name + " \\(frame (\\d+) ");
  for (const std::string& line : said) {
    std::smatch found;
    if (std::regex_search(line, found, still)) return std::stol(found[1]);
  }
  return -1;
}

class PlayerStageTest : public PlayerTest {
 protected:
  void Start() {
    player = std::make_unique<tool::Player>(window, clock, Session(), *controls, options);
    player->Messages().Follow([this](const tool::Console::Line& line) { said.push_back(line.text); });
    std::string error;
    ASSERT_TRUE(player->Start(error)) << error;
  }
  // The bank the director and the autopilot change between: three looks
  // of other palettes and fractal types.
  void LoadThreeLooks() {
    std::string error;
    ASSERT_TRUE(options.bank.Load(Bank({{"1-ice", R"("Color Mode": 0.15, "Fractal Type": 0.1)"},
                                        {"2-fire", R"("Color Mode": 0.25, "Fractal Type": 0.4)"},
                                        {"3-nebula", R"("Color Mode": 0.55, "Fractal Type": 0.6)"}}),
                                  controls->Names(), error))
        << error;
  }
  // Drums, a break of a pad alone, drums again, at 126.
  static synthetic::Track SongWithABreak(int before, int pad, int after) {
    return synthetic::Builder(0.0)
        .Bars(before, 126, synthetic::Pattern::Basic)
        .Bars(pad, 126, synthetic::Pattern::PadOnly)
        .Bars(after, 126, synthetic::Pattern::Basic)
        .Done();
  }
  bool SaidSomething(const std::string& part) const {
    for (const std::string& line : said)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> said;
};

// Exactly --fps calls a second of the clock: a pass that finds one frame due
// draws it; a draw that took a tenth of a second leaves six frames due, five
// advanced at one pixel and the newest drawn. The take holds every frame, and
// re-renders to the picture shown.
TEST_F(PlayerStageTest, TheFlightKeepsTheClockAndCatchesUpAtOnePixel) {
  options.takePath = Path("show.take");
  Start();
  const double started = clock.Now();
  PlayFrames(30);
  EXPECT_EQ(player->Statistics().drawn, 30);
  EXPECT_EQ(player->Statistics().advanced, 0);
  EXPECT_NEAR(player->Statistics().lastCallAt - started, 29.0 / 60.0, 1e-9) << "frame k is called at k/60 s";
  EXPECT_EQ(player->Health().Value(tool::Health::Frame), 30.0f);
  EXPECT_NEAR(player->Health().Value(tool::Health::DrawnPerSecond), 60.0f, 6.0f);
  EXPECT_GT(player->Health().Value(tool::Health::Memory), 1.0f);

  clock.Turn(0.1);  // a slow draw
  Pass();
  EXPECT_EQ(Shown(), 37);
  EXPECT_EQ(player->Statistics().advanced, 6);
  EXPECT_EQ(player->Statistics().drawn, 31);
  const std::vector<uint8_t> shown = player->Picture().ReadRgba8();

  window.Press(GLFW_KEY_Q, tool::kKeyControl);
  Pass();
  EXPECT_TRUE(player->Done());
  Finish();
  EXPECT_TRUE(SaidSomething("saved take " + Path("show.take") + " (frames 0 to 37)"));
  EXPECT_EQ(RenderTakeFrame(Path("show.take"), 37), shown) << "the take re-renders the picture of frame 37";
}

// A look of the bank recalled over a one-second morph eases in over 60
// frames: half way at frame 30, where the fractal type switches, and the
// look's own values at the end. B fades to exact black in --blackout-time;
// an empty slot is said, and the show goes on.
TEST_F(PlayerStageTest, RecallsCrossfadeAndTheBlackoutFadeFrameByFrame) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-dim", R"("Brightness": 0.2, "Fractal Type": 0.1)"},
                                      {"2-bright", R"("Brightness": 0.8, "Fractal Type": 0.9)"}}),
                                controls->Names(), error))
      << error;
  options.crossfadeSeconds = 1.0;
  options.transition = tool::Transition::Morph;
  options.blackoutSeconds = 0.1;
  Start();
  window.Press(GLFW_KEY_1);
  PlayFrames(61);
  EXPECT_FLOAT_EQ(Value(param::Brightness), 0.2f);
  EXPECT_TRUE(SaidSomething("preset 1: 1-dim"));

  window.Press(GLFW_KEY_RIGHT_BRACKET);
  std::vector<float> brightness, type;
  for (int frame = 0; frame < 60; ++frame) {
    PlayFrames(1);
    brightness.push_back(Value(param::Brightness));
    type.push_back(Value(param::FractalType));
  }
  EXPECT_NEAR(brightness[29], 0.5f, 1e-3) << "half way at frame 30 of 60";
  EXPECT_FLOAT_EQ(brightness[59], 0.8f);
  for (int frame = 1; frame < 60; ++frame) EXPECT_GE(brightness[frame], brightness[frame - 1]) << frame;
  EXPECT_FLOAT_EQ(type[28], 0.1f);
  EXPECT_FLOAT_EQ(type[29], 0.9f) << "the fractal type switches half way";

  window.Press(GLFW_KEY_B);
  PlayFrames(5);
  EXPECT_GT(player->Show().Level(), 0.0f) << "the fade takes its six frames";
  PlayFrames(1);
  EXPECT_EQ(player->Show().Level(), 0.0f);
  const std::vector<uint8_t> black = player->Picture().ReadRgba8();
  for (size_t i = 0; i < black.size(); i += 4) ASSERT_EQ(black[i] | black[i + 1] | black[i + 2], 0) << "pixel " << i / 4;
  window.Press(GLFW_KEY_B);
  PlayFrames(6);
  EXPECT_EQ(player->Show().Level(), 1.0f);

  window.Press(GLFW_KEY_5);
  Pass();
  EXPECT_TRUE(SaidSomething("preset 5 is empty")) << "the keys' slots the bank did not fill";
  EXPECT_FALSE(player->Done());
}

// Stills from outside: one a frame, the rest refused and said once; each
// still is the take's frame as render draws it. While paused no frame is
// processed, so two stills are the same picture of the same frame.
TEST_F(PlayerStageTest, StillsAreOneAFrameAndTheTakesOwnFrames) {
  options.takePath = Path("show.take");
  Start();
  PlayFrames(20);
  for (const char* name : {"first.png", "second.png", "third.png"}) {
    tool::PlayerRequest still(tool::PlayerAction::SaveStill);
    still.text = name;
    player->Input().Apply(still);
  }
  PlayFrames(1);
  Pass();
  ASSERT_TRUE(player->SettleWrites(10.0));
  EXPECT_TRUE(fs::exists(Path("first.png")));
  EXPECT_FALSE(fs::exists(Path("second.png")));
  EXPECT_TRUE(SaidSomething("refused 2 still requests: one still a frame"));
  const long first = StillFrame(said, "first.png");
  ASSERT_GT(first, 0);

  player->Input().Apply(tool::PlayerRequest(tool::PlayerAction::Pause));
  window.Press(GLFW_KEY_S);
  Pass();
  Pass();
  const long shownWhilePaused = Shown();
  window.Press(GLFW_KEY_S);
  Pass();
  Pass();
  ASSERT_TRUE(player->SettleWrites(10.0));
  EXPECT_EQ(Shown(), shownWhilePaused) << "no frame while paused";
  std::vector<std::string> paused;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".png" && entry.path().filename().string().rfind("tessarvander-", 0) == 0)
      paused.push_back(entry.path().string());
  ASSERT_EQ(paused.size(), 2u);
  EXPECT_EQ(testsupport::ReadFile(paused[0]), testsupport::ReadFile(paused[1]));

  window.Close();
  Pass();
  Finish();
  const auto still = testsupport::RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-i", Path("first.png"), "-vf", "vflip",
                                              "-f", "rawvideo", "-pix_fmt", "rgba", "pipe:1"});
  const std::vector<uint8_t> rendered = RenderTakeFrame(Path("show.take"), first);
  EXPECT_EQ(std::vector<uint8_t>(still.out.begin(), still.out.end()), rendered) << "the still is the take's frame " << first;
}

// Ctrl-C in the terminal ends the show at the next pass, and the video in
// progress is finished: it has as many frames as the flight went through
// while it recorded, drawn or advanced.
TEST_F(PlayerStageTest, CtrlCFinishesTheVideoInProgress) {
  options.takePath = Path("show.take");
  Start();
  window.Press(GLFW_KEY_R);
  PlayFrames(10);
  clock.Turn(0.05);  // three frames advanced at one pixel, repeated in the video
  PlayFrames(10);
  tool::InstallInterruptHandlers();
  std::raise(SIGINT);
  EXPECT_TRUE(player->Done());
  Finish();
  std::string video;
  long frames = 0;
  const std::regex saved(R"(saved video (\S+) \((\d+) frames)");
  for (const std::string& line : said) {
    std::smatch found;
    if (std::regex_search(line, found, saved)) video = found[1], frames = std::stol(found[2]);
  }
  ASSERT_FALSE(video.empty()) << "no video saved";
  EXPECT_EQ(frames, Shown()) << "every frame of the flight from the first";
  const auto probe = testsupport::RunProgram({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-select_streams",
                                              "v:0", "-show_entries", "stream=nb_read_frames", "-of",
                                              "default=nw=1:nk=1", video});
  EXPECT_EQ(std::atol(probe.out.c_str()), frames) << probe.err;
  EXPECT_TRUE(fs::exists(Path("show.take")));
}

// A take holds what the audience saw: a blackout's fade re-renders frame for
// frame, black included; and a show quit while a controller is still
// sending (the last change lands on the final frame) leaves a take that
// renders.
TEST_F(PlayerStageTest, TheTakeHoldsTheBlackoutAndEndsCleanlyOnCtrlQ) {
  options.takePath = Path("show.take");
  options.blackoutSeconds = 0.1;
  Start();
  PlayFrames(10);
  window.Press(GLFW_KEY_B);
  PlayFrames(3);
  const std::vector<uint8_t> fading = player->Picture().ReadRgba8();
  const long fadingFrame = Shown();
  PlayFrames(10);
  const std::vector<uint8_t> black = player->Picture().ReadRgba8();
  const long blackFrame = Shown();
  tool::PlayerRequest set(tool::PlayerAction::SetParameter, param::Zoom);
  set.value = 0.8f;
  player->Input().Apply(set);
  window.Press(GLFW_KEY_Q, tool::kKeyControl);
  Pass();
  ASSERT_TRUE(player->Done());
  Finish();
  EXPECT_EQ(RenderTakeFrame(Path("show.take"), fadingFrame), fading) << "half way to black";
  const std::vector<uint8_t> rendered = RenderTakeFrame(Path("show.take"), blackFrame);
  EXPECT_EQ(rendered, black);
  for (size_t i = 0; i < rendered.size(); i += 4) ASSERT_EQ(rendered[i] | rendered[i + 1] | rendered[i + 2], 0);
}

// Only the picture reaches the audience: in full screen without an output
// window nothing is drawn over it (a blackout is every pixel 0, with a recall
// said meanwhile), and what the player says goes to the title; on an output
// window the same, while the panel is in the first window.
TEST_F(PlayerStageTest, NothingButThePictureReachesTheAudience) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-a", R"("Zoom": 0.3)"}, {"2-b", R"("Zoom": 0.7)"}}), controls->Names(), error))
      << error;
  options.blackoutSeconds = 0.1;
  options.outputMonitor = "";
  window.SetOutputMonitor(160, 90);
  Start();
  window.Press(GLFW_KEY_F);
  window.Press(GLFW_KEY_B);
  PlayFrames(10);
  window.Press(GLFW_KEY_H);  // the keys, asked for: to the terminal, not over the audience's picture
  window.Press(GLFW_KEY_2);
  PlayFrames(2);
  EXPECT_TRUE(SaidSomething("the keys are in the terminal"));
  const auto black = [](const std::vector<uint8_t>& pixels) {
    for (size_t i = 0; i < pixels.size(); i += 4)
      if (pixels[i] | pixels[i + 1] | pixels[i + 2]) return false;
    return !pixels.empty();
  };
  EXPECT_TRUE(black(window.WindowPixels())) << "no message, prompt or panel over the audience's picture";
  EXPECT_NE(window.Title().find("preset 2: 2-b"), std::string::npos) << window.Title();
  window.Press(GLFW_KEY_Q);
  PlayFrames(1);
  EXPECT_NE(window.Title().find("press Q again to quit"), std::string::npos) << window.Title();

  window.Press(GLFW_KEY_O);  // the projector: the panel comes back in the first window
  window.Press(GLFW_KEY_1);
  PlayFrames(3);
  EXPECT_TRUE(black(window.OutputPixels())) << "the output window shows the picture alone";
  EXPECT_FALSE(black(window.WindowPixels())) << "the panel is drawn in the first window";
}

// Taps at 120 drive a beat-phase motion that rises once a beat, and a sine
// shape at rate=1b goes round once a beat; no live sound is needed. The take
// holds the values, and re-renders the frames exactly.
TEST_F(PlayerStageTest, TappedTempoDrivesMotionsAndTheTakeKeepsThem) {
  std::string error;
  tool::Reaction phase, sine;
  ASSERT_TRUE(tool::ParseReaction("brightness=0.2:1:beat-phase", controls->Names(), phase, error)) << error;
  ASSERT_TRUE(tool::ParseReaction("zoom=0.3:0.7:lfo-sine,rate=1b", controls->Names(), sine, error)) << error;
  options.rig.reactions = {phase, sine};
  options.takePath = Path("show.take");
  Start();
  for (int tap = 0; tap < 4; ++tap) {
    player->Input().Apply(tool::PlayerRequest(tool::PlayerAction::Tap));
    PlayFrames(30);  // half a second: 120 a minute
  }
  std::vector<float> brightness, zoom;
  for (int frame = 0; frame < 240; ++frame) {
    PlayFrames(1);
    brightness.push_back(Value(param::Brightness));
    zoom.push_back(Value(param::Zoom));
  }
  std::vector<int> drops, peaks;  // the phase falls back as each beat starts; the sine peaks mid-beat
  for (int frame = 1; frame + 1 < 240; ++frame) {
    if (brightness[frame] < brightness[frame - 1] - 0.5f) drops.push_back(frame);
    if (zoom[frame] > zoom[frame - 1] && zoom[frame] >= zoom[frame + 1]) peaks.push_back(frame);
  }
  ASSERT_GE(drops.size(), 7u);
  for (size_t k = 1; k < drops.size(); ++k) EXPECT_NEAR(drops[k] - drops[k - 1], 30, 1) << "once a beat";
  ASSERT_GE(peaks.size(), 7u);
  for (size_t k = 1; k < peaks.size(); ++k) EXPECT_NEAR(peaks[k] - peaks[k - 1], 30, 1) << "one period a beat";
  EXPECT_NEAR(*std::max_element(zoom.begin(), zoom.end()), 0.7f, 0.01f);
  const std::vector<uint8_t> shown = player->Picture().ReadRgba8();
  const long frame = Shown();
  window.Close();
  Pass();
  Finish();
  EXPECT_EQ(RenderTakeFrame(Path("show.take"), frame), shown) << "the take replays the motions";
}

// Taps timed when the key went down, under draws of 70 ms: exactly 120 a
// minute reads 120 (timed when the loop took them, they read 118). A new
// tempo shows only once it has held. Then the performer's hand on a
// scripted tempo, read at any time as one line of beats: a nudge moves the
// beat a step, a held one pushes on; "the one" makes now a downbeat;
// doubling and halving keep the beats counting on; a lock holds the tempo
// against new taps until released, and the beats run on without a jump.
TEST_F(PlayerStageTest, TheTempoIsInThePerformersHands) {
  Start();
  player->SetDrawDelay(0.07 / (160.0 * 90.0 / 1e6));
  tool::StageRig& rig = player->Rig();
  const auto beats = [&](double at) { return rig.Tempo(at).beats; };
  const auto passUntil = [&](double at) {
    while (clock.Now() < at) Pass();
  };
  const double first = clock.Now() + 0.013, last = first + 3.5;
  for (int tap = 0; tap < 8; ++tap) {
    passUntil(first + 0.5 * tap);
    window.Press(GLFW_KEY_ENTER, 0, first + 0.5 * tap);
    if (tap == 2) {
      EXPECT_EQ(rig.Shown().BeatsPerMinute(), 0.0) << "a tempo of two taps, not yet confirmed";
      EXPECT_TRUE(rig.Shown().Changing());
    }
  }
  Pass();
  EXPECT_NEAR(rig.Tempo(clock.Now()).beatsPerMinute, 120.0, 0.01);
  EXPECT_NEAR(player->Health().Value(tool::Health::Tempo), 120.0, 0.01) << "confirmed";
  // Eight taps: the last is beat 7; every time reads off that line.
  double t = clock.Now() + 0.01;
  EXPECT_NEAR(beats(t), 7.0 + 2.0 * (t - last), 1e-9);

  double shift = 0.0;
  const auto press = [&](int key, double held) {
    const double at = clock.Now();
    window.Press(key, 0, at);
    if (held > 0.0) window.Release(key, at + held);
    passUntil(at + held + 0.01);
  };
  press(GLFW_KEY_RIGHT, 0.1);
  shift += 1.0 / 32.0;
  t = clock.Now();
  EXPECT_NEAR(beats(t), 7.0 + 2.0 * (t - last) + shift, 1e-9) << "a step earlier";
  press(GLFW_KEY_RIGHT, 1.3);
  shift += 1.0 / 32.0 + 0.25 * (1.3 - 0.3);
  t = clock.Now();
  EXPECT_NEAR(beats(t), 7.0 + 2.0 * (t - last) + shift, 1e-9) << "held: a push of a quarter beat a second";
  press(GLFW_KEY_LEFT, 0.05);
  shift -= 1.0 / 32.0;
  t = clock.Now();
  EXPECT_NEAR(beats(t), 7.0 + 2.0 * (t - last) + shift, 1e-9) << "a step later";

  double at = clock.Now();
  window.Press(GLFW_KEY_D, 0, at);
  Pass();
  EXPECT_NEAR(std::fmod(beats(at), 4.0), 0.0, 1e-9) << "the one: a downbeat when D went down";
  EXPECT_EQ(rig.Tempo(at + 0.01).BeatInBar(), 0);

  at = clock.Now();
  const double before = beats(at);
  window.Press(GLFW_KEY_UP, 0, at);
  Pass();
  EXPECT_NEAR(rig.Tempo(at).beatsPerMinute, 240.0, 0.01);
  EXPECT_NEAR(beats(at), before, 1e-9) << "no jump";
  EXPECT_NEAR(beats(at + 0.5), before + 2.0, 1e-9);
  EXPECT_NEAR(rig.Shown().BeatsPerMinute(), 240.0, 0.01) << "the hand's tempo shows at once";
  window.Press(GLFW_KEY_DOWN, 0, clock.Now());
  window.Press(GLFW_KEY_DOWN, 0, clock.Now());
  Pass();
  EXPECT_NEAR(rig.Tempo(clock.Now()).beatsPerMinute, 60.0, 0.01);
  window.Press(GLFW_KEY_UP);
  Pass();

  window.Press(GLFW_KEY_L);
  Pass();
  EXPECT_TRUE(rig.TempoLocked());
  passUntil(clock.Now() + 2.5);  // a new run of taps, at 100 a minute
  const double run = clock.Now();
  for (int tap = 0; tap < 4; ++tap) {
    passUntil(run + 0.6 * tap);
    window.Press(GLFW_KEY_ENTER, 0, run + 0.6 * tap);
  }
  passUntil(run + 2.0);
  EXPECT_NEAR(rig.Tempo(clock.Now()).beatsPerMinute, 120.0, 0.01) << "locked against the taps";
  EXPECT_EQ(player->Health().Value(tool::Health::TempoLocked), 1.0f);
  at = clock.Now();
  const double held = beats(at);
  window.Press(GLFW_KEY_L, 0, at);
  Pass();
  EXPECT_FALSE(rig.TempoLocked());
  EXPECT_NEAR(rig.Tempo(at).beatsPerMinute, 100.0, 0.01) << "the taps lead again";
  EXPECT_NEAR(beats(at), held, 1e-9) << "from where the held beats stood";
}

// A look recalled with a dissolve is drawn by the second instance beside the
// first, and the two pictures are blended: half way, the picture is the
// mean of the two instances' pictures (within 1/255); at the end it is the
// new look's picture alone, to the bit the picture a cut to it gives at that
// frame (the looks travel at different speeds, so an instance with a clock
// of its own would be elsewhere); a take re-renders the dissolve frame for
// frame.
TEST_F(PlayerStageTest, ALookDissolvesInFromASecondInstanceAndEndsWhereACutWould) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-julia", R"("Fractal Type": 0.4, "Color Mode": 0.25, "Speed": 0.2)"},
                                      {"2-mandel", R"("Fractal Type": 0.9, "Color Mode": 0.55, "Zoom": 0.7,
                                                      "Speed": 0.9, "Depth Layers": 0.8)"}}),
                                controls->Names(), error))
      << error;
  options.crossfadeSeconds = 1.0;
  options.takePath = Path("show.take");
  Start();
  PlayFrames(10);
  window.Press(GLFW_KEY_2);
  PlayFrames(30);
  EXPECT_FLOAT_EQ(player->Show().Live().Mix(), 0.5f) << "half way at frame 30 of 60";
  const std::vector<uint8_t> first = player->DeckPair().Deck(0).Target().ReadRgba8();
  const std::vector<uint8_t> second = player->DeckPair().Deck(1).Target().ReadRgba8();
  const std::vector<uint8_t> halfway = player->Picture().ReadRgba8();
  ASSERT_EQ(halfway.size(), first.size());
  EXPECT_NE(first, second) << "two looks";
  int worst = 0;
  for (size_t i = 0; i < halfway.size(); i += 4)
    for (size_t c = 0; c < 3; ++c)
      worst = std::max(worst, std::abs(2 * halfway[i + c] - first[i + c] - second[i + c]));
  EXPECT_LE(worst, 2) << "the mean of the two pictures, within 1/255";
  const long halfwayFrame = Shown();
  PlayFrames(31);
  EXPECT_EQ(player->Show().Live().Mix(), 1.0f);
  EXPECT_EQ(player->Picture().ReadRgba8(), player->DeckPair().Deck(1).Target().ReadRgba8());
  EXPECT_FLOAT_EQ(player->Show().Live().Values()[param::FractalType], 0.9f) << "changes go to the new look";
  const std::vector<uint8_t> end = player->Picture().ReadRgba8();
  const long endFrame = Shown();
  window.Close();
  Pass();
  Finish();
  EXPECT_EQ(RenderTakeFrame(Path("show.take"), halfwayFrame), halfway) << "the take re-renders the dissolve";
  EXPECT_EQ(RenderTakeFrame(Path("show.take"), endFrame), end);

  // The same show with a cut at the same frame.
  player.reset();
  options.crossfadeSeconds = 0.0;
  options.takePath.clear();
  tool::HeadlessWindow another;
  ASSERT_TRUE(another.Create(160, 90, error)) << error;
  tool::Player cut(another, clock, Session(), *controls, options);
  ASSERT_TRUE(cut.Start(error)) << error;
  auto playTo = [&](long frame) {
    while (cut.Show().Live().ShownFrames() < frame) ASSERT_TRUE(cut.Pass(error)) << error;
  };
  playTo(10);
  another.Press(GLFW_KEY_2);
  playTo(endFrame);
  ASSERT_EQ(cut.Show().Live().ShownFrames(), endFrame);
  EXPECT_EQ(cut.Picture().ReadRgba8(), end) << "the dissolve ends on the cut's picture";
}

// Looks recall whole: a bank's look that names only Zoom sets every other
// parameter to the plugin's default, whatever a controller moved before, so
// a recall gives the same look every time; a preset file loaded over the
// look is an overlay and the look's name says so. A look found during the
// show is stored into a slot at once (Shift+3) under "slot 3", the panel
// asks for a better name (a hostile one becomes a plain file name), and it
// is recalled equal; an empty slot says so; the bank saved twice is two new
// folders, nothing replaced, and reads back as a bank.
TEST_F(PlayerStageTest, LooksRecallWholeAndStoredOnesAreNamedRecalledAndSaved) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-a", R"("Zoom": 0.3)"}, {"2-b", R"("Zoom": 0.7, "Hue": 0.2)"}}),
                                controls->Names(), error))
      << error;
  Start();
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.3f) << "the show opens on the bank's first look";
  tool::PlayerRequest set(tool::PlayerAction::SetParameter, param::Hue);
  set.value = 0.9f;
  player->Input().Apply(tool::OscCommand{set, 0.0, "controller", ""});
  window.Press(GLFW_KEY_1);
  PlayFrames(2);
  EXPECT_FLOAT_EQ(Value(param::Hue), 0.6f) << "the look sets what it does not name to the default";
  EXPECT_EQ(player->Show().LookName(), "1-a");
  tool::PlayerRequest overlay(tool::PlayerAction::LoadPreset);
  overlay.text = "/somewhere/warm.json";
  overlay.values = {{param::Hue, 0.05f}};
  player->Input().Apply(overlay);
  EXPECT_FLOAT_EQ(Value(param::Hue), 0.05f);
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.3f) << "a file laid over the look keeps what it does not name";
  EXPECT_EQ(player->Show().LookName(), "1-a with warm.json (1 of 19 parameters) over it");

  set.value = 0.125f;
  player->Input().Apply(set);
  const std::vector<float> look = player->Show().Live().Values();
  window.Press(GLFW_KEY_3, tool::kKeyShift);
  window.Press(GLFW_KEY_2);
  PlayFrames(2);
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.7f);
  EXPECT_EQ(player->Show().Bank().Name(2), "slot 3");
  EXPECT_EQ(player->Panel().Naming(), 2) << "the panel asks for its name";
  tool::PlayerRequest name(tool::PlayerAction::NamePreset, 2);
  name.text = "../../warm\nlook\x01";
  player->Input().Apply(name);
  EXPECT_EQ(player->Show().Bank().Name(2), "warmlook");
  EXPECT_EQ(player->Panel().Naming(), -1) << "named: the panel asks no more";
  window.Press(GLFW_KEY_3);
  PlayFrames(2);
  EXPECT_EQ(player->Show().Live().Values(), look) << "the stored look, recalled";
  window.Press(GLFW_KEY_5);
  PlayFrames(1);
  EXPECT_TRUE(SaidSomething("preset 5 is empty"));
  window.Press(GLFW_KEY_P);
  PlayFrames(1);
  window.Press(GLFW_KEY_P);
  PlayFrames(1);
  ASSERT_TRUE(player->SettleWrites(10.0)) << "the saves are written off the frame loop";
  std::vector<std::string> saved;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind("tessarvander-bank-", 0) == 0) saved.push_back(entry.path().string());
  ASSERT_EQ(saved.size(), 2u) << "two saves, two folders";
  tool::PresetBank again;
  ASSERT_TRUE(again.Load(saved[0], controls->Names(), error)) << error;
  EXPECT_EQ(again.Name(2), "03-warmlook");
  EXPECT_EQ(again.Values(2).size(), look.size());
  EXPECT_EQ(again.Partial(), 0u) << "every look saved whole";
}

// A look cued (Ctrl+2) waits in the preview while the show goes on: a third
// instance draws it small, as the cued look's values draw from the moment
// it was cued (a fresh instance given the same frames is equal to the bit),
// and the panel shows it; G sends it out as a recall does, and the cue is
// gone. Go with nothing cued, or a cue of an empty slot, says why.
TEST_F(PlayerStageTest, ACuedLookShowsInThePreviewAndGoesOutOnGo) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-a", R"("Zoom": 0.3)"}, {"2-b", R"("Zoom": 0.7, "Fractal Type": 0.9)"}}),
                                controls->Names(), error))
      << error;
  Start();
  PlayFrames(3);
  window.Press(GLFW_KEY_2, tool::kKeyControl);
  PlayFrames(9);
  EXPECT_EQ(player->Show().Cued(), 1);
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.3f) << "the audience still sees look 1";
  tool::FrameLoop fresh;
  ASSERT_TRUE(fresh.Start(Session(), 192, 108, 60.0, error)) << error;
  const std::vector<tool::ParameterValue>& look = player->Show().Bank().Values(1);
  for (long frame = 0; frame < 9; ++frame)
    ASSERT_TRUE(frame % tool::CuePreview::kDrawEvery == 0 ? fresh.Draw(frame, look) : fresh.Advance(frame, look));
  EXPECT_EQ(player->CuedPreview().Picture().ReadRgba8(), fresh.Target().ReadRgba8()) << "the cued look, drawn small";
  EXPECT_TRUE(player->CuedPreview().Drawn());

  window.Press(GLFW_KEY_G);
  PlayFrames(1);
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.7f) << "gone out";
  EXPECT_EQ(player->Show().Cued(), -1);
  EXPECT_TRUE(SaidSomething("preset 2: 2-b"));
  window.Press(GLFW_KEY_G);
  window.Press(GLFW_KEY_5, tool::kKeyControl);
  PlayFrames(1);
  EXPECT_TRUE(SaidSomething("nothing is cued"));
  EXPECT_TRUE(SaidSomething("preset 5 is empty"));
}

// The director on a song with known sections (8 bars, a 4-bar break without
// drums, 8 bars): looks change at bar 1 and at the two section changes
// (within a bar of where the music changes), into the quiet break by a
// dissolve over a bar and back into the drums by a cut; the stage, played on
// the song's beats, makes the changes on the downbeats' frames (within one);
// and the rendered video's picture jumps at the cut's frame.
TEST_F(PlayerStageTest, TheDirectorCutsOnDownbeatsAtTheSongsSections) {
  const synthetic::Track song = SongWithABreak(8, 4, 8);
  tool::AudioAnalysis analysis;
  std::string error;
  ASSERT_TRUE(analysis.Analyse(song.samples, synthetic::kRate, error)) << error;
  LoadThreeLooks();
  const tool::CueSheet sheet = tool::Direct(analysis, {"1-ice", "2-fire", "3-nebula"}, tool::DirectorOptions());
  ASSERT_EQ(sheet.cues.size(), 3u) << tool::CueSheetText(sheet, controls->Names());
  const double bar = 4 * 60.0 / 126;
  const tool::Cue& into = sheet.cues[1];
  const tool::Cue& back = sheet.cues[2];
  EXPECT_EQ(into.at.bar, 9.0);
  EXPECT_EQ(back.at.bar, 13.0);
  EXPECT_EQ(into.length.amount, 1.0) << "a dissolve over a bar into the quiet";
  EXPECT_EQ(into.length.unit, tool::CueLength::Unit::Bars);
  EXPECT_EQ(back.length.amount, 0.0) << "a cut into the drums";
  EXPECT_NE(sheet.cues[0].look, into.look);
  EXPECT_NE(into.look, back.look);

  tool::CueRender render;
  render.sheet = &sheet;
  render.where = "cues";
  render.bank = &options.bank;
  render.grid = &analysis.Grid();
  render.framesPerSecond = 60.0;
  render.frames = static_cast<long>(song.Seconds() * 60.0);
  std::string text;
  std::vector<std::string> said;
  std::vector<double> firedAt;
  const tool::ParameterProfile profile = tool::ParameterProfile::For(Session().Description());
  ASSERT_TRUE(tool::CompileCues(render, *controls, profile, text, said, firedAt, error)) << error;
  ASSERT_EQ(firedAt.size(), 3u);
  tool::Take take;
  ASSERT_TRUE(tool::ParseTake(text, "cues", controls->Names(), take, error)) << error;
  ASSERT_TRUE(take.twoDecks);
  // Where the stage's values and crossfader change.
  tool::TakePlayer played(take, controls->Names());
  long cutFrame = -1, dissolveStart = -1, dissolveEnd = -1;
  float mix = 0.0f, colour = -1.0f;
  for (long frame = 0; frame < take.frames; ++frame) {
    played.Advance(frame);
    if (played.Mix() != mix && dissolveStart < 0) dissolveStart = frame;
    if (played.Mix() == 1.0f && mix < 1.0f) dissolveEnd = frame;
    mix = played.Mix();
    float now = -1.0f;
    for (const tool::ParameterValue& value : mix >= 1.0f ? played.SecondDeck() : played.Values())
      if (value.index == param::ColorMode) now = value.value;
    if (colour >= 0.0f && now != colour && frame > dissolveEnd && dissolveEnd > 0) cutFrame = frame;
    colour = now;
  }
  // On the song's downbeats as its analysis found them, within a frame
  // (and those within a few milliseconds of the known ones).
  const std::vector<double>& downbeats = analysis.Grid().Downbeats();
  ASSERT_GE(downbeats.size(), 13u);
  EXPECT_NEAR(downbeats[8], song.downbeats[8], 0.035);
  EXPECT_NEAR(dissolveStart, downbeats[8] * 60.0, 1.0) << "the dissolve starts on bar 9's downbeat";
  // Each end is the first whole frame past its moment, so the length in
  // frames is within two of the bar's.
  EXPECT_NEAR(dissolveEnd - dissolveStart, bar * 60.0, 2.0) << "over a bar";
  EXPECT_NEAR(cutFrame, downbeats[12] * 60.0, 1.0) << "the cut on bar 13's downbeat";

  // Rendered, the picture jumps at the cut, more than in any frame around it.
  tool::FrameRequest request;
  request.framesGiven = true;
  request.frames = take.frames;
  request.framesPerSecond = 60.0;
  const tool::FramePlan plan = tool::PlanTake(request, take);
  tool::RenderTimeline timeline(*controls, plan.preRoll, plan.output, &take);
  tool::RenderJob job;
  job.width = 48;
  job.height = 27;
  job.framesPerSecond = 60.0;
  job.preRoll = plan.preRoll;
  job.end = plan.output;
  MemorySink sink;
  sink.bytes = 48 * 27 * 4;
  ASSERT_EQ(tool::RunRender(Session(), timeline, job, sink, error), tool::RenderOutcome::Done) << error;
  const auto change = [&](long frame) {
    long sum = 0;
    for (size_t i = 0; i < sink.bytes; ++i) sum += std::abs(sink.frames[frame][i] - sink.frames[frame - 1][i]);
    return sum;
  };
  long jump = cutFrame - 30;
  for (long frame = cutFrame - 30; frame <= cutFrame + 30; ++frame) jump = change(frame) > change(jump) ? frame : jump;
  EXPECT_EQ(jump, cutFrame) << "the picture changes look at the cut";
}

// The autopilot on tapped beats (a bar a second): a new look on the
// downbeat that ends each 16-bar phrase, dissolved over two beats; the
// performer's recall at bar 26 makes it wait 8 bars, so bar 32 passes and
// bar 48 changes again. The take re-renders a dissolve it made.
TEST_F(PlayerStageTest, TheAutopilotChangesLooksOnPhrasesAndWaitsForThePerformer) {
  LoadThreeLooks();
  options.autopilot = true;
  options.takePath = Path("pilot.take");
  Start();
  ASSERT_TRUE(SaidSomething("autopilot on"));
  const long firstTap = Shown();
  for (int tap = 0; tap < 4; ++tap) {
    player->Input().Apply(tool::PlayerRequest(tool::PlayerAction::Tap));
    PlayFrames(15);  // 240 a minute: a bar is 60 frames
  }
  std::vector<long> changes;
  std::vector<uint8_t> dissolving;
  long dissolvingFrame = -1;
  const auto playTo = [&](long frame) {
    while (Shown() < frame) {
      const size_t before = said.size();
      PlayFrames(1);
      for (size_t k = before; k < said.size(); ++k)
        if (said[k].rfind("autopilot: a new phrase", 0) == 0) changes.push_back(Shown() - 1);
      if (!changes.empty() && dissolvingFrame < 0 && Shown() - 1 == changes[0] + 15) {
        dissolving = player->Picture().ReadRgba8();
        dissolvingFrame = Shown() - 1;
      }
    }
  };
  playTo(firstTap + 26 * 60 + 20);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_NEAR(changes[0], firstTap + 16 * 60, 1) << "on bar 17's downbeat";
  player->Input().Apply(tool::PlayerRequest(tool::PlayerAction::RecallPreset, 0));
  EXPECT_TRUE(SaidSomething("autopilot waits 8 bars"));
  playTo(firstTap + 49 * 60);
  EXPECT_TRUE(SaidSomething("autopilot flies the show again"));
  ASSERT_EQ(changes.size(), 2u) << "bar 33 passes while it waits";
  EXPECT_NEAR(changes[1], firstTap + 48 * 60, 1);
  window.Close();
  Pass();
  Finish();
  ASSERT_GE(dissolvingFrame, 0);
  EXPECT_EQ(RenderTakeFrame(Path("pilot.take"), dissolvingFrame + 1), dissolving) << "the take holds the dissolve";
}

// A cue sheet followed live on tapped beats (a bar a second): its bar 1 is
// the first tap, a cut at bar 3 and a blackout at bar 5 come on those
// downbeats, and a new run of taps starts the sheet again from its top.
TEST_F(PlayerStageTest, ACueSheetIsFollowedOnTheTappedGrid) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-ice", R"("Color Mode": 0.15)"}, {"2-fire", R"("Color Mode": 0.25)"}}),
                                controls->Names(), error))
      << error;
  ASSERT_TRUE(tool::ParseCueSheet("bar 3 look fire cut\nbar 5 blackout\n", "cues", controls->Names(), options.cues,
                                  error))
      << error;
  Start();
  const auto tapRun = [&] {
    const long first = Shown();
    for (int tap = 0; tap < 4; ++tap) {
      player->Input().Apply(tool::PlayerRequest(tool::PlayerAction::Tap));
      PlayFrames(15);
    }
    return first;
  };
  const auto frameOf = [&](const std::string& line, long until) {
    while (Shown() < until) {
      const size_t before = said.size();
      PlayFrames(1);
      for (size_t k = before; k < said.size(); ++k)
        if (said[k].find(line) != std::string::npos) return Shown() - 1;
    }
    return -1L;
  };
  long first = tapRun();
  EXPECT_NEAR(frameOf("cue bar 3: preset 2: 2-fire", first + 400), first + 120, 1);
  EXPECT_NEAR(frameOf("cue bar 5: blackout", first + 400), first + 240, 1);
  PlayFrames(180);  // a new run of taps, after a pause of more than two seconds
  first = tapRun();
  EXPECT_NEAR(frameOf("cue bar 3: preset 2", first + 400), first + 120, 1) << "the sheet again from its top";
}

// A long show renews its instances before the travel clock's rounding
// shows (here after about a thousand frames: the allowed error made tiny):
// the fresh instances settle unseen, dissolve in over two seconds and take
// over; the take holds the renewal, and re-renders the picture during the
// dissolve and after it, where a flight without renewal has moved on.
TEST_F(PlayerStageTest, ALongShowRenewsItsInstancesAndTheTakeFollows) {
  options.renewStepError = 6e-5;
  options.takePath = Path("long.take");
  Start();
  long renewed = -1;
  while (renewed < 0 && Shown() < 2000) {
    const size_t before = said.size();
    PlayFrames(1);
    for (size_t k = before; k < said.size(); ++k)
      if (said[k].rfind("renewing the flight's instances", 0) == 0) renewed = Shown() - 1;
  }
  ASSERT_GT(renewed, 500) << "not before the clock has grown";
  EXPECT_TRUE(player->DeckPair().Renewing());
  PlayFrames(tool::Decks::kSettleFrames + 60 - 1);
  const long dissolving = Shown();
  const std::vector<uint8_t> halfWay = player->Picture().ReadRgba8();
  PlayFrames(120);
  EXPECT_FALSE(player->DeckPair().Renewing());
  const long after = Shown();
  const std::vector<uint8_t> renewedPicture = player->Picture().ReadRgba8();
  window.Close();
  Pass();
  Finish();
  EXPECT_NE(testsupport::ReadFile(Path("long.take")).find("\"renew\":120"), std::string::npos);
  EXPECT_EQ(RenderTakeFrame(Path("long.take"), dissolving), halfWay) << "half way through the dissolve";
  EXPECT_EQ(RenderTakeFrame(Path("long.take"), after), renewedPicture) << "the fresh instance alone";
  // The same take without its renewal: the old clock, another picture.
  std::ifstream take(Path("long.take"));
  std::ofstream unrenewed(Path("unrenewed.take"));
  for (std::string line; std::getline(take, line);) {
    nlohmann::json entry = nlohmann::json::parse(line);
    entry.erase("renew");
    if (entry.size() > 1 || !entry.contains("frame")) unrenewed << entry.dump() << "\n";
  }
  unrenewed.close();
  EXPECT_NE(RenderTakeFrame(Path("unrenewed.take"), after), renewedPicture);
}

// The autopilot on live sound: a song of 12 bars of drums, 8 of a pad alone
// and 12 of drums again, heard a frame at a time by the live analysis. The
// first bar of the break is heard whole and the look dissolves over a bar
// at the next downbeat; the drums' return is cut to at the live grid's
// downbeat after their first bar (the grid finds its phase again as they
// come back, so that bar may be short); the phrases count again from each
// section, so no other change comes.
TEST_F(PlayerStageTest, TheAutopilotHearsNewSectionsInTheLiveSound) {
  const synthetic::Track song = SongWithABreak(12, 8, 12);
  std::string error;
  LoadThreeLooks();
  const tool::ParameterProfile profile = tool::ParameterProfile::For(Session().Description());
  tool::Stage stage(*controls, profile, options);
  tool::Autopilot pilot({"1-ice", "2-fire", "3-nebula"}, 1, true);
  std::vector<std::string> lines;
  pilot.Switch(true, lines);
  tool::LiveAnalysis analysis;
  ASSERT_TRUE(analysis.Begin(synthetic::kRate, error)) << error;
  const size_t perFrame = synthetic::kRate / 60;
  struct Change { double seconds; std::string line; };
  std::vector<Change> changes;
  double lastBeats = -1;
  std::vector<double> gridDownbeats;
  for (size_t at = 0; at + perFrame <= song.samples.size(); at += perFrame) {
    analysis.Feed(song.samples.data() + at, perFrame);
    tool::Autopilot::Moment now;
    if (analysis.BeatsPerMinute() > 0.0) {
      now.beats = analysis.Beats();
      now.secondsPerBeat = 60.0 / analysis.BeatsPerMinute();
    }
    const double heard = analysis.Seconds();
    now.heard = true;
    now.sound = {analysis.DecibelsAt(tool::AudioFeature::Level, heard),
                 analysis.DecibelsAt(tool::AudioFeature::Bass, heard),
                 analysis.DecibelsAt(tool::AudioFeature::Mid, heard),
                 analysis.DecibelsAt(tool::AudioFeature::Treble, heard)};
    if (now.beats >= 0.0 && std::floor(now.beats / 4) > std::floor(lastBeats / 4)) gridDownbeats.push_back(heard);
    lastBeats = std::max(lastBeats, now.beats);
    lines.clear();
    pilot.Frame(stage, now, lines);
    stage.StepFrame({});
    for (const std::string& line : lines) changes.push_back({analysis.Seconds(), line});
  }
  ASSERT_EQ(changes.size(), 2u);
  const double latency = analysis.LatencySeconds() + 1.0 / 60.0;
  EXPECT_NEAR(changes[0].seconds, song.downbeats[13], latency) << "the bar after the break's first";
  EXPECT_NE(changes[0].line.find("a new section"), std::string::npos);
  EXPECT_EQ(changes[0].line.find("a cut"), std::string::npos) << "a dissolve into the quiet";
  EXPECT_GT(changes[1].seconds, song.downbeats[20]);
  EXPECT_LE(changes[1].seconds, song.downbeats[21] + latency) << "within the bar after the drums' return";
  EXPECT_TRUE(std::count(gridDownbeats.begin(), gridDownbeats.end(), changes[1].seconds)) << "on a downbeat";
  EXPECT_NE(changes[1].line.find("a cut"), std::string::npos) << "a cut into the drums: " << changes[1].line;
}

// --scale auto: with draws slowed (by a cost on the clock for every pixel),
// the drawing size steps down, no more than a step a second, until the
// target rate holds, and the window shows it upscaled as the model of the
// filter computes; with the cost gone, it steps back up to full size.
TEST_F(PlayerStageTest, TheDrawingScaleHoldsTheTargetRate) {
  options.targetPerSecond = 30.0;
  Start();
  window.Press(GLFW_KEY_TAB);  // the picture alone in the window
  window.Press(GLFW_KEY_M);
  player->SetDrawDelay(0.1 / (160.0 * 90.0 / 1e6));  // a tenth of a second for the whole picture
  std::vector<std::pair<double, double>> changes;  // (clock, scale)
  double scale = player->DrawingScale();
  const auto play = [&](double seconds) {
    const double until = clock.Now() + seconds;
    while (clock.Now() < until) {
      Pass();
      if (player->DrawingScale() != scale) changes.push_back({clock.Now(), scale = player->DrawingScale()});
    }
  };
  play(10.0);
  EXPECT_LT(player->DrawingScale(), 1.0);
  EXPECT_GE(player->DrawingScale(), 0.25);
  const double settled = player->DrawingScale();
  // The window shows the small picture brought up by Lanczos-2, bounded by
  // the four nearest pixels: as this model of it computes, within 2/255.
  const std::vector<uint8_t> small = player->Picture().ReadRgba8(), shown = window.WindowPixels();
  const int sw = player->Picture().Width(), sh = player->Picture().Height();
  const auto lanczos = [](double x) {
    x = std::fabs(x);
    if (x < 1e-5) return 1.0;
    if (x >= 2.0) return 0.0;
    const double a = M_PI * x;
    return 2.0 * std::sin(a) * std::sin(a / 2.0) / (a * a);
  };
  int worst = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 160; ++x)
      for (int c = 0; c < 3; ++c) {
        const double gx = (x + 0.5) * sw / 160.0 - 0.5, gy = (y + 0.5) * sh / 90.0 - 0.5;
        const int bx = static_cast<int>(std::floor(gx)), by = static_cast<int>(std::floor(gy));
        double sum = 0.0, total = 0.0, lowest = 255.0, highest = 0.0;
        for (int j = -1; j <= 2; ++j)
          for (int i = -1; i <= 2; ++i) {
            const int px = std::clamp(bx + i, 0, sw - 1), py = std::clamp(by + j, 0, sh - 1);
            const double value = small[(static_cast<size_t>(py) * sw + px) * 4 + c];
            const double w = lanczos(i - (gx - bx)) * lanczos(j - (gy - by));
            sum += w * value, total += w;
            if ((i == 0 || i == 1) && (j == 0 || j == 1)) lowest = std::min(lowest, value), highest = std::max(highest, value);
          }
        const double expected = std::clamp(sum / total, lowest, highest);
        worst = std::max(worst, static_cast<int>(std::lround(std::fabs(expected - shown[(y * 160 + x) * 4 + c]))));
      }
  EXPECT_LE(worst, 2) << "the upscale, against its model";
  const long drawn = player->Statistics().drawn;
  play(5.0);
  EXPECT_EQ(player->DrawingScale(), settled) << "it holds, and does not pump";
  EXPECT_GE(static_cast<double>(player->Statistics().drawn - drawn) / 5.0, 0.85 * 30.0) << "the target rate holds";
  player->SetDrawDelay(0.0);
  play(10.0);
  EXPECT_EQ(player->DrawingScale(), 1.0) << "room again: back to full size";
  for (size_t k = 1; k < changes.size(); ++k) EXPECT_GE(changes[k].first - changes[k - 1].first, 1.0) << k;
}

// At 1280x720 the panel's main controls fit without scrolling, and no
// button's label is wider than its button.
TEST_F(PlayerStageTest, ThePanelFitsA720pWindow) {
  tool::HeadlessWindow large;
  std::string error;
  std::vector<std::pair<std::string, std::string>> looks;
  for (const char* name : {"01-rainbow-kaleidoscope", "02-julia-fire", "03-ferrofluid-ice", "04-mandelbrot-tunnel",
                           "05-nebula-fold", "06-synthwave-julia", "07-matrix-branches", "08-monochrome-lines",
                           "09-rainbow-star", "10-breathing-ice", "11-fire-turn", "12-violet-julia"})
    looks.push_back({name, R"("Zoom": 0.5)"});
  ASSERT_TRUE(options.bank.Load(Bank(looks), controls->Names(), error)) << error;
  ASSERT_TRUE(large.Create(1280, 720, error)) << error;
  player = std::make_unique<tool::Player>(large, clock, Session(), *controls, options);
  ASSERT_TRUE(player->Start(error)) << error;
  Pass();
  Pass();
  const tool::PanelLayout& layout = player->Panel().Layout();
  EXPECT_FALSE(layout.scrolls);
  EXPECT_LE(layout.contentHeight, layout.windowHeight);
  EXPECT_LE(layout.windowHeight, 720.0f);
  EXPECT_GT(layout.buttons, 20);
  for (const std::string& clipped : layout.clippedButtons) ADD_FAILURE() << "clipped: " << clipped;
  if (const char* screenshot = std::getenv("SCREENSHOT")) WritePicture(large.WindowPixels(), 1280, 720, screenshot);
  player.reset();  // before its window
}

// A MIDI pad, an OSC message, a key and a panel button ask for the same
// things in the same words, and go through one Apply: a blackout held by a
// momentary pad and let go, a recall, a pause and play; parameter changes
// from the panel, OSC and MIDI land in the values and the take.
TEST_F(PlayerStageTest, KeysPanelOscAndMidiAskThroughOneApply) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-a", R"("Zoom": 0.3)"}, {"2-b", R"("Zoom": 0.7)"}}), controls->Names(), error))
      << error;
  Start();
  PlayFrames(2);
  // What an OSC message and a learned MIDI pad ask, decoded by their own
  // tables.
  const auto osc = [&](const std::string& address, const char* types = "", float value = 0.0f) {
    lo_message message = lo_message_new();
    if (types[0] == 'i') lo_message_add_int32(message, static_cast<int32_t>(value));
    if (types[0] == 'f') lo_message_add_float(message, value);
    size_t size = 0;
    char* bytes = static_cast<char*>(lo_message_serialise(message, address.c_str(), nullptr, &size));
    lo_message_free(message);
    tool::OscDecoded decoded = tool::DecodeOsc(bytes, size, controls->Names());
    std::free(bytes);
    EXPECT_TRUE(decoded.ok) << address << ": " << decoded.why;
    return decoded.command;
  };
  tool::MidiMap map(controls->Names());
  std::vector<float> values = player->Show().Live().Values();
  const auto pad = [&](uint8_t note, bool down) {
    tool::MidiResult result;
    map.Handle({down ? tool::MidiEvent::NoteOn : tool::MidiEvent::NoteOff, 0, note, 100}, values, result);
    return result.actions;
  };
  tool::MidiTarget blackout, recall;
  blackout.isAction = recall.isAction = true;
  blackout.action = tool::PlayerAction::SetBlackout;
  recall.action = tool::PlayerAction::RecallPreset;
  recall.number = 1;
  map.Learn(blackout);
  pad(36, true);
  map.Learn(recall);
  pad(37, true);

  const tool::OscCommand message = osc("/tessarvander/blackout", "i", 1);
  const std::vector<tool::PlayerRequest> pressed = pad(36, true);
  ASSERT_EQ(pressed.size(), 1u);
  EXPECT_EQ(pressed[0].action, tool::PlayerAction::SetBlackout);
  EXPECT_EQ(message.request.action, pressed[0].action);
  EXPECT_EQ(message.request.on, pressed[0].on);
  EXPECT_TRUE(pad(37, false).empty()) << "a recall pad's release asks nothing";

  player->Input().Apply(pressed[0]);
  EXPECT_TRUE(player->Show().GoingToBlack());
  const std::vector<tool::PlayerRequest> released = pad(36, false);
  ASSERT_EQ(released.size(), 1u);
  player->Input().Apply(released[0]);
  EXPECT_FALSE(player->Show().GoingToBlack()) << "a momentary pad lets go";
  for (const tool::PlayerRequest& request : pad(37, true)) player->Input().Apply(request);
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.7f);
  player->Input().Apply(osc("/tessarvander/preset/recall", "i", 1));
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.3f);
  player->Input().Apply(osc("/tessarvander/pause"));
  EXPECT_TRUE(player->Show().Live().Paused());
  window.Press(GLFW_KEY_SPACE);
  Pass();
  EXPECT_FALSE(player->Show().Live().Paused());

  player->Input().Apply(osc("/tessarvander/param/hue", "f", 0.125f));
  EXPECT_FLOAT_EQ(Value(param::Hue), 0.125f);
  player->PanelChanges().edits.push_back({param::Hue, 0.375f});
  player->PanelChanges().actions.push_back(tool::PlayerRequest(tool::PlayerAction::ToggleBlackout));
  Pass();
  EXPECT_FLOAT_EQ(Value(param::Hue), 0.375f);
  EXPECT_TRUE(player->Show().GoingToBlack());
}

// The show never waits on what is outside it. The disk (every writer held,
// as a frozen filesystem holds them), the terminal (standard output and
// error a pipe nobody reads) and the controllers (a reply address that
// never reads) all block; a controller floods messages that fail, and sets
// a parameter every frame. No pass of the loop waits (none takes half a
// second of wall time), the failures are said once, and the take renders.
TEST_F(PlayerStageTest, TheShowNeverWaitsOnADiskATerminalOrAClient) {
  options.takePath = Path("stall.take");
  options.quiet = false;
  const int deaf = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);  // bound, never read
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(deaf, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(deaf, reinterpret_cast<sockaddr*>(&address), &length);
  options.oscPort = 20000 + getpid() % 20000;
  options.oscReply = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  Start();
  std::signal(SIGPIPE, SIG_IGN);
  int terminal[2];
  ASSERT_EQ(pipe2(terminal, O_CLOEXEC), 0);
  const int standardOut = dup(1), standardError = dup(2);
  dup2(terminal[1], 1);
  dup2(terminal[1], 2);
  tool::WorkerThread::HoldForTests(true);
  double longest = 0.0;
  tool::OscCommand learn;
  learn.request = tool::PlayerRequest(tool::PlayerAction::Learn);
  learn.request.text = "no-such-knob";
  for (int pass = 0; pass < 600; ++pass) {
    if (pass == 300) tool::WorkerThread::HoldForTests(false);  // the disk thaws; the terminal stays unread
    tool::PlayerRequest set(tool::PlayerAction::SetParameter, param::Hue);
    set.value = static_cast<float>(pass % 100) / 100.0f;
    player->Input().Apply(set);
    for (int k = 0; k < 20; ++k) player->Input().Apply(learn);
    const auto started = std::chrono::steady_clock::now();
    Pass();
    longest = std::max(longest, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  dup2(standardOut, 1);
  dup2(standardError, 2);
  close(standardOut);
  close(standardError);
  // A pass that waited on a held writer or the unread terminal would not end
  // at all; the bound catches a wait with a timeout, and leaves room for a
  // machine busy with other work (a pass takes a few milliseconds alone, and
  // has taken over 100 ms with two other jobs on two cores).
  EXPECT_LT(longest, 0.5) << "a pass waited on the world";
  std::thread drain([&] {
    char buffer[4096];
    while (read(terminal[0], buffer, sizeof buffer) > 0) {
    }
  });
  Finish();
  player.reset();  // its terminal's writer says what waits, and ends
  close(terminal[1]);
  drain.join();
  close(terminal[0]);
  close(deaf);
  tool::Take take;
  std::string error;
  ASSERT_TRUE(tool::LoadTake(Path("stall.take"), controls->Names(), take, error)) << error;
  EXPECT_EQ(take.frames, 600);
  EXPECT_EQ(std::count_if(said.begin(), said.end(), [](const std::string& line) { return line.find("no-such-knob") != std::string::npos; }),
            0) << "failures go to the controllers' door, said once there, not a line each";
}

}  // namespace
}  // namespace playertest

namespace playertest {
namespace {

// The README and the OSC page list the keys and the addresses exactly as
// the tables that the player follows print them: a new key or address
// without its line in the documents fails here.
TEST(VocabularyTest, TheDocumentsListEveryKeyAndAddressAsTheTablesDo) {
  const std::string readme = testsupport::ReadFile(TESSARVANDER_SOURCE_DIR "/README.md");
  const std::string osc = testsupport::ReadFile(TESSARVANDER_SOURCE_DIR "/docs/osc.md");
  EXPECT_NE(readme.find("```\n" + tool::KeyHelp() + "\n```"), std::string::npos) << "README's keys:\n" << tool::KeyHelp();
  for (const std::string& document : {readme, osc})
    EXPECT_NE(document.find("```\n" + tool::OscHelp() + "```"), std::string::npos) << "OSC addresses:\n" << tool::OscHelp();
  // Every address a document names is one the decoder knows, or a node of
  // the OSCQuery tree (which adds read-only ones).
  const tool::ParameterProfile profile = tool::ParameterProfile::For({"QLMB", "", 0, 0, 0, 0, 0, "", ""});
  const tool::OscQueryTree tree(tool::ParameterProfile::TableNames().Parameters(), profile, 12);
  const std::regex named(R"((?:^|[\s`(])(/tessarvander/[a-z0-9_/-]+))");
  for (const std::string& document : {readme, osc, testsupport::ReadFile(TESSARVANDER_SOURCE_DIR "/docs/stage.md"),
                                       testsupport::ReadFile(TESSARVANDER_SOURCE_DIR "/docs/midi-and-tempo.md")})
    for (std::sregex_iterator match(document.begin(), document.end(), named), end; match != end; ++match) {
      std::string name, address = (*match)[1].str();
      if (address.back() == '/') address.pop_back();
      EXPECT_TRUE(tool::FindOscAddress(address, name) || tree.Find(address)) << address;
    }
}

}  // namespace
}  // namespace playertest

// The live player in-process, through its window and clock seams: the pace
// and the catch-up at one pixel, crossfades and blackouts frame by frame,
// stills and takes against what render draws, Ctrl-C, and every kind of
// input through one Apply. No display, no sleeps: the clock moves when the
// player waits or the test turns it.
#define GLFW_INCLUDE_NONE  // only the key codes
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include "ParameterTable.h"
#include "PlayerHarness.h"
#include "RunProgram.h"
#include "formats/OscAddresses.h"
#include "player/Keys.h"
#include "sys/Interrupts.h"

namespace playertest {
namespace {

namespace param = tessarvander::param;

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

// A look of the bank recalled over a one-second crossfade eases in over 60
// frames: half way at frame 30, where the fractal type switches, and the
// look's own values at the end. B fades to exact black in --blackout-time;
// a look that is not there is said, and the show goes on.
TEST_F(PlayerStageTest, RecallsCrossfadeAndTheBlackoutFadeFrameByFrame) {
  std::string error;
  ASSERT_TRUE(options.bank.Load(Bank({{"1-dim", R"("Brightness": 0.2, "Fractal Type": 0.1)"},
                                      {"2-bright", R"("Brightness": 0.8, "Fractal Type": 0.9)"}}),
                                controls->Names(), error))
      << error;
  options.crossfadeSeconds = 1.0;
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
  EXPECT_TRUE(SaidSomething("no preset 5 in the bank of 2"));
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
    tool::OscCommand still;
    still.kind = tool::OscKind::Still;
    still.text = name;
    player->Input().Apply(still);
  }
  PlayFrames(1);
  Pass();
  EXPECT_TRUE(fs::exists(Path("first.png")));
  EXPECT_FALSE(fs::exists(Path("second.png")));
  EXPECT_TRUE(SaidSomething("refused 2 still requests: one still a frame"));
  const long first = StillFrame(said, "first.png");
  ASSERT_GT(first, 0);

  tool::OscCommand pause;
  pause.kind = tool::OscKind::Pause;
  player->Input().Apply(pause);
  window.Press(GLFW_KEY_S);
  Pass();
  Pass();
  const long shownWhilePaused = Shown();
  window.Press(GLFW_KEY_S);
  Pass();
  Pass();
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
  tool::OscCommand set;
  set.kind = tool::OscKind::SetParameter;
  set.index = param::Zoom;
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
  const auto osc = [](tool::OscKind kind, float value = 0.0f, uint32_t index = 0) {
    tool::OscCommand command;
    command.kind = kind;
    command.value = value;
    command.index = index;
    return command;
  };
  const std::optional<tool::PlayerRequest> pad = tool::RequestFromMidi({tool::MidiAction::Blackout, 0, true});
  const std::optional<tool::PlayerRequest> message = tool::RequestFromOsc(osc(tool::OscKind::Blackout, 1.0f));
  ASSERT_TRUE(pad && message);
  EXPECT_EQ(pad->action, tool::PlayerAction::SetBlackout);
  EXPECT_EQ(message->action, pad->action);
  EXPECT_EQ(message->on, pad->on);
  EXPECT_FALSE(tool::RequestFromMidi({tool::MidiAction::Still, 0, false})) << "a pad's release asks nothing";

  player->Input().Apply(tool::MidiResult::Triggered{tool::MidiAction::Blackout, 0, true});
  EXPECT_TRUE(player->Show().GoingToBlack());
  player->Input().Apply(tool::MidiResult::Triggered{tool::MidiAction::Blackout, 0, false});
  EXPECT_FALSE(player->Show().GoingToBlack()) << "a momentary pad lets go";
  player->Input().Apply(tool::MidiResult::Triggered{tool::MidiAction::Recall, 1, true});
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.7f);
  player->Input().Apply(osc(tool::OscKind::RecallPreset, 0.0f, 0));
  EXPECT_FLOAT_EQ(Value(param::Zoom), 0.3f);
  player->Input().Apply(osc(tool::OscKind::Pause));
  EXPECT_TRUE(player->Show().Live().Paused());
  window.Press(GLFW_KEY_SPACE);
  Pass();
  EXPECT_FALSE(player->Show().Live().Paused());

  player->Input().Apply(osc(tool::OscKind::SetParameter, 0.125f, param::Hue));
  EXPECT_FLOAT_EQ(Value(param::Hue), 0.125f);
  player->PanelChanges().edits.push_back({param::Hue, 0.375f});
  player->PanelChanges().actions.push_back(tool::PlayerRequest(tool::PlayerAction::ToggleBlackout));
  Pass();
  EXPECT_FLOAT_EQ(Value(param::Hue), 0.375f);
  EXPECT_TRUE(player->Show().GoingToBlack());
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
  // Every address a document names is one the decoder knows.
  const std::regex named(R"((?:^|[\s`(])(/tessarvander/[a-z_/-]+))");
  for (const std::string& document : {readme, osc, testsupport::ReadFile(TESSARVANDER_SOURCE_DIR "/docs/stage.md"),
                                       testsupport::ReadFile(TESSARVANDER_SOURCE_DIR "/docs/midi-and-tempo.md")})
    for (std::sregex_iterator match(document.begin(), document.end(), named), end; match != end; ++match) {
      std::string name, address = (*match)[1].str();
      if (address.back() == '/') address.pop_back();
      EXPECT_TRUE(tool::FindOscAddress(address, name) || address == "/tessarvander/param") << address;
    }
}

}  // namespace
}  // namespace playertest

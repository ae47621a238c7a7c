// What the performer plugs in, in-process: MIDI decoding, learning and the
// map file; the tempo from taps, a MIDI clock and Link; devices that are
// not there. The live sound's analysis is tested beside it
// (tests/music/LiveAnalysisTest.cpp).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <fstream>
#include <future>
#include <thread>

#include "JackRig.h"
#include "RunProgram.h"
#include "SyntheticMusic.h"
#include "music/LiveAnalysis.h"
#include "player/StageRig.h"
#include "rig/AudioInput.h"
#include "rig/LinkSession.h"
#include "rig/MidiInput.h"
#include "formats/MidiMap.h"
#include "rig/Tempo.h"
#include "sys/SteadyClock.h"
#include "formats/ParameterProfile.h"

namespace fs = std::filesystem;

namespace {

const tool::ParameterNames& Names() { return tool::ParameterProfile::TableNames(); }

uint32_t Index(const std::string& name) {
  uint32_t index = 0;
  std::string error;
  EXPECT_TRUE(Names().Resolve(name, index, error)) << error;
  return index;
}

// Sends raw bytes through the decoder into the map, as the player does.
tool::MidiResult Send(tool::MidiMap& map, std::vector<float>& values, std::initializer_list<std::vector<uint8_t>> messages) {
  tool::MidiResult result;
  for (const std::vector<uint8_t>& bytes : messages) {
    tool::MidiEvent event;
    if (tool::DecodeMidi(bytes.data(), bytes.size(), event) == tool::MidiDecoded::Event) map.Handle(event, values, result);
  }
  for (const auto& edit : result.edits) values[edit.index] = edit.value;
  return result;
}

class RigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tessarvander-rig-test-" + std::to_string(getpid()));
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = folder / name;
    std::ofstream(path) << text;
    return path.string();
  }
  fs::path folder;
};

}  // namespace

// Learning maps the next control moved (the move itself does nothing); the
// values then follow: 7-bit, a 14-bit pair once its fine half arrives,
// endless encoders in both conventions, notes as toggles and momentary
// actions, a note on of velocity 0 as a release. The map written after
// every change reads back to the same mappings.
TEST_F(RigTest, LearnedControlsDriveParametersAndActionsAndTheMapRoundTrips) {
  tool::MidiMap map(Names());
  std::vector<float> values(Names().Parameters().size(), 0.5f);
  const uint32_t zoom = Index("Zoom"), hue = Index("Hue"), glow = Index("Glow"), speed = Index("Speed");
  auto learn = [&](uint32_t parameter) {
    tool::MidiTarget target;
    target.parameter = parameter;
    map.Learn(target);
  };

  learn(zoom);
  tool::MidiResult result = Send(map, values, {{0xB0, 74, 10}});
  EXPECT_TRUE(result.mapChanged);
  EXPECT_EQ(result.learned, "Zoom: controller 74 on channel 1");
  EXPECT_TRUE(result.edits.empty()) << "the learning move does not act";
  Send(map, values, {{0xB0, 74, 127}});
  EXPECT_FLOAT_EQ(values[zoom], 1.0f);
  Send(map, values, {{0xB1, 74, 0}});  // another channel: not mapped
  EXPECT_FLOAT_EQ(values[zoom], 1.0f);

  learn(hue);
  Send(map, values, {{0xB2, 7, 0}});
  result = Send(map, values, {{0xB2, 7, 64}, {0xB2, 39, 0}});  // coarse, then fine: 8192 of 16383
  EXPECT_TRUE(result.mapChanged) << "the fine half makes it a 14-bit pair";
  EXPECT_NEAR(values[hue], 8192.0f / 16383.0f, 1e-6);
  Send(map, values, {{0xB2, 7, 127}, {0xB2, 39, 127}});
  EXPECT_FLOAT_EQ(values[hue], 1.0f);

  learn(speed);
  Send(map, values, {{0xB0, 16, 1}});
  map.SetMode(map.Mappings().size() - 1, tool::MidiMode::Relative);
  values[speed] = 0.5f;
  Send(map, values, {{0xB0, 16, 3}, {0xB0, 16, 127}});  // +3, -1
  EXPECT_NEAR(values[speed], 0.5f + 2.0f / 128.0f, 1e-6);
  map.SetMode(map.Mappings().size() - 1, tool::MidiMode::RelativeOffset);
  Send(map, values, {{0xB0, 16, 60}});  // -4
  EXPECT_NEAR(values[speed], 0.5f - 2.0f / 128.0f, 1e-6);
  Send(map, values, {{0xB0, 16, 127}, {0xB0, 16, 127}, {0xB0, 16, 127}});
  EXPECT_LE(values[speed], 1.0f) << "never past the parameter's range";

  learn(glow);
  Send(map, values, {{0x99, 36, 100}});
  values[glow] = 0.0f;
  Send(map, values, {{0x99, 36, 90}, {0x89, 36, 0}});
  EXPECT_FLOAT_EQ(values[glow], 1.0f) << "a pad toggles a parameter";
  Send(map, values, {{0x99, 36, 90}, {0x99, 36, 0}});
  EXPECT_FLOAT_EQ(values[glow], 0.0f);

  tool::MidiTarget blackout;
  blackout.isAction = true;
  blackout.action = tool::PlayerAction::SetBlackout;
  map.Learn(blackout);
  Send(map, values, {{0x99, 40, 100}});
  result = Send(map, values, {{0x99, 40, 100}, {0x99, 40, 0}});
  ASSERT_EQ(result.actions.size(), 2u);
  EXPECT_TRUE(result.actions[0].on);
  EXPECT_FALSE(result.actions[1].on) << "velocity 0 releases a momentary pad";
  tool::MidiTarget recall = blackout;
  recall.action = tool::PlayerAction::RecallPreset;
  recall.number = 4;
  map.Learn(recall);
  Send(map, values, {{0x99, 41, 100}});
  result = Send(map, values, {{0x99, 41, 100}});
  ASSERT_EQ(result.actions.size(), 1u);
  EXPECT_EQ(result.actions[0].action, tool::PlayerAction::RecallPreset);
  EXPECT_EQ(result.actions[0].number, 4);

  // Learning a target again replaces its control.
  learn(zoom);
  Send(map, values, {{0xB0, 75, 0}});
  EXPECT_EQ(std::count_if(map.Mappings().begin(), map.Mappings().end(),
                          [&](const tool::MidiMapping& m) { return !m.target.isAction && m.target.parameter == zoom; }),
            1);

  std::string error;
  const std::string path = (folder / "map.json").string();
  ASSERT_TRUE(map.Save(path, error)) << error;
  tool::MidiMap read(Names());
  ASSERT_TRUE(read.Load(path, error)) << error;
  EXPECT_EQ(read.ToJson(), map.ToJson());
  EXPECT_EQ(read.Mappings().size(), 6u);
  EXPECT_NE(map.ToJson().find("\"bits\": 14"), std::string::npos) << map.ToJson();
  EXPECT_NE(map.ToJson().find("\"relative-offset\""), std::string::npos);
}

// Bytes that are not a message are malformed, never a value; kinds not
// mapped are ignored. A hostile map file is refused with one line naming
// the file and the entry, and nothing half read is kept; so is a hostile
// name to learn. A flood from a port keeps its bound, and samples that are
// not numbers leave the live features in range.
TEST_F(RigTest, MalformedMidiAndHostileMapFilesAreRefused) {
  tool::MidiEvent event;
  const std::vector<std::vector<uint8_t>> malformed = {
      {}, {0x40, 0x10}, {0xB0, 74}, {0xB0, 74, 0x80}, {0x90, 36, 100, 1}, {0xF8, 0}, {0xC0}};
  for (const auto& bytes : malformed)
    EXPECT_EQ(tool::DecodeMidi(bytes.data(), bytes.size(), event), tool::MidiDecoded::Malformed) << bytes.size();
  const std::vector<std::vector<uint8_t>> ignored = {{0xE0, 0, 64}, {0xC0, 5}, {0xF0, 1, 2, 0xF7}, {0xFE}};
  for (const auto& bytes : ignored)
    EXPECT_EQ(tool::DecodeMidi(bytes.data(), bytes.size(), event), tool::MidiDecoded::Ignored);
  const uint8_t clock = 0xF8;
  ASSERT_EQ(tool::DecodeMidi(&clock, 1, event), tool::MidiDecoded::Event);
  EXPECT_EQ(event.kind, tool::MidiEvent::Clock);

  const std::string head = R"({"format": "tessarvander-midi-map", "version": 1, "mappings": [)";
  std::string many = head;
  for (int i = 0; i < 600; ++i) many += std::string(i ? "," : "") + R"({"channel":1,"controller":1,"mode":"absolute","parameter":"Zoom"})";
  many += "]}";
  const std::vector<std::pair<std::string, std::string>> hostile = {
      {R"({"format": "tessarvander-preset", "version": 1})", "not a MIDI map"},
      {head + R"({"channel": 17, "controller": 1, "mode": "absolute", "parameter": "Zoom"}]})", "channel"},
      {head + R"({"channel": 1, "controller": 1, "mode": "absolute", "parameter": "Zo\nom"}]})", "mapping 1"},
      {head + R"({"channel": 1, "note": 1, "mode": "absolute", "parameter": "Zoom"}]})", "momentary, toggle"},
      {head + R"({"channel": 1, "controller": 40, "bits": 14, "mode": "absolute", "parameter": "Zoom"}]})", "14 bits"},
      {head + R"({"channel": 1, "note": 1, "mode": "toggle", "action": "rm -rf"}]})", "no action"},
      {head + R"({"channel": 1, "note": 1, "mode": "toggle", "action": "recall", "preset": 0}]})", "preset"},
      {head + R"("x"]})", "must be an object"},
      {many, "at most 512"},
      {head + "]", "line"}};
  for (const auto& [text, said] : hostile) {
    tool::MidiMap map(Names());
    std::string error;
    EXPECT_FALSE(map.Load(Write("map.json", text), error)) << text.substr(0, 120);
    EXPECT_NE(error.find(said), std::string::npos) << error;
    EXPECT_NE(error.find("map.json"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_TRUE(map.Mappings().empty());
  }
  const std::string fifo = (folder / "fifo.json").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  tool::MidiMap map(Names());
  std::string error;
  EXPECT_FALSE(map.Load(fifo, error)) << "a FIFO would block the player";

  // What OSC asks to learn: a name from outside.
  tool::MidiTarget target;
  for (const std::string& text : std::vector<std::string>{"recall 0", "recall 101", "recall 99999999999", "recall -1",
                                                          "recall ", "Zo\nom", std::string(5000, 'x')}) {
    EXPECT_FALSE(tool::ParseMidiTarget(text, Names(), target, error)) << text;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_LT(error.size(), 1000u);
  }
  ASSERT_TRUE(tool::ParseMidiTarget("recall 3", Names(), target, error));
  EXPECT_EQ(target.number, 2);

  // A flood from a port: the queue keeps its bound and counts the rest.
  tool::MidiInput input;
  for (int i = 0; i < 5000; ++i) input.Receive(&clock, 1);
  std::vector<tool::MidiBytes> drained;
  long dropped = 0;
  input.Drain(drained, dropped);
  EXPECT_EQ(drained.size(), tool::MidiInput::kPending);
  EXPECT_EQ(dropped, 5000 - static_cast<long>(tool::MidiInput::kPending));

  // Sound that is not sound: features stay within 0..1, beats finite.
  tool::LiveAnalysis analysis;
  ASSERT_TRUE(analysis.Begin(48000, error)) << error;
  std::vector<float> noise(48000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = i % 3 == 0 ? NAN : i % 3 == 1 ? INFINITY : (i % 2 ? 1e30f : -1e30f);
  analysis.Feed(noise.data(), noise.size());
  for (tool::AudioFeature feature : {tool::AudioFeature::Level, tool::AudioFeature::Bass, tool::AudioFeature::Treble}) {
    const float value = analysis.Continuous(feature);
    EXPECT_TRUE(value >= 0.0f && value <= 1.0f) << value;
  }
  EXPECT_TRUE(std::isfinite(analysis.Beats()));
  EXPECT_FALSE(analysis.Begin(10, error)) << "a rate no analysis runs at";
}

// Taps at 120 with a human's jitter give 120 within half a beat a minute; a
// MIDI clock at 128 whose pulses arrive up to 40 ms late gives 128 within
// half and the beat within 0.03 at any time; its Start makes the next pulse
// a downbeat, Stop holds the place, and a clock that stops coming leaves no
// tempo.
TEST_F(RigTest, TappedAndClockedTemposHold) {
  tool::TapTempo taps;
  const double jitter[] = {0.012, -0.015, 0.004, 0.010, -0.008, 0.015, -0.012, 0.0, 0.006, -0.004};
  for (int tap = 0; tap < 10; ++tap) taps.Tap(10.0 + 0.5 * tap + jitter[tap]);
  EXPECT_NEAR(taps.At(14.6).beatsPerMinute, 120.0, 0.5);
  EXPECT_EQ(taps.At(10.0 + 0.5 * 9 + 0.1).BeatInBar(), 1) << "ten taps: the tenth is beat 2 of bar 3";
  EXPECT_NEAR(taps.At(10.0 + 0.5 * 9 + 0.25).BarPhase(), (1.0 + 0.5) / 4.0, 0.01);
  taps.Tap(20.0);  // after a pause: a new run, its first tap a downbeat
  taps.Tap(20.4);
  EXPECT_NEAR(taps.At(20.45).beatsPerMinute, 150.0, 1e-6);
  EXPECT_EQ(taps.At(20.45).BeatInBar(), 1);

  // Pulses as a busy machine hands them over: each up to 40 ms late, never
  // before the one ahead of it.
  tool::MidiClockTempo clock;
  const double pulse = 60.0 / 128.0 / 24.0;
  uint64_t seed = 7;
  double arrived = 0.0;
  auto late = [&](int k) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    arrived = std::max(arrived, 100.0 + k * pulse + static_cast<double>(seed >> 11) / 9007199254740992.0 * 0.040);
    return arrived;
  };
  clock.Start();
  const auto truth = [&](double time) { return (time - 100.0) / (pulse * 24.0); };
  for (int k = 0; k < 24 * 10; ++k) clock.Pulse(late(k));
  EXPECT_NEAR(clock.At(arrived).beatsPerMinute, 128.0, 0.5);
  EXPECT_NEAR(clock.At(arrived).beats, truth(arrived), 0.01) << "the first pulse after Start is beat 0";
  // Process calls at 60 a second while the pulses come in late bursts,
  // each call's time read as it fell due (some before the newest pulse, as
  // a frame that catches up is): every call reads a later beat, near the
  // true one; a motion locked to the clock moves at every call.
  double frame = arrived, previous = clock.At(frame).beats;
  int moved = 0, calls = 0;
  for (int k = 24 * 10; k < 24 * 14; ++k) {
    clock.Pulse(late(k));
    for (; frame + 1.0 / 60.0 <= arrived; ++calls) {
      frame += 1.0 / 60.0;
      const double now = clock.At(frame).beats;
      moved += now > previous;
      EXPECT_NEAR(now, truth(frame), 0.03) << frame;
      previous = now;
    }
  }
  EXPECT_GT(calls, 100);
  EXPECT_EQ(moved, calls) << "the beats move at every process call";
  const double stoppedAt = arrived;
  clock.Stop();
  for (int k = 24 * 10; k < 24 * 11; ++k) clock.Pulse(late(k));
  EXPECT_NEAR(clock.At(arrived).beats, clock.At(stoppedAt).beats, 1e-9) << "stopped: the place holds";
  clock.Start();
  clock.Pulse(late(24 * 11));
  EXPECT_EQ(clock.At(arrived).BeatInBar(), 0);
  EXPECT_FALSE(clock.At(200.0).Known()) << "no pulse for seconds: no tempo";
}

// Two Link sessions in one process find each other over the loopback
// network and agree on a tempo one of them sets, and on the beat. Where
// multicast cannot reach between them, the test says so and skips.
TEST_F(RigTest, LinkSessionsAgreeOnTempoAndBeat) {
  tool::LinkSession first(120.0), second(100.0);
  const auto waitFor = [](const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
  };
  if (!waitFor([&] { return first.Peers() > 0 && second.Peers() > 0; }))
    GTEST_SKIP() << "the two Link sessions did not find each other in 10 s: no multicast between them here";
  first.SetTempo(133.0);
  EXPECT_TRUE(waitFor([&] { return std::fabs(second.At(tool::SteadySeconds()).beatsPerMinute - 133.0) < 0.01; }))
      << second.At(tool::SteadySeconds()).beatsPerMinute;
  // Both read at one time of the steady clock, as a frame reads them.
  const double at = tool::SteadySeconds() + 0.010;
  const tool::TempoReading a = first.At(at), b = second.At(at);
  EXPECT_NEAR(std::fmod(a.beats - b.beats + 2.0, 4.0), 2.0, 0.01) << a.beats << " " << b.beats;
  EXPECT_NEAR(first.At(at + 0.5).beats - a.beats, 133.0 / 120.0, 1e-5) << "half a second later, to the microsecond";
}

// Devices named on the command line that are not there (names with a
// newline, or long), and a tempo source with nothing to follow: each is one
// printable line, and the rig starts without them.
TEST_F(RigTest, MissingDevicesAreOneLineEachAndTheRigStarts) {
  setenv("JACK_DEFAULT_SERVER", ("tessarvander-absent-" + std::to_string(getpid())).c_str(), 1);
  tool::RigOptions options;
  options.midi = true;
  options.midiPort = "knobs\nrm -rf /";
  options.audioIn = true;
  options.audioDevice = std::string(300, 'x') + "\n";
  options.tempo = tool::TempoSource::MidiClock;
  options.midiMapPath = (folder / "map.json").string();
  tool::Backstage backstage;
  tool::StageRig rig(Names(), backstage);
  std::vector<tool::RigLine> lines;
  std::string error;
  ASSERT_TRUE(rig.Start(options, lines, error)) << error;
  unsetenv("JACK_DEFAULT_SERVER");
  EXPECT_FALSE(rig.AudioOn());
  ASSERT_FALSE(lines.empty());
  for (const tool::RigLine& line : lines) {
    EXPECT_EQ(line.text.find('\n'), std::string::npos) << line.text;
    EXPECT_LT(line.text.size(), 600u) << line.text;
  }
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const tool::RigLine& line) {
    return line.problem && line.text.find("live sound") != std::string::npos;
  }));
  EXPECT_FALSE(rig.Tempo(tool::SteadySeconds()).Known());
  EXPECT_FALSE(fs::exists(folder / "map.json")) << "nothing learned, nothing written";
}

// A live-sound stream whose JACK server stops answering as the player lets
// it go (a server stopped, not yet gone) is closed on a thread of its own and
// left behind: the player still ends.
TEST_F(RigTest, ALiveSoundStreamIsLetGoWhenItsServerStopsAnswering) {
  testsupport::JackServer jack(folder);
  auto input = std::make_unique<tool::AudioInput>();
  std::string error;
  ASSERT_TRUE(testsupport::WaitUntil([&] { return input->Open("system", error); })) << error;
  jack.Pause();
  std::promise<void> closed;
  std::thread closer([&] {
    input.reset();
    closed.set_value();
  });
  const bool ended = closed.get_future().wait_for(testsupport::kPatience) == std::future_status::ready;
  jack.Resume();
  EXPECT_TRUE(ended) << "the stream's close waited on its server";
  ended ? closer.join() : closer.detach();
}

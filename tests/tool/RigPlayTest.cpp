// `tessarvander play` with what a performer plugs in, each test with a JACK
// server of its own (the dummy driver, a name of its own, stopped by pid):
// a controller that sends MIDI through a JACK MIDI port, a MIDI clock, and a
// click track played into the player's live-sound input. Runs under
// xvfb-run with the other player tests.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <lo/lo.h>

#include <atomic>
#include <cmath>
#include <deque>
#include <fstream>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>

#include "JackRig.h"
#include "PlayerProcess.h"
#include "SyntheticMusic.h"

namespace {

namespace fs = std::filesystem;
using testsupport::OscSend;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::WaitUntil;
using Player = testsupport::PlayerProcess;
using testsupport::Feeder;
using testsupport::JackServer;

// What --osc-reply sends, heard by a liblo server of the test's own.
class ReplyListener {
 public:
  explicit ReplyListener(int port) {
    server = lo_server_thread_new(std::to_string(port).c_str(), nullptr);
    lo_server_thread_add_method(server, nullptr, "f", Heard, this);
    lo_server_thread_start(server);
  }
  ~ReplyListener() { lo_server_thread_free(server); }
  // Waits for `address` with a value within 1e-4 of `value`.
  bool WaitFor(const std::string& address, float value) {
    return WaitUntil([&] {
      std::lock_guard<std::mutex> hold(lock);
      for (const auto& [heardAddress, heardValue] : heard)
        if (heardAddress == address && std::fabs(heardValue - value) < 1e-4f) return true;
      return false;
    });
  }

 private:
  static int Heard(const char* path, const char*, lo_arg** arguments, int, lo_message, void* self) {
    auto* listener = static_cast<ReplyListener*>(self);
    std::lock_guard<std::mutex> hold(listener->lock);
    listener->heard.push_back({path, arguments[0]->f});
    return 0;
  }
  lo_server_thread server = nullptr;
  std::mutex lock;
  std::vector<std::pair<std::string, float>> heard;
};

class RigPlayTest : public testsupport::PlayerTest {};

}  // namespace

// A knob learned (asked for over OSC, as a tablet's learn button would) is
// mapped and saved at once; turned, it moves Zoom: --osc-reply hears the
// change, the still differs from the flight without it and equals the
// take's frame. The map read back by a new player maps the knob again.
TEST_F(RigPlayTest, AKnobIsLearnedReachesThePluginAndItsMapIsKept) {
  JackServer jack(folder);
  Feeder feeder(jack.name);
  ASSERT_TRUE(feeder.Ready()) << ReadFile(Path("jackd.log"));
  ReplyListener replies(port + 1);
  const std::string map = Path("controller.json");
  {
    Player player(folder, {"--midi", "feeder", "--midi-map", map, "--osc", std::to_string(port), "--osc-reply",
                           "127.0.0.1:" + std::to_string(port + 1), "--take", Path("session.take")});
    ASSERT_TRUE(player.WaitFor(R"(MIDI: listening to feeder:midi out \(JACK\))"));
    OscSend(port, {"/tessarvander/midi/learn", "s", "zoom"});
    ASSERT_TRUE(player.WaitFor("learning: move a control or press a pad for Zoom"));
    feeder.Send({0xB0, 74, 0});
    ASSERT_TRUE(player.WaitFor("learned Zoom: controller 74 on channel 1"));
    feeder.Send({0xB0, 74, 127});
    EXPECT_TRUE(replies.WaitFor("/tessarvander/param/zoom", 1.0f)) << "--osc-reply hears what MIDI changed";
    OscSend(port, {"/tessarvander/still", "s", "turned.png"});
    std::string frame;
    ASSERT_TRUE(player.WaitFor(R"(saved still \S+turned\.png \(frame (\d+))", frame));
    player.Key("ctrl+q");
    EXPECT_EQ(player.Wait(), 0) << player.Errors();
    Render({"--take", Path("session.take"), "--frames", frame, "-o", Path("take.png")});
    Render({"--frames", frame, "-o", Path("untouched.png")});
    EXPECT_EQ(ReadFile(Path("turned.png")), ReadFile(Path("take.png"))) << "the take replays the knob";
    EXPECT_NE(ReadFile(Path("turned.png")), ReadFile(Path("untouched.png"))) << "the knob reached the plugin";
  }
  const nlohmann::json saved = nlohmann::json::parse(ReadFile(map));
  ASSERT_EQ(saved["mappings"].size(), 1u) << saved.dump();
  EXPECT_EQ(saved["mappings"][0]["controller"], 74);
  EXPECT_EQ(saved["mappings"][0]["parameter"], "Zoom");

  Player again(folder, {"--midi", "feeder", "--midi-map", map, "--osc", std::to_string(port), "--osc-reply",
                        "127.0.0.1:" + std::to_string(port + 1)});
  ASSERT_TRUE(again.WaitFor("MIDI map " + map + ": 1 mappings"));
  ASSERT_TRUE(again.WaitFor(R"(MIDI: listening to feeder:midi out)"));
  feeder.Send({0xB0, 74, 64});
  EXPECT_TRUE(replies.WaitFor("/tessarvander/param/zoom", 64.0f / 127.0f));
  // Bytes that are not MIDI, then the controller unplugged: a line each,
  // and the show goes on.
  feeder.Send({0xB0, 0x80, 0x80});
  ASSERT_TRUE(again.WaitFor("MIDI: ignored 1 malformed messages"));
  feeder.Close();
  ASSERT_TRUE(again.WaitFor("MIDI: feeder:midi out vanished; playing on"));
  again.Key("ctrl+q");
  EXPECT_EQ(again.Wait(), 0) << again.Errors();
}

// A MIDI clock at 128 a minute, its pulses at their exact frames in JACK,
// gives the player 128 (at the server's pace) within half a beat a minute,
// and a sine shape on it goes round once a beat. The JACK server starts
// after the player, which finds it.
TEST_F(RigPlayTest, AMidiClockSetsTheTempoAndDrivesAShape) {
  setenv("JACK_DEFAULT_SERVER", "tessarvander-test", 1);
  Player player(folder, {"--midi", "feeder", "--tempo", "midi-clock", "--react", "zoom=0.3:0.7:lfo-sine,rate=1b",
                         "--take", Path("clock.take"), "--osc", std::to_string(port)});
  ASSERT_TRUE(player.WaitFor("MIDI: neither the ALSA sequencer nor a JACK server answers yet; looking again"));
  JackServer jack(folder);
  Feeder feeder(jack.name);
  ASSERT_TRUE(feeder.Ready()) << ReadFile(Path("jackd.log"));
  ASSERT_TRUE(player.WaitFor(R"(MIDI: listening to feeder:midi out)"));
  feeder.Clock(128.0);
  std::string tempo;
  ASSERT_TRUE(player.WaitFor(R"(tempo ([0-9.]+) beats a minute \(midi-clock\))", tempo));
  // The first line may come while the estimate settles; later ones only
  // when it moves by half a beat a minute. Once eight beats (3.75 s) are
  // fitted, the last holds.
  // The pulses keep the dummy server's clock, which falls behind wall time
  // on a busy machine, and unevenly: the tempo heard is 128 at the server's
  // pace over the beats fitted, so the pace is measured over the last
  // eight beats' span of wall time, as the lines are read.
  constexpr double kFittedSeconds = 8.0 * 60.0 / 128.0;
  std::deque<std::pair<double, double>> served;  // (wall seconds, server frames)
  const auto start = std::chrono::steady_clock::now();
  double pace = 1.0;
  const auto measurePace = [&] {
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    served.push_back({now, feeder.Frames()});
    while (served.size() > 2 && now - served[1].first >= kFittedSeconds) served.pop_front();
    if (now - served.front().first >= kFittedSeconds)
      pace = (served.back().second - served.front().second) / feeder.Rate() / (now - served.front().first);
    return now - served.front().first >= kFittedSeconds;
  };
  ASSERT_TRUE(WaitUntil(measurePace, std::chrono::seconds(30)));
  // A line comes when the estimate moves by half a beat a minute; on a busy
  // machine the server's slow first seconds hold the fit back a while, so
  // the lines are read until one is within half a beat of 128 at the pace.
  const std::regex line(R"(tempo ([0-9.]+) beats a minute \(midi-clock\))");
  std::string said;
  WaitUntil(
      [&] {
        measurePace();
        said = ReadFile(Path("play.out"));
        for (std::sregex_iterator match(said.begin(), said.end(), line), end; match != end; ++match) tempo = (*match)[1];
        return std::fabs(std::stod(tempo) - 128.0 * pace) <= 0.5;
      },
      std::chrono::seconds(10));
  EXPECT_NEAR(pace, 1.0, 0.1) << "the dummy server kept near real time";
  EXPECT_NEAR(std::stod(tempo), 128.0 * pace, 0.5) << said << "at a pace of " << pace;
  OscSend(port, {"/tessarvander/still", "s", "clocked.png"});
  std::string frame;
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+clocked\.png \(frame (\d+))", frame));
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();

  // The shape goes round once a beat of the clock: its peaks in the take,
  // over the last beats, lie a beat apart (at the clock's pace, in the
  // player's frames) to within 2 %; and the take re-renders the still.
  std::vector<std::pair<long, float>> zoom;  // (frame, value), as the take sets it
  std::ifstream take(Path("clock.take"));
  for (std::string text; std::getline(take, text);) {
    const nlohmann::json entry = nlohmann::json::parse(text);
    if (entry.contains("set") && entry["set"].contains("Zoom")) zoom.push_back({entry["frame"], entry["set"]["Zoom"]});
  }
  std::vector<long> peaks;
  for (size_t k = 1; k + 1 < zoom.size(); ++k)
    if (zoom[k].second > 0.69f && zoom[k].second >= zoom[k - 1].second && zoom[k].second > zoom[k + 1].second)
      peaks.push_back(zoom[k].first);
  ASSERT_GE(peaks.size(), 8u);
  const size_t last = peaks.size() - 1, from = last - 6;
  const double period = static_cast<double>(peaks[last] - peaks[from]) / static_cast<double>(last - from);
  EXPECT_NEAR(period, 60.0 * 60.0 / (128.0 * pace), 0.02 * 60.0 * 60.0 / (128.0 * pace)) << "frames a period";
  Render({"--take", Path("clock.take"), "--frames", frame, "-o", Path("again.png")});
  EXPECT_EQ(ReadFile(Path("clocked.png")), ReadFile(Path("again.png")));
}

// A click track at 120 played into the live-sound input: the tempo is
// heard as 120, Brightness pulses on the beats (every 30 frames at 60 on an
// idle machine: each on the grid of the sound's pace as the dummy server
// plays it, to a frame and a half), and the take keeps every frame's value. Then the JACK
// server stops: one line, and the show goes on.
TEST_F(RigPlayTest, LiveSoundDrivesAReactionAndTheTakeKeepsIt) {
  JackServer jack(folder);
  Feeder feeder(jack.name);
  ASSERT_TRUE(feeder.Ready()) << ReadFile(Path("jackd.log"));
  Player player(folder, {"--audio-in", "feeder", "--react", "brightness=0.2:1:beat,release=0.2", "--tempo", "audio",
                         "--take", Path("live.take")});
  ASSERT_TRUE(player.WaitFor(R"(live sound from feeder \(JACK, 48000 Hz\); reactions follow it (\d+) ms late)"));
  synthetic::Builder builder(0.0);
  const int rate = static_cast<int>(feeder.Rate());
  std::vector<float> clicks(static_cast<size_t>(rate) * 12, 0.0f);
  for (size_t beat = 0; beat < 24; ++beat)
    for (int i = 0; i < rate / 20; ++i) {
      const double t = static_cast<double>(i) / rate;
      clicks[beat * rate / 2 + i] = static_cast<float>(0.8 * std::sin(2.0 * M_PI * 1000.0 * t) * std::exp(-t / 0.01));
    }
  const double startFrames = feeder.Frames();
  const auto started = std::chrono::steady_clock::now();
  feeder.Play(clicks);
  std::string tempo;
  ASSERT_TRUE(player.WaitFor(R"(tempo ([0-9.]+) beats a minute \(audio\))", tempo));
  ASSERT_TRUE(feeder.WaitForPlayed());
  // The sound's pace in wall time: a beat of it lasts this many of the
  // player's frames (30 on an idle machine).
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double framesPerBeat = 60.0 * 0.5 * feeder.Rate() / ((feeder.Frames() - startFrames) / wall);
  jack.Stop();
  ASSERT_TRUE(player.WaitFor("live sound: nothing has arrived from feeder .* for 2 s .*; playing on"));
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
  const std::string said = ReadFile(Path("play.out"));
  const std::regex line(R"(tempo ([0-9.]+) beats a minute \(audio\))");
  for (std::sregex_iterator match(said.begin(), said.end(), line), end; match != end; ++match) tempo = (*match)[1];
  EXPECT_NEAR(std::stod(tempo), 120.0, 0.5) << said;

  // The frames where Brightness jumps up are the beats (a pulse read up to a
  // frame after its beat stands above 0.2 + 0.8 x 0.67).
  std::vector<long> beats;
  std::ifstream take(Path("live.take"));
  float previous = 0.2f;
  for (std::string text; std::getline(take, text);) {
    const nlohmann::json entry = nlohmann::json::parse(text);
    if (!entry.contains("set") || !entry["set"].contains("Brightness")) continue;
    const float value = entry["set"]["Brightness"];
    if (value > previous + 0.3f) beats.push_back(entry["frame"]);
    previous = value;
  }
  std::string frames;
  for (long beat : beats) frames += std::to_string(beat) + " ";
  ASSERT_GE(beats.size(), 12u) << "beats in the take at frames " << frames;
  EXPECT_NEAR(framesPerBeat, 30.0, 3.0) << "the dummy server kept near real time";
  // A pass of the player takes in the sound JACK delivered since the last,
  // and a loaded dummy server delivers it unevenly: a beat may land a pass
  // or two late, so two beats lie a beat at the sound's pace apart to three
  // frames (50 ms, the tolerance beats are scored at); and none drifts: the
  // mean spacing is that beat.
  for (size_t k = 1; k < beats.size(); ++k)
    EXPECT_NEAR(beats[k] - beats[k - 1], framesPerBeat, 3.0) << "beat " << k << " of " << frames;
  EXPECT_NEAR(static_cast<double>(beats.back() - beats.front()) / (beats.size() - 1), framesPerBeat, 0.5) << frames;
}

// The live sound recorded beside the take survives a crash: clicks played
// into the player through the JACK server, onsets pulsing Brightness, the
// player killed (-9) mid-show. The take and its sound, both cut short, re-
// render to a video with the sound muxed in; each click's onset in its
// sound track falls within a frame of its pulse in the frames.
TEST_F(RigPlayTest, TheTakeKeepsItsSoundThroughAKill) {
  JackServer jack(folder);
  Feeder feeder(jack.name);
  ASSERT_TRUE(feeder.Ready()) << ReadFile(Path("jackd.log"));
  Player player(folder, {"--audio-in", "feeder", "--react", "brightness=0.2:1:onset,release=0.1", "--take",
                         Path("live.take")});
  ASSERT_TRUE(player.WaitFor(R"(live sound from feeder \(JACK, 48000 Hz\))"));
  const int rate = static_cast<int>(feeder.Rate());
  // A second of silence, then a click every half second.
  std::vector<float> clicks(static_cast<size_t>(rate) * 5, 0.0f);
  for (size_t beat = 0; beat < 8; ++beat)
    for (int i = 0; i < rate / 20; ++i) {
      const double t = static_cast<double>(i) / rate;
      clicks[rate + beat * rate / 2 + i] = static_cast<float>(0.8 * std::sin(2.0 * M_PI * 1000.0 * t) * std::exp(-t / 0.01));
    }
  feeder.Play(clicks);
  ASSERT_TRUE(feeder.WaitForPlayed());
  // Until the sound file holds half a second more than when the clicks
  // ended (its whole blocks lag the sound), and with it their last onsets.
  const auto soundBytes = [&] {
    std::error_code ignored;
    const auto size = fs::file_size(Path("live.take.wav.recording"), ignored);
    return ignored ? 0.0 : static_cast<double>(size);
  };
  const double clicksEnded = soundBytes();
  WaitUntil([&] { return soundBytes() >= clicksEnded + 0.5 * rate * sizeof(float); });
  ASSERT_GE(soundBytes(), clicksEnded + 0.5 * rate * sizeof(float)) << "the take's sound is written on";
  player.Kill();
  ASSERT_TRUE(fs::exists(Path("live.take.recording")));
  ASSERT_TRUE(fs::exists(Path("live.take.wav.recording")));

  // The pulses in the take's frames: where Brightness jumps.
  std::vector<long> pulses;
  std::ifstream take(Path("live.take.recording"));
  float previous = 0.2f;
  for (std::string text; std::getline(take, text);) {
    const nlohmann::json entry = nlohmann::json::parse(text);
    if (!entry.contains("set") || !entry["set"].contains("Brightness")) continue;
    const float value = entry["set"]["Brightness"];
    if (value > previous + 0.3f) pulses.push_back(entry["frame"]);
    previous = value;
  }
  ASSERT_GE(pulses.size(), 4u);
  const auto rendered = RunProgram({TESSARVANDER_TOOL, "render", "--take", Path("live.take.recording"), "--size",
                                    "64x36", "-o", Path("live.mkv")});
  ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
  EXPECT_NE(rendered.out.find("with the take's sound"), std::string::npos) << rendered.out;
  const auto decoded = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-i", Path("live.mkv"), "-map",
                                   "0:a:0", "-ac", "1", "-ar", std::to_string(rate), "-f", "f32le", "pipe:1"});
  std::vector<float> sound(decoded.out.size() / sizeof(float));
  std::memcpy(sound.data(), decoded.out.data(), sound.size() * sizeof(float));
  // The clicks' onsets in the video's sound, in frames.
  std::vector<double> onsets;
  for (size_t at = 0; at < sound.size(); ++at)
    if (std::fabs(sound[at]) > 0.2f && (onsets.empty() || at > (onsets.back() / 60.0 + 0.2) * rate))
      onsets.push_back(static_cast<double>(at) / rate * 60.0);
  ASSERT_GE(onsets.size(), 4u) << "clicks in the video's sound (" << sound.size() << " samples)";
  std::string said;
  for (long pulse : pulses) said += std::to_string(pulse) + " ";
  said += "/ ";
  for (double onset : onsets) said += std::to_string(onset) + " ";
  // Every pulse is drawn within a frame of its click, as a rule in the frame
  // the click starts in, give or take the uneven blocks the dummy server
  // hands sound over in (the first click after the silence may pass before
  // the analysis trusts it), and give or take the slip the take's sound
  // keeps to the frames before it moves its anchor (TakeSound::kSlip, 30 ms:
  // on a busy machine the dummy server's clock parts from the computer's by
  // a frame and back); none drifts further.
  const double slip = 0.03 * 60.0;
  std::vector<double> late;
  for (long pulse : pulses) {
    double nearest = 1e9;
    for (double onset : onsets) nearest = std::fabs(onset - pulse) < std::fabs(nearest - pulse) ? onset : nearest;
    late.push_back(static_cast<double>(pulse) - nearest);
  }
  for (double by : late) EXPECT_TRUE(by >= -slip && by <= 1.0 + slip) << by << "; pulses / onsets: " << said;
  std::nth_element(late.begin(), late.begin() + late.size() / 2, late.end());
  EXPECT_LT(std::fabs(late[late.size() / 2]), 1.0) << "within a frame; pulses / onsets: " << said;
}

namespace {

// An excerpt of real music from Debian's packages, cut as the real-music set
// cuts it, as float samples at `rate`; empty when the package is missing.
std::vector<float> RealExcerpt(const std::string& file, double start, double seconds, int rate) {
  const auto decoded = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-i", file, "-ss",
                                   std::to_string(start), "-t", std::to_string(seconds), "-ac", "1", "-ar",
                                   std::to_string(rate), "-f", "f32le", "pipe:1"});
  std::vector<float> samples(decoded.out.size() / sizeof(float));
  std::memcpy(samples.data(), decoded.out.data(), samples.size() * sizeof(float));
  return samples;
}

}  // namespace

// Real music played into the live-sound input, with a draw slowed so that
// most frames are advanced at one pixel: the tempo heard settles within 1 %
// of what the analysis of the whole excerpt finds, and is said at most
// twice; every frame reads the sound at its own time, so in the take the
// beat reaction reaches its top on nine beats in ten, drawn or not.
TEST_F(RigPlayTest, RealMusicHoldsItsTempoAndEveryBeatReachesTheTake) {
  const std::string track = "/usr/share/games/pingus/data/music/gd-matth.it";
  if (!fs::exists(track)) GTEST_SKIP() << "pingus-data is not installed (the test command installs it)";
  JackServer jack(folder);
  Feeder feeder(jack.name);
  ASSERT_TRUE(feeder.Ready()) << ReadFile(Path("jackd.log"));
  // The offline figure, from the same excerpt.
  const std::vector<float> music = RealExcerpt(track, 15.0, 24.0, static_cast<int>(feeder.Rate()));
  ASSERT_GT(music.size(), 10u * static_cast<size_t>(feeder.Rate()));
  const auto cut = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-i", track, "-ss", "15", "-t", "24",
                               "-ac", "2", "-ar", "44100", "-c:a", "pcm_s16le", Path("excerpt.wav")});
  ASSERT_EQ(cut.exitCode, 0) << cut.err;
  const auto offline = RunProgram({TESSARVANDER_TOOL, "render", "--audio", Path("excerpt.wav"), "--react",
                                   "brightness=0:1:beat", "--react-report", Path("report.png")});
  std::smatch found;
  ASSERT_TRUE(std::regex_search(offline.out, found, std::regex(R"(([0-9.]+) beats a minute)"))) << offline.out;
  const double offlineTempo = std::stod(found[1]);

  Player player(folder, {"--audio-in", "feeder", "--tempo", "audio", "--react", "brightness=0.2:1:beat,release=0.2",
                         "--scale", "1", "--draw-delay", "5", "--take", Path("live.take")});
  ASSERT_TRUE(player.WaitFor(R"(live sound from feeder)"));
  // The dummy server plays at its own pace, which a busy machine slows:
  // the music's seconds per second of the player's clock.
  const auto playing = std::chrono::steady_clock::now();
  feeder.Play(music);
  ASSERT_TRUE(feeder.WaitForPlayed());
  const double pace = static_cast<double>(music.size()) / feeder.Rate() /
                      std::chrono::duration<double>(std::chrono::steady_clock::now() - playing).count();
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();

  const std::string said = ReadFile(Path("play.out"));
  const std::regex line(R"(tempo ([0-9.]+) beats a minute \(audio\))");
  std::vector<double> tempi;
  for (std::sregex_iterator match(said.begin(), said.end(), line), end; match != end; ++match)
    tempi.push_back(std::stod((*match)[1]));
  ASSERT_FALSE(tempi.empty()) << said;
  EXPECT_LE(tempi.size(), 2u) << said;
  // The dummy server plays at its own pace, which a busy machine slows.
  EXPECT_NEAR(tempi.back(), offlineTempo, 0.01 * offlineTempo) << said;
  const std::regex summary(R"(played (\d+) frames in [0-9.]+ s: (\d+) drawn, (\d+) advanced)");
  ASSERT_TRUE(std::regex_search(said, found, summary)) << said;
  EXPECT_GT(std::stol(found[3]), std::stol(found[2])) << "most frames advanced at one pixel: " << found[0];

  // Every beat's pulse in the take. The sound arrives in uneven blocks and
  // most frames catch up at one pixel, so the frames' readings of the music
  // jump; each beat still peaks at the top in the first frame that reaches
  // it, so every rise reaches the top exactly.
  std::vector<std::pair<long, float>> brightness;
  std::ifstream take(Path("live.take"));
  for (std::string text; std::getline(take, text);) {
    const nlohmann::json entry = nlohmann::json::parse(text);
    if (entry.contains("set") && entry["set"].contains("Brightness"))
      brightness.push_back({entry["frame"], entry["set"]["Brightness"]});
  }
  // Counted once the tempo path has heard a whole stretch (its first
  // seconds' guess can be at half the tempo): from 8 s after the first
  // rise to the last, at 60 frames a second.
  std::vector<std::pair<long, float>> risen;
  for (size_t k = 1; k < brightness.size(); ++k)
    if (brightness[k].second >= brightness[k - 1].second + 0.3f) risen.push_back(brightness[k]);
  ASSERT_GE(risen.size(), 2u);
  const long from = risen.front().first + 8 * 60, to = risen.back().first;
  long rises = 0, full = 0;
  for (const auto& [frame, value] : risen) {
    if (frame < from) continue;
    ++rises;
    full += value == 1.0f;
  }
  const double beatsHeard = static_cast<double>(to - from) / 60.0 * pace * offlineTempo / 60.0;
  EXPECT_GE(static_cast<double>(rises), 0.9 * beatsHeard) << "a rise a beat (the server's pace " << pace << ")";
  EXPECT_EQ(full, rises) << full << " of " << rises << " reach the top";
}

// The autopilot on live sound through JACK: 20 bars of drums at 180 a
// minute heard by the live analysis; where the live grid's 17th bar begins
// a phrase, the look changes, as the console says; a still after the
// change equals the take's frame, so the take re-renders what it did.
TEST_F(RigPlayTest, TheAutopilotChangesLookOnAPhraseOfLiveSound) {
  JackServer jack(folder);
  Feeder feeder(jack.name);
  ASSERT_TRUE(feeder.Ready()) << ReadFile(Path("jackd.log"));
  const synthetic::Track song = synthetic::Builder(0.5).Bars(20, 180, synthetic::Pattern::Basic).Done();
  // To the server's rate, linearly (drums do not mind).
  const double step = static_cast<double>(synthetic::kRate) / feeder.Rate();
  std::vector<float> sound(static_cast<size_t>(song.samples.size() / step));
  for (size_t k = 0; k + 1 < sound.size(); ++k) {
    const double at = k * step;
    const size_t i = static_cast<size_t>(at);
    const double t = at - i;
    sound[k] = static_cast<float>(song.samples[i] * (1.0 - t) + song.samples[std::min(i + 1, song.samples.size() - 1)] * t);
  }
  Player player(folder, {"--audio-in", "feeder", "--tempo", "audio", "--autopilot", "--take", Path("pilot.take"),
                         "--osc", std::to_string(port)});
  ASSERT_TRUE(player.WaitFor("autopilot on"));
  ASSERT_TRUE(player.WaitFor(R"(live sound from feeder)"));
  feeder.Play(sound);
  std::string look;
  ASSERT_TRUE(player.WaitFor(R"(autopilot: a new phrase, preset (\d+))", look)) << ReadFile(Path("play.out"));
  ASSERT_TRUE(feeder.WaitForPlayed());
  OscSend(port, {"/tessarvander/still", "s", "after.png"});
  std::string frame;
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+after\.png \(frame (\d+))", frame));
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
  const std::string said = ReadFile(Path("play.out"));
  EXPECT_EQ(said.find("autopilot: a new section"), std::string::npos) << "steady drums are one section: " << said;
  Render({"--take", Path("pilot.take"), "--frames", frame, "-o", Path("again.png")});
  EXPECT_EQ(ReadFile(Path("after.png")), ReadFile(Path("again.png"))) << "the take holds the autopilot's change";
}

// Rendering to music and on several machines, end to end through the real
// program: sound made by the test with ffmpeg's lavfi sources, the reactions
// read from the CSV that --react-report writes, videos read back with
// ffprobe and ffmpeg, parts spread with GNU parallel and joined.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "RunProgram.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::RunResult;

constexpr double kFps = 60.0;

class MusicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tessarvander-music-test-" + std::to_string(getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string Path(const std::string& name) const { return (folder / name).string(); }
  RunResult Tool(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), TESSARVANDER_TOOL);
    return RunProgram(arguments);
  }
  // A sound from an ffmpeg expression of t, mono, 44.1 kHz.
  std::string Sound(const std::string& name, const std::string& expression, double seconds) const {
    const RunResult made = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                       "aevalsrc='" + expression + "':s=44100:d=" + std::to_string(seconds),
                                       Path(name)});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return Path(name);
  }
  // The report's columns, by header.
  std::map<std::string, std::vector<double>> Report(const std::string& csv) const {
    std::istringstream text(ReadFile(csv));
    std::string line;
    std::getline(text, line);
    std::vector<std::string> names;
    std::istringstream header(line);
    for (std::string name; std::getline(header, name, ',');)
      names.push_back(name.front() == '"' ? name.substr(1, name.size() - 2) : name);
    std::map<std::string, std::vector<double>> columns;
    while (std::getline(text, line)) {
      std::istringstream cells(line);
      std::string cell;
      for (size_t c = 0; c < names.size() && std::getline(cells, cell, ','); ++c) columns[names[c]].push_back(std::stod(cell));
    }
    return columns;
  }
  std::string Probe(const std::string& path, const std::string& entries) const {
    return RunProgram({"/usr/bin/ffprobe", "-v", "error", "-show_entries", entries, "-of", "default=nw=1", path}).out;
  }
  std::vector<std::string> Files() const { return testsupport::FilesIn(folder.string()); }

  fs::path folder;
};

// A click every half second: the printed tempo is 120 to 0.1 %, a beat
// reaction peaks within one frame of every click, and the README's beat
// example brightens the picture on every beat, the same way each time.
TEST_F(MusicTest, ClicksAt120BpmGiveTheTempoAndThePictureMovesOnEveryBeat) {
  const std::string clicks = Sound("clicks.wav", "if(lt(mod(t,0.5),0.01),sin(2*PI*1000*t),0)", 10.0);
  const RunResult result =
      Tool({"render", "-o", Path("beat.mp4"), "--size", "64x36", "--audio", clicks, "--set", "fractal type=0.6",
            "--set", "color mode=0.35", "--react", "zoom=0.45:0.6:beat-phase", "--react",
            "brightness=0.5:0.95:beat,release=0.5b", "--react-report", Path("report.png")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::smatch tempo;
  ASSERT_TRUE(std::regex_search(result.out, tempo, std::regex(R"(([0-9.]+) beats a minute)"))) << result.out;
  EXPECT_NEAR(std::stod(tempo[1]), 120.0, 0.12);
  EXPECT_TRUE(fs::exists(Path("report.png")));

  const std::vector<double> pulse = Report(Path("report.csv"))["Brightness"];
  ASSERT_EQ(pulse.size(), 600u);
  std::vector<long> peaks;
  for (size_t f = 0; f < pulse.size(); ++f)
    if (pulse[f] > 0.9 && (f == 0 || pulse[f - 1] < pulse[f])) peaks.push_back(static_cast<long>(f));
  for (long click = 0; click < 20; ++click) {
    const long frame = std::lround(click * 0.5 * kFps);
    const bool near = std::any_of(peaks.begin(), peaks.end(), [&](long peak) { return std::abs(peak - frame) <= 1; });
    EXPECT_TRUE(near) << "no beat within a frame of the click at frame " << frame;
  }
  EXPECT_LE(peaks.size(), 20u) << "no beats between the clicks";

  // The picture itself: its mean light per frame, decoded from the video.
  const RunResult decoded = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-i", Path("beat.mp4"), "-f", "rawvideo",
                                        "-pix_fmt", "gray", "pipe:1"});
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  const size_t pixels = 64 * 36;
  ASSERT_EQ(decoded.out.size(), 600 * pixels);
  std::vector<double> light(600, 0.0);
  for (size_t f = 0; f < 600; ++f)
    for (size_t p = 0; p < pixels; ++p) light[f] += static_cast<unsigned char>(decoded.out[f * pixels + p]) / double(pixels);
  for (long beat = 1; beat < 19; ++beat) {
    const long frame = beat * 30;
    const long brightest = static_cast<long>(std::max_element(light.begin() + frame - 10, light.begin() + frame + 11) - light.begin());
    EXPECT_LE(std::abs(brightest - frame), 1) << "beat " << beat;
    EXPECT_GT(light[static_cast<size_t>(brightest)], 1.3 * light[static_cast<size_t>(frame + 15)]) << "beat " << beat;
  }

  // A report's name reaches gnuplot as no more than a file: quotes and
  // newlines in it run nothing.
  const std::string hostile = Path("x'\nsystem \"touch PWNED\"\nx='.png");
  const RunResult named = Tool({"render", "--audio", clicks, "--react-report", hostile});
  EXPECT_EQ(named.exitCode, 0) << named.err;
  EXPECT_TRUE(fs::exists(hostile));
  EXPECT_FALSE(fs::exists(Path("PWNED")) || fs::exists("PWNED"));
}

// A low hum that swells from 2 s to 3 s over a faint high tone: the bass
// reaction follows it, the treble reaction does not move.
TEST_F(MusicTest, ABassBurstMovesBassNotTreble) {
  const std::string burst = Sound(
      "burst.wav", "if(between(t,2,3),(0.5-0.5*cos(2*PI*(t-2)))*sin(2*PI*60*t),0)+0.02*sin(2*PI*5000*t)", 5.0);
  const RunResult result = Tool({"render", "--audio", burst, "--react", "zoom=0:1:bass", "--react", "hue=0:1:treble",
                                 "--react-report", Path("report.png"), "-q"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto columns = Report(Path("report.csv"));
  const std::vector<double>& bass = columns["Zoom"];
  const std::vector<double>& treble = columns["Hue"];
  ASSERT_EQ(bass.size(), 300u);
  EXPECT_GT(bass[150], 0.8) << "the middle of the swell";
  EXPECT_LT(bass[60], 0.05) << "before it";
  EXPECT_LT(bass[270], 0.05) << "well after it";
  const auto [low, high] = std::minmax_element(treble.begin() + 6, treble.end() - 6);
  EXPECT_LT(*high - *low, 0.1) << "treble stays where the faint tone holds it";
}

// The music is muxed in, as long as the video within one frame; the length
// of the render is the track's.
TEST_F(MusicTest, TheVideoCarriesTheTrack) {
  const std::string tone = Sound("tone.wav", "0.3*sin(2*PI*440*t)", 2.5);
  const RunResult result =
      Tool({"render", "-o", Path("clip.mp4"), "--audio", tone, "--size", "64x36", "--react", "glow=0:1:level", "-q"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::smatch video, audio;
  const std::string streams = Probe(Path("clip.mp4"), "stream=codec_type,duration");
  ASSERT_TRUE(std::regex_search(streams, video, std::regex(R"(codec_type=video\s+duration=([0-9.]+))"))) << streams;
  ASSERT_TRUE(std::regex_search(streams, audio, std::regex(R"(codec_type=audio\s+duration=([0-9.]+))"))) << streams;
  EXPECT_NEAR(std::stod(video[1]), 2.5, 1.0 / kFps);
  EXPECT_NEAR(std::stod(audio[1]), std::stod(video[1]), 1.0 / kFps);
}

// The director on real music (an excerpt of the shared set, from Debian's
// pingus-data): `render --direct` writes its cue sheet beside the video, and
// that sheet rendered with --cues gives the same video frame for frame; the
// dry run lists the same cues.
TEST_F(MusicTest, TheDirectorsSheetRendersTheSameVideoAgain) {
  const std::string module = "/usr/share/games/pingus/data/music/pingus-9.it";
  if (!fs::exists(module)) GTEST_SKIP() << "pingus-data is not installed";
  const RunResult cut = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-y", "-ss", "0", "-t", "40", "-i", module,
                                    Path("song.wav")});
  ASSERT_EQ(cut.exitCode, 0) << cut.err;
  const RunResult directed = Tool({"render", "--audio", Path("song.wav"), "--direct", "--seed", "5", "--size",
                                   "48x27", "--fps", "30", "--crf", "0", "-o", Path("directed.mkv")});
  ASSERT_EQ(directed.exitCode, 0) << directed.err;
  const std::string sheet = ReadFile(Path("directed.cues.txt"));
  EXPECT_NE(sheet.find("bar 1 "), std::string::npos) << sheet;
  const RunResult again = Tool({"render", "--audio", Path("song.wav"), "--cues", Path("directed.cues.txt"), "--size",
                                "48x27", "--fps", "30", "--crf", "0", "-o", Path("again.mkv")});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  const auto frames = [&](const std::string& video) {
    const std::string hashes =
        RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-i", video, "-map", "0:v", "-f", "framemd5", "-"}).out;
    return hashes.substr(hashes.find('\n', hashes.rfind('#')));
  };
  EXPECT_EQ(frames(Path("again.mkv")), frames(Path("directed.mkv")));
  const RunResult listed = Tool({"direct", Path("song.wav"), "--seed", "5", "--dry-run"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  for (size_t start = sheet.find("\nbar"); start != std::string::npos; start = sheet.find("\nbar", start + 1)) {
    const std::string cue = sheet.substr(start + 1, sheet.find('\n', start + 1) - start - 1);
    EXPECT_NE(listed.out.find(cue), std::string::npos) << cue << " in\n" << listed.out;
  }
}

// Three parts rendered through GNU parallel and joined give the frames of
// the render in one piece: a PNG sequence file for file, a lossless video
// frame for frame. A manifest changed by hand, or a part left out, is refused.
TEST_F(MusicTest, PartsRenderedInParallelJoinIntoTheWholeRender) {
  const std::string clicks = Sound("clicks.wav", "if(lt(mod(t,0.25),0.01),sin(2*PI*1000*t),0)", 1.5);
  const std::vector<std::string> common = {"--audio", clicks, "--size", "48x27", "--react", "pulse_amount=0:0.8:beat",
                                           "--ramp", "mirror=0:0.8", "--crf", "0", "-q"};
  const auto render = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "render");
    arguments.insert(arguments.end(), common.begin(), common.end());
    const RunResult result = Tool(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
  };
  fs::create_directories(folder / "whole");
  fs::create_directories(folder / "parts");
  render({"-o", Path("whole.mp4")});
  render({"-o", Path("whole/f_%03d.png")});

  std::string command = std::string(TESSARVANDER_TOOL) + " render --segment {}/3";
  for (const std::string& argument : common) command += " " + argument;
  for (const auto& [output, extension] : {std::pair{std::string("part{}.mp4"), "mp4"}, {"parts/f_%03d.png", "png"}}) {
    const RunResult parallel = RunProgram({"/usr/bin/parallel", "--will-cite", command + " -o " + Path(output), ":::",
                                           "1", "2", "3"});
    ASSERT_EQ(parallel.exitCode, 0) << parallel.err << parallel.out;
  }
  for (const auto& entry : fs::directory_iterator(folder / "whole")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(ReadFile(entry.path().string()), ReadFile((folder / "parts" / name).string())) << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder / "whole"), {}), 90);

  const RunResult joined = Tool({"join", Path("joined.mp4"), Path("part2.mp4"), Path("part1.mp4"), Path("part3.mp4")});
  ASSERT_EQ(joined.exitCode, 0) << joined.err;
  const auto frames = [&](const std::string& video) {
    const std::string hashes =
        RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-i", video, "-map", "0:v", "-f", "framemd5", "-"}).out;
    return hashes.substr(hashes.find('\n', hashes.rfind('#')));
  };
  EXPECT_EQ(frames(Path("joined.mp4")), frames(Path("whole.mp4")));
  EXPECT_NE(Probe(Path("joined.mp4"), "stream=codec_type").find("codec_type=audio"), std::string::npos);

  // The parts themselves are checked: a join onto one of its inputs, a part
  // cut short, a part swapped for another render's (a newer part beside an
  // older manifest is the same case); each refused, the inputs untouched.
  const std::string part1 = ReadFile(Path("part1.mp4"));
  const std::string part3 = ReadFile(Path("part3.mp4"));
  fs::copy_file(Path("whole.mp4"), Path("other.mp4"));
  fs::copy_file(Path("part2.mp4.segment.json"), Path("other.mp4.segment.json"));
  for (const auto& [arguments, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"part1.mp4", "part1.mp4", "part2.mp4", "part3.mp4"}, "an input of the join"},
           {{"refused.mp4", "part1.mp4", "part2.mp4", "part3.mp4"}, "is not the file its manifest describes"},
           {{"refused.mp4", "part1.mp4", "other.mp4", "part3.mp4"}, "is not the file its manifest describes"}}) {
    if (arguments[3] == "part3.mp4" && arguments[0] == "refused.mp4")
      std::ofstream(Path("part3.mp4"), std::ios::binary) << part3.substr(0, part3.size() / 2);
    std::vector<std::string> command = {"join"};
    for (const std::string& argument : arguments) command.push_back(Path(argument));
    const RunResult result = Tool(command);
    EXPECT_EQ(result.exitCode, 2) << arguments[2];
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(Path("part1.mp4")), part1);
    EXPECT_FALSE(fs::exists(Path("refused.mp4")));
    std::ofstream(Path("part3.mp4"), std::ios::binary) << part3;
  }

  // A manifest's music path that names a protocol reads nothing but a local
  // file of that name: the join refuses it with one line.
  const std::string firstManifest = Path("part1.mp4.segment.json");
  const std::string original = ReadFile(firstManifest);
  std::string tampered = original;
  const std::string audioField = "\"audio\": \"" + clicks + "\"";
  ASSERT_NE(tampered.find(audioField), std::string::npos) << tampered;
  tampered.replace(tampered.find(audioField), audioField.size(), "\"audio\": \"concat:" + clicks + "|" + clicks + "\"");
  std::ofstream(firstManifest) << tampered;
  const RunResult concat = Tool({"join", Path("refused.mp4"), Path("part1.mp4"), Path("part2.mp4"), Path("part3.mp4")});
  EXPECT_EQ(concat.exitCode, 2) << concat.err;
  EXPECT_NE(concat.err.find("the render's music is not at"), std::string::npos) << concat.err;
  EXPECT_FALSE(fs::exists(Path("refused.mp4")));
  std::ofstream(firstManifest) << original;

  const std::string manifest = Path("part2.mp4.segment.json");
  std::string text = ReadFile(manifest);
  text.replace(text.find("\"size\": \"48x27\""), 15, "\"size\": \"48x28\"");
  std::ofstream(manifest) << text;
  struct Refusal {
    std::vector<std::string> parts;
    std::string message;
  };
  for (const Refusal& refusal : std::vector<Refusal>{{{"part1.mp4", "part2.mp4", "part3.mp4"}, "part of another render"},
                                                     {{"part1.mp4", "part3.mp4"}, "part 2 of 3 is missing"}}) {
    std::vector<std::string> arguments = {"join", Path("refused.mp4")};
    for (const std::string& part : refusal.parts) arguments.push_back(Path(part));
    const RunResult result = Tool(arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find(refusal.message), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(Path("refused.mp4")));
  }
}

// Bad music and bad parts: one line naming the problem, nothing written.
// (The forms of reactions and segments are checked in-process.)
TEST_F(MusicTest, BadInputIsRefusedWithOneLine) {
  const std::string tone = Sound("tone.wav", "0.3*sin(2*PI*440*t)", 1.0);
  std::ofstream(Path("noise.mp3")) << "this is not a sound";
  ASSERT_EQ(RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=32x32:d=1",
                        Path("silent.mp4")}).exitCode, 0);
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--audio", Path("missing.wav")}, 2, "no file at"},
      {{"--audio", Path("noise.mp3")}, 2, "noise.mp3 cannot be read"},
      {{"--audio", Path("silent.mp4")}, 2, "silent.mp4 has no audio stream"},
      {{"--audio", tone, "--react", "hue=0:bass"}, 2, "is not of the form NAME=FROM:TO:FEATURE"},
      {{"--react", "hue=0:1:bass"}, 2, "need a track: --audio FILE"},
      {{"--segment", "4/3"}, 2, "names no part"},
      {{"--segment", "2/5"}, 2, "would leave parts without a frame"},
      {{"--audio", "http://127.0.0.1:9/x.wav"}, 2, "no file at"},
  };
  const std::vector<std::string> before = Files();
  const auto refused = [&](const std::vector<std::string>& arguments, const Case& c) {
    SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
    const RunResult result = Tool(arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one line: " << result.err;
    EXPECT_EQ(Files(), before) << "nothing written";
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"render", "-o", Path("out.mp4"), "--size", "32x18", "--frames", "3"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    refused(arguments, c);
  }
  // The commands that read a song alone name themselves, and write nothing.
  const std::vector<Case> commands = {
      {{"beats", Path("noise.mp3"), "-o", Path("beats.txt")}, 2, "beats: " + Path("noise.mp3") + " cannot be read"},
      {{"beats", "http://127.0.0.1:9/x.wav", "-o", Path("beats.txt")}, 2, "beats: no file at"},
      {{"direct", Path("missing.wav"), "-o", Path("cues.txt")}, 2, "direct: no file at"},
      {{"direct", Path("silent.mp4"), "-o", Path("cues.txt")}, 2, "direct: " + Path("silent.mp4") + " has no audio"},
  };
  for (const Case& c : commands) refused(c.arguments, c);
}

}  // namespace

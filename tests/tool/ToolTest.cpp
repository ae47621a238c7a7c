// The command-line host end to end: the built program is run as a user runs
// it, and its exit code, messages and files are checked.
#include <gtest/gtest.h>
#include <png.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RunProgram.h"

namespace {

namespace fs = std::filesystem;

using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::RunResult;

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

bool ReadPng(const std::string& path, Picture& picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

double MeanLevel(const Picture& picture) {
  double sum = 0;
  for (uint8_t value : picture.rgb) sum += value;
  return sum / std::max<size_t>(1, picture.rgb.size());
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tessarvander-tool-test-" + std::to_string(getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  RunResult Tool(std::vector<std::string> arguments, const std::vector<std::string>& environment = {},
                 int interruptAfter = 0) {
    arguments.insert(arguments.begin(), TESSARVANDER_TOOL);
    return RunProgram(arguments, environment, interruptAfter);
  }
  std::string Path(const std::string& name) const { return (folder / name).string(); }
  // Every file in the test folder, temporary ones included.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path folder;
};

// ---- What works ---------------------------------------------------------------

TEST_F(ToolTest, InfoShowsTheIdentityAndEveryParameter) {
  const RunResult result = Tool({"info"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const char* expected : {"QLMB", "ORVO Tessarvande", "1 (source)", "2.1", "1.2", "By ORVO",
                               "Infinite Fractal Space Travel - Ferrofluid, Julia, Kaleidoscope, Mandelbrot"})
    EXPECT_NE(result.out.find(expected), std::string::npos) << expected;
  EXPECT_NE(result.out.find(" 9  Color Mode     float      0.1  0..1      0.100000"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("18  Depth Layers"), std::string::npos);
}

// A GPU node has no display: EGL devices. Mesa's software device is listed,
// draws the picture the surfaceless platform draws, and a device that is
// not there is refused with one line.
TEST_F(ToolTest, EglDevicesAreListedChosenOrRefused) {
  const RunResult devices = Tool({"info", "--devices"});
  ASSERT_EQ(devices.exitCode, 0) << devices.err;
  std::istringstream lines(devices.out);
  std::string line, index;  // "0  software  -  llvmpipe (LLVM ...)"
  while (std::getline(lines, line))
    if (line.find("software") != std::string::npos && line.find("llvmpipe") != std::string::npos) index = line.substr(0, line.find(' '));
  ASSERT_FALSE(index.empty()) << devices.out;
  for (const std::string& device : {std::string(), index, std::string("auto")}) {
    std::vector<std::string> arguments = {"render", "-o", Path("device" + device + ".png"), "--size", "64x36", "-q"};
    if (!device.empty()) arguments.insert(arguments.end(), {"--device", device});
    ASSERT_EQ(Tool(arguments).exitCode, 0) << device;
  }
  EXPECT_EQ(testsupport::ReadFile(Path("device" + index + ".png")), testsupport::ReadFile(Path("device.png")));
  EXPECT_EQ(testsupport::ReadFile(Path("deviceauto.png")), testsupport::ReadFile(Path("device.png")));
  for (const std::string& bad : {std::string("99"), std::string("/dev/null"), std::string("-1")}) {
    const RunResult refused = Tool({"render", "-o", Path("bad.png"), "--device", bad});
    EXPECT_EQ(refused.exitCode, 2) << bad;
    EXPECT_NE(refused.err.find("--device: no EGL device"), std::string::npos) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  }
}

TEST_F(ToolTest, StillIsAPngOfTheRightSizeAndNotBlank) {
  const RunResult result =
      Tool({"render", "-o", Path("still.png"), "--size", "96x54", "--set", "brightness=1", "--quiet"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(result.out.empty()) << "quiet";
  Picture picture;
  ASSERT_TRUE(ReadPng(Path("still.png"), picture));
  EXPECT_EQ(picture.width, 96);
  EXPECT_EQ(picture.height, 54);
  EXPECT_GT(MeanLevel(picture), 2.0) << "not blank";
  EXPECT_EQ(Files(), std::vector<std::string>{"still.png"}) << "no temporary file left";
}

TEST_F(ToolTest, SetAndRampChangeThePicture) {
  const std::vector<std::string> common = {"render", "--size", "64x36", "--quiet", "--frames", "3"};
  auto render = [&](const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> arguments = common;
    arguments.push_back("-o");
    arguments.push_back(Path(name));
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const RunResult result = Tool(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    Picture picture;
    EXPECT_TRUE(ReadPng(Path(name), picture)) << name;
    return picture.rgb;
  };
  const auto plain = render("plain.png", {});
  EXPECT_EQ(render("again.png", {}), plain) << "the same settings give the same picture";
  EXPECT_NE(render("set.png", {"--set", "Fractal Type=0.9"}), plain);
  EXPECT_EQ(render("byindex.png", {"--set", "3=0.9"}), render("byname.png", {"--set", "fractal-type=0.9"}));
  // A ramp ends at its last value: the sequence's last frame equals a still
  // set to that value, its first frame a still set to the first.
  const RunResult sequence = Tool({"render", "--size", "64x36", "--quiet", "--frames", "3", "--start", "2", "-o",
                                   Path("ramp_%d.png"), "--ramp", "mirror=0:1"});
  ASSERT_EQ(sequence.exitCode, 0) << sequence.err;
  Picture first, last;
  ASSERT_TRUE(ReadPng(Path("ramp_0.png"), first));
  ASSERT_TRUE(ReadPng(Path("ramp_2.png"), last));
  EXPECT_NE(first.rgb, last.rgb);
}

TEST_F(ToolTest, SequenceIsNumberedFromZero) {
  const RunResult result = Tool({"render", "-o", Path("f_%03d.png"), "--size", "32x18", "--frames", "4", "--quiet"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::string> files = Files();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"f_000.png", "f_001.png", "f_002.png", "f_003.png"}));
}

TEST_F(ToolTest, VideoHasTheFramesSizeAndCodecAsked) {
  const RunResult result =
      Tool({"render", "-o", Path("clip.mp4"), "--size", "160x90", "--frames", "30", "--fps", "30"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("30 frames, 160x90, H.264"), std::string::npos) << result.out;
  const RunResult probe = RunProgram({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                      "stream=codec_name,width,height,pix_fmt,nb_read_frames,r_frame_rate", "-of",
                                      "default=nw=1", Path("clip.mp4")});
  ASSERT_EQ(probe.exitCode, 0) << probe.err;
  for (const char* expected : {"codec_name=h264", "width=160", "height=90", "pix_fmt=yuv420p", "nb_read_frames=30",
                               "r_frame_rate=30/1"})
    EXPECT_NE(probe.out.find(expected), std::string::npos) << expected << " in " << probe.out;
  EXPECT_EQ(Files(), std::vector<std::string>{"clip.mp4"});
}

TEST_F(ToolTest, OddSizedVideoIsPaddedToEvenSides) {
  const RunResult result = Tool({"render", "-o", Path("odd.mp4"), "--size", "33x17", "--frames", "2", "--quiet"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(fs::exists(Path("odd.mp4")));
}

TEST_F(ToolTest, SheetHasOneCellPerValuePair) {
  const RunResult result = Tool({"sheet", "-o", Path("sheet.png"), "--cell", "40x30", "--gap", "2", "--across",
                                 "mirror=0,0.5,1", "--down", "fractal type=0.1,0.9", "--quiet", "--at", "0.5"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  Picture picture;
  ASSERT_TRUE(ReadPng(Path("sheet.png"), picture));
  EXPECT_EQ(picture.width, 3 * 40 + 2 * 2);
  EXPECT_EQ(picture.height, 2 * 30 + 1 * 2);
  const RunResult defaults = Tool({"sheet", "-o", Path("default.png"), "--cell", "16x9", "--quiet"});
  ASSERT_EQ(defaults.exitCode, 0) << defaults.err;
  ASSERT_TRUE(ReadPng(Path("default.png"), picture));
  EXPECT_EQ(picture.width, 4 * 16 + 3 * 2) << "four fractal types across";
  EXPECT_EQ(picture.height, 10 * 9 + 9 * 2) << "ten palettes down";
}

TEST_F(ToolTest, EveryCommandHasHelp) {
  for (const char* command : {"info", "render", "sheet"}) {
    const RunResult result = Tool({command, "--help"});
    EXPECT_EQ(result.exitCode, 0) << command;
    EXPECT_EQ(result.out.rfind(std::string("usage: tessarvander ") + command, 0), 0u) << result.out;
  }
  const RunResult top = Tool({"--help"});
  EXPECT_EQ(top.exitCode, 0);
  EXPECT_NE(top.out.find("render"), std::string::npos);
}

// ---- Bad input: one clear line, a non-zero exit, nothing written ---------------

TEST_F(ToolTest, BadInputIsRefusedWithOneLineAndNoFile) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;  // part of the one line on standard error
  };
  const std::string out = Path("out.png");
  const std::string video = Path("out.mp4");
  const std::vector<Case> cases = {
      {{"render", "-o", out, "--plugin", Path("missing.so")}, 1, "no plugin at"},
      {{"render", "-o", out, "--plugin", NOT_A_PLUGIN}, 1, "exports no plugMain"},
      {{"render", "-o", out, "--plugin", OLD_API_PLUGIN}, 1, "speaks FFGL API 1.0; this host needs 2.x"},
      {{"render", "-o", out, "--plugin", EFFECT_PLUGIN}, 1, "not a source (type 1)"},
      {{"render", "-o", out, "--set", "sparkle=1"}, 2, "unknown parameter \"sparkle\"; the parameters are: Speed, "},
      {{"render", "-o", out, "--set", "speed=fast"}, 2, "--set speed: \"fast\" is not a number"},
      {{"render", "-o", out, "--ramp", "speed=0"}, 2, "is not of the form FROM:TO"},
      {{"render", "-o", out, "--size", "0x100"}, 2, "has a zero side"},
      {{"render", "-o", out, "--size", "wide"}, 2, "is not a size like 1280x720"},
      {{"render", "-o", out, "--size", "100000x100"}, 1, "is outside what this GL allows"},
      {{"render", "-o", Path("no/such/folder/out.png")}, 1, "does not exist"},
      {{"render", "-o", Path("f_%d_%d.png")}, 2, "exactly one frame number field"},
      {{"render", "-o", Path("f_%s.png")}, 2, "exactly one frame number field"},
      {{"render", "-o", Path("out.gif")}, 2, "name a .png"},
      {{"render"}, 2, "render needs an output"},
      {{"render", "-o", out, "--frames", "0"}, 2, "--frames: 0 is outside 1 to"},
      {{"render", "-o", out, "--fps", "-3"}, 2, "--fps: -3 is outside"},
      {{"render", "-o", out, "--bogus"}, 2, "unknown option --bogus"},
      {{"render", "-o", out, "--gl", "vulkan"}, 2, "--gl: \"vulkan\" is not egl or glx"},
      {{"sheet", "-o", out, "--across", "mirror=a,b"}, 2, "is not a number"},
      {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
      {{"sheet", "-o", out, "--cell", "858993460x1"}, 2, "the sheet would be"},
      {{"render", "-o", "pipe:1/x.mkv"}, 1, "does not exist"},
      {{"play", "--out", "/nonexistent"}, 2, "--out: /nonexistent is not a folder"},
      {{"play", "--take", "/nonexistent/dir/s.take"}, 2, "--take: /nonexistent/dir is not a folder"},
  };
  for (const Case& c : cases) {
    std::string command;
    for (const std::string& argument : c.arguments) command += argument + " ";
    SCOPED_TRACE(command);
    const RunResult result = Tool(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one line: " << result.err;
    EXPECT_TRUE(Files().empty()) << "left behind: " << Files().front();
  }
}

TEST_F(ToolTest, BadPresetAndTakeFilesAreRefusedWithTheirPlace) {
  const fs::path inputs = folder.string() + "-inputs";
  fs::create_directories(inputs);
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream((inputs / name).string()) << text;
    return (inputs / name).string();
  };
  const std::string header = R"({"take": 1, "fps": 60, "parameters": {"Hue": 0.2}})";
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--preset", write("broken.json", "{\"format\": \"tessarvander-preset\",\n  \"version\": 1,,\n}")},
       "broken.json: not JSON at line 2, column 16"},
      {{"--preset", write("alien.json", R"({"format": "tessarvander-preset", "version": 1,
                                           "parameters": {"Sparkle": 1}})")},
       "alien.json: key \"parameters\" / \"Sparkle\" names no parameter of this plugin"},
      {{"--preset", "veryfast"}, "x264's speed preset is --x264-preset veryfast"},
      {{"--take", write("broken.take", header + "\n{\"frame\": 3, \"set\": {\"Hue\": }}\n")}, "broken.take, line 2"},
      {{"--take", write("backwards.take", header + "\n{\"frame\": 9, \"pause\": true}\n{\"frame\": 4, \"pause\": false}\n")},
       "line 3: key \"frame\" must be a whole number, not below the frame before it"},
      {{"--take", write("endless.take", header + "\n")}, "the last line must give \"frames\""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"render", "-o", Path("out.mp4")};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(c.arguments.back());
    const RunResult result = Tool(arguments);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one line: " << result.err;
    EXPECT_TRUE(Files().empty()) << "left behind: " << Files().front();
  }
  fs::remove_all(inputs);
}

TEST_F(ToolTest, MissingFfmpegIsNamedWithItsPackage) {
  const RunResult result = Tool({"render", "-o", Path("out.mp4"), "--frames", "2"}, {"PATH=/nonexistent"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("ffmpeg is not installed"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("apt-get install ffmpeg"), std::string::npos) << result.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(ToolTest, NoGlContextIsReportedNotCrashed) {
  const RunResult result = Tool({"render", "-o", Path("out.png"), "--gl", "glx"}, {"PATH=/usr/bin:/bin"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("GLX: $DISPLAY is not set"), std::string::npos) << result.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(ToolTest, InterruptedRenderLeavesNothing) {
  for (const char* name : {"long.mp4", "long_%04d.png"}) {
    const RunResult result = Tool({"render", "-o", Path(name), "--size", "320x180", "--frames", "100000"}, {}, 1500);
    EXPECT_EQ(result.exitCode, 130) << name << ": " << result.err;
    EXPECT_NE(result.err.find("interrupted; nothing written"), std::string::npos) << result.err;
    EXPECT_TRUE(Files().empty()) << "left behind: " << Files().front();
  }
}

// ---- GLX, under a virtual X server ---------------------------------------------

TEST_F(ToolTest, GlxGivesTheSamePictureAsEgl) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display; the suite runs this test under xvfb-run";
  const RunResult glx = Tool({"render", "-o", Path("glx.png"), "--size", "64x36", "--gl", "glx", "--quiet"});
  ASSERT_EQ(glx.exitCode, 0) << glx.err;
  const RunResult egl = Tool({"render", "-o", Path("egl.png"), "--size", "64x36", "--gl", "egl", "--quiet"});
  ASSERT_EQ(egl.exitCode, 0) << egl.err;
  Picture a, b;
  ASSERT_TRUE(ReadPng(Path("glx.png"), a));
  ASSERT_TRUE(ReadPng(Path("egl.png"), b));
  EXPECT_EQ(a.rgb, b.rgb);
}

}  // namespace

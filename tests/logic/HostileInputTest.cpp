// What comes from outside, in-process, grouped by surface: output paths,
// child-process arguments, the JSON readers, takes written as they happen.
// Each group holds the reproductions that once hurt and the cases near them.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <tuple>

#include "ParameterTable.h"
#include "formats/BeatList.h"
#include "formats/Presets.h"
#include "formats/Takes.h"
#include "farm/Segments.h"
#include "farm/PartProgress.h"
#include "farm/FarmState.h"
#include "farm/SlurmJobs.h"
#include "formats/CueSheet.h"
#include "formats/SoundJournal.h"
#include "formats/TakeJournal.h"
#include "sys/ShellQuote.h"
#include "formats/MidiMap.h"
#include "music/AudioAnalysis.h"
#include "player/PresetBank.h"
#include "sys/Messages.h"
#include "RunProgram.h"
#include "sys/OutputFile.h"
#include "formats/ParameterProfile.h"
#include "sys/ChildProcess.h"
#include "sys/Interrupts.h"
#include "sys/WorkerThread.h"

namespace {

namespace fs = std::filesystem;
using tool::ParameterControls;
using tool::ParameterNames;
using tool::ParameterValue;

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("tessarvander-hostile-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  std::string Path(const std::string& name) const { return (folder / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> Files() const { return testsupport::FilesIn(folder.string()); }
  fs::path folder;
  ParameterNames names = tool::ParameterProfile::TableNames();
};

// ---- Output paths -------------------------------------------------------------

// Names from outside reach the terminal only escaped: control characters
// (C0, DEL and C1, which terminals read as escapes) and broken UTF-8 as \xNN,
// every other character as it is. A bank of presets whose file names carry a
// newline or an escape sequence says so in one harmless line; so do the
// readers of a sound file, a MIDI map and a number.
TEST_F(HostileInputTest, NamesFromOutsideArePrintedEscaped) {
  EXPECT_EQ(tool::Printable("café ✓"), "café ✓");
  EXPECT_EQ(tool::Printable("a\nb\x1b]0;pwned\x07"), "a\\x0ab\\x1b]0;pwned\\x07");
  EXPECT_EQ(tool::Printable("\xc2\x9b" "2J"), "\\xc2\\x9b2J") << "C1's CSI";
  EXPECT_EQ(tool::Printable("\xff\xc0\xaf\xed\xa0\x80"), "\\xff\\xc0\\xaf\\xed\\xa0\\x80") << "broken and overlong UTF-8";
  EXPECT_EQ(tool::Printable("bank\xe2\x80\xaegnp.exe"), "bank\\xe2\\x80\\xaegnp.exe") << "a right-to-left override";
  EXPECT_EQ(tool::Printable("a\xe2\x81\xa6" "b\xe2\x80\x8b" "c\xef\xbb\xbf"), "a\\xe2\\x81\\xa6b\\xe2\\x80\\x8bc\\xef\\xbb\\xbf")
      << "an isolate, a zero-width space, a byte-order mark";
  fs::create_directories(Path("bank"));
  Write("bank/1-x\ny.json", "not json");
  Write("bank/2-\x1b[2J.json", "{}");
  tool::PresetBank bank;
  std::string error;
  EXPECT_FALSE(bank.Load(Path("bank"), names, error));
  const std::string shown = tool::Printable(error, 2000);
  EXPECT_EQ(shown.find('\n'), std::string::npos);
  EXPECT_EQ(shown.find('\x1b'), std::string::npos);
  EXPECT_NE(shown.find("1-x\\x0ay.json"), std::string::npos) << shown;

  mkfifo(Path("sound.fifo").c_str(), 0600);
  for (const std::string& path : {Path("sound.fifo"), std::string("/dev/zero"), folder.string()}) {
    tool::AudioTrack track;
    tool::AudioAnalysis analysis;
    EXPECT_FALSE(tool::AnalyseAudioFile(path, track, analysis, error));
    EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
  }
  tool::MidiMap map(names);
  EXPECT_FALSE(map.Load(Write("map.json", "{\"format\": 3}"), error));
  EXPECT_EQ(error.rfind("MIDI map " + Path("map.json"), 0), 0u) << error;
  tool::ParameterControls controls(names);
  EXPECT_FALSE(controls.AddSet("hue=0x10", error)) << "hexadecimal is not a number here";
}

TEST_F(HostileInputTest, NamesFromOutsideAreNewPlainFilesInTheFolder) {
  std::string path, error;
  for (const std::string& bad : {std::string("/etc/passwd.png"), std::string("../up.png"), std::string("a/b.png"),
                                 std::string(".bashrc.png"), std::string("x.png\n"), std::string("bell\a.png"),
                                 std::string("still.jpg"), std::string(".png"), std::string(""), std::string(200, 'a') + ".png"})
    EXPECT_FALSE(tool::OutsideName(folder.string(), bad, ".png", path, error)) << bad;
  ASSERT_TRUE(tool::OutsideName(folder.string(), "look.png", ".png", path, error)) << error;
  EXPECT_EQ(path, Path("look.png"));
  Write("look.png", "mine");
  ASSERT_TRUE(tool::OutsideName(folder.string(), "look.png", ".png", path, error));
  EXPECT_EQ(path, Path("look-2.png"));

  // A file that appears at the name while it is written is kept: the new one
  // is refused, the old one keeps its bytes and its mode.
  tool::OutputFile file;
  ASSERT_TRUE(file.Open(Path("race.png"), error, tool::OutputFile::Existing::Keep)) << error;
  Write("race.png", "theirs");
  chmod(Path("race.png").c_str(), 0600);
  EXPECT_FALSE(file.Commit(error));
  EXPECT_EQ(Read(Path("race.png")), "theirs");
  struct stat info {};
  stat(Path("race.png").c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A set of files appears whole or not at all: when one cannot be put in place,
// the others are taken back and what they replaced returns.
TEST_F(HostileInputTest, ASetOfFilesIsCommittedWholeOrNotAtAll) {
  Write("f_1.png", "old one");
  fs::create_directories(Path("f_2.png"));  // cannot be replaced by a file
  std::vector<tool::OutputFile> files(3);
  std::string error;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(files[i].Open(Path("f_" + std::to_string(i) + ".png"), error)) << error;
    std::ofstream(files[i].TemporaryPath()) << "new " << i;
  }
  EXPECT_FALSE(tool::CommitAll(files, error));
  EXPECT_EQ(Read(Path("f_1.png")), "old one");
  EXPECT_FALSE(fs::exists(Path("f_0.png")));
  EXPECT_TRUE(fs::is_directory(Path("f_2.png")));
  files.clear();
  EXPECT_EQ(Files(), (std::vector<std::string>{"f_1.png", "f_2.png"})) << "no temporary file left";

  fs::remove(Path("f_2.png"));
  files.resize(3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(files[i].Open(Path("f_" + std::to_string(i) + ".png"), error));
    std::ofstream(files[i].TemporaryPath()) << "new " << i;
  }
  ASSERT_TRUE(tool::CommitAll(files, error)) << error;
  EXPECT_EQ(Read(Path("f_1.png")), "new 1");
  EXPECT_EQ(Files().size(), 3u);
}

// ---- Child-process arguments --------------------------------------------------

TEST_F(HostileInputTest, MediaPathsNameLocalFilesOnly) {
  ASSERT_EQ(chdir(folder.c_str()), 0);
  EXPECT_EQ(tool::MediaPath("-i"), "file:" + Path("-i"));
  EXPECT_EQ(tool::MediaPath("http://127.0.0.1:8765/x.wav"), "file:" + Path("http:/127.0.0.1:8765/x.wav"));
  EXPECT_EQ(tool::MediaPath("concat:a.wav|b.wav"), "file:" + Path("concat:a.wav|b.wav"));
  EXPECT_EQ(tool::MediaPath("pipe:1/x.mkv"), "file:" + Path("pipe:1/x.mkv"));
  EXPECT_EQ(tool::MediaPath("/abs/../x.wav"), "file:/x.wav");
  // A child runs in a group of its own, so a terminal's Ctrl-C misses it.
  const tool::ChildResult group = tool::RunChild({"sh", "-c", "ps -o pgid= -p $$"});
  ASSERT_EQ(group.exitCode, 0) << group.err;
  EXPECT_NE(std::stol(group.out), static_cast<long>(getpgrp()));
  ASSERT_EQ(chdir("/"), 0);
}

// The scripts a scheduler runs quote every argument: sh reads each back as
// exactly the text, whatever it holds, and runs nothing inside it.
TEST_F(HostileInputTest, ScriptArgumentsAreReadBackAsTheirText) {
  for (const std::string& text : {std::string("plain"), std::string("it's"), std::string("$(touch PWNED)"),
                                 std::string("`touch PWNED`"), std::string("a\nb; touch PWNED"),
                                 std::string("'\\''"), std::string(" spaced \t"), std::string("$HOME *")}) {
    const tool::ChildResult echoed = tool::RunChild({"sh", "-c", "printf %s " + tool::ShellQuoted(text)}, "", folder.string());
    EXPECT_EQ(echoed.out, text);
  }
  EXPECT_FALSE(fs::exists(Path("PWNED")));
}

// --segment auto takes its part from the scheduler's variables, or refuses.
TEST_F(HostileInputTest, SchedulerIndicesAreCheckedBeforeUse) {
  static std::map<std::string, std::string> variables;
  const auto lookup = [](const char* name) -> const char* {
    const auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second.c_str();
  };
  tool::SegmentSpec segment;
  std::string error;
  variables = {{"SLURM_ARRAY_TASK_ID", "12"}, {"SLURM_ARRAY_TASK_MIN", "10"}, {"SLURM_ARRAY_TASK_MAX", "13"}};
  ASSERT_TRUE(tool::SegmentFromScheduler(lookup, segment, error)) << error;
  EXPECT_EQ(segment.index, 3);
  EXPECT_EQ(segment.count, 4);
  variables = {{"JOB_COMPLETION_INDEX", "0"}, {"TESSARVANDER_PARTS", "5"}};
  ASSERT_TRUE(tool::SegmentFromScheduler(lookup, segment, error)) << error;
  EXPECT_EQ(segment.index, 1);
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> refused = {
      {{}, "no scheduler gave this task a part"},
      {{{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "3"}}, "names no part"},
      {{{"SLURM_ARRAY_TASK_ID", "-1"}, {"SLURM_ARRAY_TASK_MIN", "1"}}, "is not a whole number"},
      {{{"SLURM_ARRAY_TASK_ID", "2"}}, "SLURM_ARRAY_TASK_MIN is not set"},
      {{{"SLURM_ARRAY_TASK_ID", "99999999999"}, {"SLURM_ARRAY_TASK_MIN", "1"}}, "is not a whole number"},
      {{{"JOB_COMPLETION_INDEX", "3"}}, "TESSARVANDER_PARTS is not set"},
      {{{"JOB_COMPLETION_INDEX", "3"}, {"TESSARVANDER_PARTS", "3"}}, "names no part"},
  };
  for (const auto& [set, message] : refused) {
    variables = set;
    EXPECT_FALSE(tool::SegmentFromScheduler(lookup, segment, error)) << message;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

// A farm's record names the jobs that squeue and scancel are given: anything
// but a Slurm job id, a part outside the render, or a record of the wrong
// shape is refused with one line naming the file, before any job is asked.
TEST_F(HostileInputTest, FarmRecordsAreCheckedBeforeTheirJobIdsReachSlurm) {
  fs::create_directories(Path("flight.farm"));
  const auto record = [&](const std::string& partJobs, const std::string& join, const std::string& format) {
    Write("flight.farm/jobs.json", "{\"format\": " + format + ", \"parts\": 2, \"partJobs\": " + partJobs +
                                       ", \"joinJob\": " + join + "}");
  };
  tool::FarmState state;
  std::string error;
  record(R"({"1": "12_1", "2": "12_2"})", R"("13")", R"("tessarvander-farm")");
  // No controller answers squeue: what is not done is unknown, never failed.
  Write("slurm.conf", "ClusterName=x\nSlurmctldHost=nohost(127.0.0.1)\nSlurmctldPort=9\nAuthType=auth/munge\n"
                      "MessageTimeout=1\nNodeName=n1 CPUs=1\nPartitionName=p Nodes=n1\n");
  setenv("SLURM_CONF", Path("slurm.conf").c_str(), 1);
  ASSERT_TRUE(tool::ReadFarmState(Path("flight.mkv"), state, error)) << error;
  unsetenv("SLURM_CONF");
  ASSERT_EQ(state.parts.size(), 2u);
  EXPECT_EQ(state.parts[0].Text(), "unknown");
  EXPECT_EQ(state.JoinText(), "unknown");
  EXPECT_EQ(state.Result(), tool::FarmState::Outcome::Unknown);
  EXPECT_NE(state.unknown.find("squeue: "), std::string::npos) << state.unknown;
  // The commands --dry-run prints read back, pasted into a shell, as exactly
  // their arguments, and run nothing hidden in them.
  const std::string hidden = "$(touch " + Path("PWNED") + ")";
  const std::vector<std::string> arguments = {"printf", "%s|", "plain", hidden, "it's", "a b", "`x`", "\n;x"};
  const auto echoed = testsupport::RunProgram({"/bin/sh", "-c", tool::ShellCommand(arguments)});
  EXPECT_EQ(echoed.out, "plain|" + hidden + "|it's|a b|`x`|\n;x|");
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> refused = {
      {R"({"1": "--signal=KILL"})", R"("13")", R"("tessarvander-farm")", "\"1\" must be a part"},
      {R"({"1": "12; touch PWNED"})", R"("13")", R"("tessarvander-farm")", "with a Slurm job id"},
      {R"({"0": "12_1"})", R"("13")", R"("tessarvander-farm")", "must be a part from 1 to 2"},
      {R"({"99": "12_1"})", R"("13")", R"("tessarvander-farm")", "must be a part from 1 to 2"},
      {R"({"1": 12})", R"("13")", R"("tessarvander-farm")", "with a Slurm job id"},
      {R"({})", R"("-u root")", R"("tessarvander-farm")", "key \"joinJob\" must be a Slurm job id"},
      {R"({})", R"("13")", "7", "not a farm record"},
      {R"([1])", R"("13")", R"("tessarvander-farm")", "key \"partJobs\" must be an object"},
  };
  for (const auto& [partJobs, join, format, message] : refused) {
    record(partJobs, join, format);
    state = tool::FarmState();
    EXPECT_FALSE(tool::ReadFarmState(Path("flight.mkv"), state, error)) << partJobs << " " << join;
    EXPECT_NE(error.find(message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  fs::remove(Path("flight.farm/jobs.json"));
  ASSERT_EQ(mkfifo(Path("flight.farm/jobs.json").c_str(), 0600), 0);
  EXPECT_FALSE(tool::ReadFarmState(Path("flight.mkv"), state, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(Path("PWNED")));
}

// Every helper runs within bounds: a child that hangs is stopped at its
// deadline, one that ignores SIGTERM is killed, one that talks without end
// is stopped at its cap, and Ctrl-C or SIGTERM to this program stops it.
// The scheduler's commands, faked on PATH, are believed only when their
// answers are what they should be: an sbatch that answers anything but a
// job id records nothing, a join refused after its parts cancels the parts
// and says so, squeue is asked once for a record of 3,000 parts, and an
// squeue that talks without end or hangs leaves the state unknown.
TEST_F(HostileInputTest, SchedulerCommandsAreBoundedAndTheirAnswersChecked) {
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); };
  auto started = Clock::now();
  tool::ChildResult hung = tool::RunChild({"sleep", "60"}, "", "", {0.5, 1024});
  EXPECT_TRUE(hung.timedOut);
  EXPECT_FALSE(hung.Finished());
  hung = tool::RunChild({"sh", "-c", "trap '' TERM; sleep 60"}, "", "", {0.5, 1024});
  EXPECT_TRUE(hung.timedOut) << "a child that ignores SIGTERM is killed";
  const tool::ChildResult talker = tool::RunChild({"yes"}, "", "", {30.0, 4096});
  EXPECT_TRUE(talker.truncated);
  EXPECT_EQ(talker.out.size(), 4096u);
  EXPECT_LT(seconds(started), 10.0);

  // Fakes of the scheduler's commands, first on PATH.
  fs::create_directories(Path("bin"));
  const auto fake = [&](const std::string& name, const std::string& body) {
    Write("bin/" + name, "#!/bin/sh\n" + body + "\n");
    fs::permissions(Path("bin/" + name), fs::perms::owner_all);
  };
  const std::string path = std::getenv("PATH");
  setenv("PATH", (Path("bin") + ":" + path).c_str(), 1);
  fake("scancel", "echo \"$@\" >> " + Path("cancelled"));
  tool::SlurmRequest request;
  request.parts = 2;
  request.render = {"render", "-o", Path("flight.mp4")};
  request.tool = "/bin/true";
  request.folder = folder.string();
  std::string partsJob, joinJob, error;
  {
    fake("sbatch", "echo 'Submitted batch job 12'");
    tool::SlurmJobs jobs;
    ASSERT_TRUE(jobs.Plan(request, error)) << error;
    EXPECT_FALSE(jobs.Submit(partsJob, joinJob, error));
    EXPECT_NE(error.find("which is no job id"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(Path("flight.farm/jobs.json"))) << "nothing recorded of an answer not believed";
  }
  {
    fake("sbatch", "case \"$*\" in *dependency*) echo 'sbatch: error: Batch job submission failed' >&2; exit 1;; esac\n"
                   "echo 1234");
    tool::SlurmJobs jobs;
    ASSERT_TRUE(jobs.Plan(request, error)) << error;
    EXPECT_FALSE(jobs.Submit(partsJob, joinJob, error));
    EXPECT_NE(error.find("the parts (job 1234) were cancelled"), std::string::npos) << error;
    EXPECT_EQ(Read(Path("cancelled")), "1234\n");
  }
  // A record of 3,000 parts: one squeue call a refresh.
  std::string partJobs;
  for (int part = 1; part <= 3000; ++part) partJobs += (part > 1 ? ", \"" : "\"") + std::to_string(part) + "\": \"77_" + std::to_string(part) + "\"";
  Write("flight.farm/jobs.json",
        R"({"format": "tessarvander-farm", "parts": 3000, "partJobs": {)" + partJobs + R"(}, "joinJob": "78"})");
  fake("squeue", "echo called >> " + Path("asked") + "\necho '77_1|RUNNING|None|node1|(null)'");
  tool::FarmState state;
  ASSERT_TRUE(tool::ReadFarmState(Path("flight.mp4"), state, error)) << error;
  EXPECT_EQ(Read(Path("asked")), "called\n");
  EXPECT_EQ(state.parts[0].status, tool::PartStatus::Running);
  EXPECT_EQ(state.parts[1].status, tool::PartStatus::Failed) << "gone from the queue, not done";
  // An squeue that talks without end, or hangs until this program is
  // interrupted: the state is unknown, at once.
  fake("squeue", "exec yes '77_1|RUNNING|None|node1|(null)'");
  state = tool::FarmState();
  started = Clock::now();
  ASSERT_TRUE(tool::ReadFarmState(Path("flight.mp4"), state, error)) << error;
  EXPECT_EQ(state.Result(), tool::FarmState::Outcome::Unknown) << state.unknown;
  EXPECT_LT(seconds(started), 10.0);
  fake("squeue", "exec sleep 600");
  tool::InstallInterruptHandlers();
  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    raise(SIGTERM);
  });
  state = tool::FarmState();
  started = Clock::now();
  ASSERT_TRUE(tool::ReadFarmState(Path("flight.mp4"), state, error)) << error;
  interrupter.join();
  tool::ForgetInterrupt();
  EXPECT_EQ(state.unknown, "squeue: interrupted");
  EXPECT_LT(seconds(started), 10.0) << "SIGTERM stops the wait";
  setenv("PATH", path.c_str(), 1);
}

// A part's progress file is written on whichever node runs it and read by
// `farm status` anywhere: a whole one reads back as written; anything else
// (not JSON, oversized, another format, numbers out of range, a node name
// that would scramble the terminal, a pipe) is refused with one line that
// names the file, and nothing of it is kept.
TEST_F(HostileInputTest, PartProgressFromAnyNodeIsCheckedBeforeItIsShown) {
  tool::PartProgress written;
  written.done = 120, written.total = 480, written.perSecond = 12.5, written.node = "node2";
  written.requeuedFrom = "node3", written.updated = 1.7e9;
  std::string error;
  ASSERT_TRUE(written.Write(Path("part-1.status"), error)) << error;
  tool::PartProgress read;
  ASSERT_TRUE(read.Read(Path("part-1.status"), error)) << error;
  EXPECT_EQ(std::tie(read.state, read.done, read.total, read.node, read.requeuedFrom),
            std::tie(written.state, written.done, written.total, written.node, written.requeuedFrom));
  const std::string good = Read(Path("part-1.status"));
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  const std::vector<std::string> refused = {
      "not json at all",
      good.substr(0, good.size() / 2),
      good + std::string(8192, ' '),
      with("tessarvander-part-progress", "tessarvander-preset"),
      with("\"running\"", "\"rm -rf\""),
      with("\"node2\"", "\"node\\n\\u001b[2Jhacked\""),
      with("\"node2\"", "\"" + std::string(100, 'n') + "\""),
      with("\"node3\"", "42"),
      with("120", "-5"),
      with("480", "1e300"),
      with("480", "100"),  // more frames done than the part holds
  };
  for (const std::string& text : refused) {
    tool::PartProgress hostile;
    Write("hostile.status", text);
    EXPECT_FALSE(hostile.Read(Path("hostile.status"), error)) << text;
    EXPECT_NE(error.find(Path("hostile.status")), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  ASSERT_EQ(mkfifo(Path("pipe.status").c_str(), 0600), 0);
  EXPECT_FALSE(read.Read(Path("pipe.status"), error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

// ---- JSON readers -------------------------------------------------------------

TEST_F(HostileInputTest, MalformedDocumentsAreRefusedWithOneLine) {
  std::vector<ParameterValue> values;
  std::string error;
  const auto preset = [&](const std::string& body) { return R"({"format": "tessarvander-preset", )" + body + "}"; };
  mkfifo(Path("fifo.json").c_str(), 0600);
  const std::vector<std::pair<std::string, std::string>> presets = {
      {Write("huge.json", preset(R"("version": 1, "parameters": {"Hue": 1e400})")), "out of range"},
      {Write("format.json", R"({"format": 1, "version": 1})"), "key \"format\" must be"},
      {Write("version.json", preset(R"("version": 4294967297, "parameters": {})")), "key \"version\" must be 1"},
      {Write("deep.json", std::string(100000, '[') + std::string(100000, ']')), "nested deeper than"},
      {Write("big.json", preset(R"("version": 1, "pad": ")" + std::string(2 << 20, ' ') + "\"")), "larger than 1 MiB"},
      {folder.string(), "not a regular file"},
      {Path("fifo.json"), "not a regular file"},
      {"/dev/zero", "not a regular file"},
      {Path("missing.json"), "cannot be read"},
  };
  for (const auto& [path, message] : presets) {
    EXPECT_FALSE(tool::LoadPreset(path, names, values, error)) << path;
    EXPECT_NE(error.find(message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  // A FIFO (or a device) is refused without being opened: opening one can
  // do something of its own. The kernel reports every open to a watch.
  const int watch = inotify_init1(IN_NONBLOCK);
  ASSERT_GE(inotify_add_watch(watch, Path("fifo.json").c_str(), IN_OPEN), 0);
  EXPECT_FALSE(tool::LoadPreset(Path("fifo.json"), names, values, error));
  char event[sizeof(inotify_event) + 256];
  EXPECT_LT(read(watch, event, sizeof event), 0) << "the FIFO was opened";
  close(watch);

  const std::string header = R"({"take": 1, "fps": 60, "parameters": {}})" "\n";
  const std::vector<std::pair<std::string, std::string>> takes = {
      {header + R"({"frames": 1e12})", "key \"frames\" must be a whole number"},
      {header + R"({"frames": 1000000000000})", "key \"frames\" must be a whole number"},
      {R"({"take": 1, "fps": 1e-300, "parameters": {}})" "\n" R"({"frames": 10})", "key \"fps\" must be"},
      {header + R"({"frame": 2.5, "pause": true})" "\n" R"({"frames": 10})", "key \"frame\" must be"},
      {header + R"({"frame": 3, "set": {"Hue": 1e400}})", "out of range"},
      {header + R"({"frame": 3, "renew": 0})" "\n" R"({"frames": 10})", "key \"renew\" must be"},
      {header + R"({"frame": 3, "renew": 100000})" "\n" R"({"frames": 10})", "key \"renew\" must be"},
      {std::string(3 << 20, ' '), "has no complete line"},
      {header + std::string(2 << 20, 'x') + "\n", "line 2: longer than 1 MiB"},
  };
  for (const auto& [text, message] : takes) {
    tool::Take take;
    EXPECT_FALSE(tool::LoadTake(Write("bad.take", text), names, take, error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }

  const std::string manifest =
      R"({"segment": 1, "of": 2, "first": 0, "end": 5, "frames": 10, "output": "p.mp4", "renderer": "r",
          "firstFrame": "", "lastFrame": "", "bytes": 1, "sha256": "", "width": 2, "height": 2, "codec": "h264",
          "settings": {}})";
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string text = manifest;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  tool::SegmentManifest read;
  ASSERT_TRUE(read.Read(Write("good.segment.json", manifest), error)) << error;
  for (const auto& [text, message] :
       std::vector<std::pair<std::string, std::string>>{{with("\"end\": 5", "\"end\": 2.5"), "key \"end\""},
                                                        {with("\"frames\": 10", "\"frames\": 1e300"), "key \"frames\""},
                                                        {with("\"segment\": 1", "\"segment\": 3"), "key \"segment\""},
                                                        {with("\"output\": \"p.mp4\"", "\"output\": 7"), "key \"output\""},
                                                        {with("\"settings\": {}", "\"settings\": 1"), "key \"settings\""}}) {
    EXPECT_FALSE(read.Read(Write("bad.segment.json", text), error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

// ---- Beat lists -----------------------------------------------------------------

// A list of beats from another program: the first field of each line, every
// line checked; a FIFO or a huge file is refused before it is read.
TEST_F(HostileInputTest, BeatListsAreReadLineByLineOrRefusedWithTheLine) {
  std::vector<double> beats;
  std::string error;
  ASSERT_TRUE(tool::LoadBeatList(Write("labels.txt", "# Audacity labels\n0.5\t0.5\tone\n\n1.0,2\r\n1.5 x\n"), beats, error))
      << error;
  EXPECT_EQ(beats, (std::vector<double>{0.5, 1.0, 1.5}));
  mkfifo(Path("fifo.txt").c_str(), 0600);
  const std::vector<std::pair<std::string, std::string>> bad = {
      {Write("nan.txt", "0.5\nnan\n"), "line 2: \"nan\" is not a time"},
      {Write("inf.txt", "1e400\n"), "is not a time"},
      {Write("negative.txt", "-0.5\n"), "outside 0 to a week"},
      {Write("back.txt", "1.0\n0.5\n"), "line 2: 0.5 s is not later"},
      {Write("same.txt", "1.0\n1.0\n"), "not later than the beat before"},
      {Write("hex.txt", "0x10\n"), "\"0x10\" is not a time"},
      {Write("binary.txt", std::string("1.0\n\x01\xff\n", 7)), "line 2"},
      {Write("empty.txt", "# nothing\n"), "no beats"},
      {Write("big.txt", std::string(17 << 20, '\n')), "larger than 16 MiB"},
      {Path("fifo.txt"), "not a regular file"},
  };
  for (const auto& [path, message] : bad) {
    const bool read = tool::LoadBeatList(path, beats, error);
    if (message.empty()) continue;  // accepted or not, only never a crash
    EXPECT_FALSE(read) << path;
    EXPECT_NE(error.find(message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

// ---- Takes written as they happen ---------------------------------------------

// A take cut anywhere re-renders: the journal writes whole lines, and every
// prefix of its file (a kill, a crash, a full disk at any byte) reads as the
// frames up to its last "upto", or, before the first, as one line saying so.
TEST_F(HostileInputTest, EveryPrefixOfATakeReadsAsTheFramesItHolds) {
  namespace param = tessarvander::param;
  std::string error;
  {
    tool::TakeJournal journal;
    ASSERT_TRUE(journal.Open(Path("s.take"), "", 60.0, {{param::Hue, 0.2f}}, names, error)) << error;
    for (long frame = 0; frame < 100; ++frame) {
      journal.Set(frame, param::Hue, static_cast<float>(frame) / 100.0f);  // a controller streaming
      if (frame % 7 == 0) journal.Level(frame, 0.5f);
      journal.FrameDone(frame + 1);
    }
    // No Close: the session was killed here.
  }
  const std::string whole = testsupport::ReadFile(Path("s.take.recording"));
  const size_t header = whole.find('\n') + 1;
  size_t firstUpto = whole.find("{\"upto\":");
  ASSERT_NE(firstUpto, std::string::npos);
  firstUpto = whole.find('\n', firstUpto);  // whole, if not yet ended
  for (size_t length = header; length <= whole.size(); ++length) {
    tool::Take take;
    const std::string prefix = whole.substr(0, length);
    const bool read = tool::ParseTake(prefix, "cut.take", names, take, error);
    if (length < firstUpto) {
      EXPECT_FALSE(read) << length;
      EXPECT_EQ(error.find('\n'), std::string::npos);
      continue;
    }
    ASSERT_TRUE(read) << length << ": " << error;
    const size_t lastUpto = prefix.rfind("{\"upto\":", prefix.rfind('\n', prefix.size() - 2) + 1);
    EXPECT_TRUE(take.cutShort);
    EXPECT_GE(take.frames, tool::TakeJournal::kUptoEvery);
    EXPECT_LE(take.frames, 100);
    EXPECT_EQ(take.frames % tool::TakeJournal::kUptoEvery, 0) << "ends at an \"upto\" (" << lastUpto << ")";
    ASSERT_GT(take.changeFrames, 0);
    EXPECT_LT(take.lastChange, take.frames);
  }
}

// A take is never replaced and always ends cleanly: an existing take or
// recording is refused at the start; changes asked for as the show ends (a
// controller still sending at Ctrl+Q) never outlast the last frame; a take
// that appeared at its path meanwhile is left alone; a write that fails (the
// file may grow no further) stops the journal, says why once, and leaves a
// take of the frames written. A take of part of the session (T) comes from
// the same history on disk.
TEST_F(HostileInputTest, ATakeIsNeverReplacedAndEndsCleanlyHoweverTheShowEnds) {
  namespace param = tessarvander::param;
  std::string error;
  tool::TakeJournal closed;
  ASSERT_TRUE(closed.Open(Path("t.take"), "", 60.0, {}, names, error)) << error;
  closed.Pause(5, true);
  closed.FrameDone(12);
  closed.Set(12, param::Zoom, 0.9f);  // arrived with Ctrl+Q
  ASSERT_TRUE(closed.Close(12, error)) << error;
  tool::Take take;
  ASSERT_TRUE(tool::LoadTake(Path("t.take"), names, take, error)) << error;
  EXPECT_EQ(take.frames, 12);
  EXPECT_FALSE(take.cutShort);
  tool::TakePlayer played(take, names);
  for (long frame = 0; frame <= 5; ++frame) played.Advance(frame);
  EXPECT_TRUE(played.Paused()) << "paused from frame 5";
  EXPECT_FALSE(fs::exists(Path("t.take.recording")));

  tool::TakeJournal again;
  EXPECT_FALSE(again.Open(Path("t.take"), "", 60.0, {}, names, error)) << "last night's take is not replaced";
  EXPECT_NE(error.find("never replaced"), std::string::npos) << error;
  Write("u.take.recording", "{\"take\":1,\"fps\":60}\n");
  EXPECT_FALSE(again.Open(Path("u.take"), "", 60.0, {}, names, error)) << "a crashed take is not overwritten";
  EXPECT_NE(error.find("ended early"), std::string::npos) << error;

  tool::TakeJournal raced;
  ASSERT_TRUE(raced.Open(Path("v.take"), "", 60.0, {}, names, error)) << error;
  Write("v.take", "someone else's");
  EXPECT_FALSE(raced.Close(3, error));
  EXPECT_EQ(testsupport::ReadFile(Path("v.take")), "someone else's");
  EXPECT_NE(error.find("the take is in " + Path("v.take.recording")), std::string::npos) << error;

  // The file may grow to 4 KiB and no further, as on a full disk.
  {
    tool::TakeJournal full;
    ASSERT_TRUE(full.Open(Path("w.take"), "", 60.0, {}, names, error)) << error;
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    long frame = 0;
    for (; frame < 2000 && full.Failure().empty(); ++frame) {
      full.Set(frame, param::Hue, static_cast<float>(frame % 100) / 100.0f);
      full.FrameDone(frame + 1);
    }
    ASSERT_TRUE(full.Settle(10.0)) << "the writer met the limit";
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_FALSE(full.Failure().empty()) << "the write that failed is kept";
    EXPECT_GT(full.RecordedUpTo(), 0);
    EXPECT_FALSE(full.Close(frame, error));
    EXPECT_NE(error.find("holds frames up to " + std::to_string(full.RecordedUpTo())), std::string::npos) << error;
    ASSERT_TRUE(tool::LoadTake(Path("w.take.recording"), names, take, error)) << error;
    EXPECT_EQ(take.frames, full.RecordedUpTo());
  }

  // A disk that stops taking lines (frozen, or a hung share): the journal
  // stops at its last whole line once its writer falls behind, says so, and
  // the show goes on; the take holds the frames the disk took.
  {
    tool::TakeJournal stalled;
    ASSERT_TRUE(stalled.Open(Path("x.take"), "", 60.0, {}, names, error)) << error;
    tool::WorkerThread::HoldForTests(true);
    long frame = 0;
    // The held writer may have taken a batch of up to its 4096 jobs before
    // it stopped, and its queue takes 4096 more.
    for (; frame < 20000 && stalled.Failure().empty(); ++frame) {
      stalled.Set(frame, param::Hue, static_cast<float>(frame % 100) / 100.0f);
      stalled.FrameDone(frame + 1);
    }
    EXPECT_EQ(stalled.Failure(), "the disk did not keep up with the show");
    EXPECT_FALSE(stalled.Close(frame, error, 0.2));
    EXPECT_NE(error.find("the take is in " + Path("x.take.recording")), std::string::npos) << error;
    tool::WorkerThread::HoldForTests(false);
    ASSERT_TRUE(stalled.Settle(10.0));
    ASSERT_TRUE(tool::LoadTake(Path("x.take.recording"), names, take, error)) << error;
    EXPECT_EQ(take.frames, stalled.RecordedUpTo());
    EXPECT_GT(take.frames, 1000);
  }

  // T: frames 40 to 90 of a session kept on disk, unnamed.
  tool::TakeJournal session;
  ASSERT_TRUE(session.Open("", folder.string(), 60.0, {{param::Hue, 0.1f}}, names, error)) << error;
  for (long frame = 0; frame < 90; ++frame) {
    if (frame % 10 == 0) session.Set(frame, param::Zoom, static_cast<float>(frame) / 100.0f);
    session.FrameDone(frame + 1);
  }
  session.WriteTake(Path("part.take"), 40, 90);
  ASSERT_TRUE(session.Settle(10.0));
  std::vector<tool::TakeJournal::News> news = session.TakeNews();
  ASSERT_EQ(news.size(), 1u);
  EXPECT_FALSE(news[0].problem) << news[0].line;
  ASSERT_TRUE(tool::LoadTake(Path("part.take"), names, take, error)) << error;
  EXPECT_EQ(take.first, 40);
  EXPECT_EQ(take.frames, 90);
  EXPECT_EQ(take.changeFrames, 9) << "every change from the session's start, for the pre-roll";
  session.WriteTake(Path("part.take"), 40, 90);
  ASSERT_TRUE(session.Settle(10.0));
  news = session.TakeNews();
  ASSERT_EQ(news.size(), 1u);
  EXPECT_TRUE(news[0].problem) << "an existing file is never replaced: " << news[0].line;
}

// The take's sound: never over a file; whole blocks, its header's sizes
// brought up to date as it grows and right at the end; a take's range of it
// copied sample for sample with a header of its own; beside a take cut
// short, its name says so too.
TEST_F(HostileInputTest, TheTakesSoundIsWholeAndNeverReplaced) {
  EXPECT_EQ(tool::TakeSoundPath("/gig/set.take"), "/gig/set.take.wav");
  EXPECT_EQ(tool::TakeSoundPath("/gig/set.take.recording"), "/gig/set.take.wav.recording");
  std::string error;
  Write("kept.wav", "someone else's");
  tool::SoundJournal refused;
  EXPECT_FALSE(refused.Open(Path("kept.wav"), "", 48000, error));
  EXPECT_NE(error.find("never replaced"), std::string::npos) << error;
  EXPECT_EQ(Read(Path("kept.wav")), "someone else's");

  tool::SoundJournal sound;
  ASSERT_TRUE(sound.Open(Path("set.take.wav"), "", 48000, error)) << error;
  std::vector<float> ramp(3 * 48000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) / ramp.size();
  for (size_t at = 0; at < ramp.size(); at += 1000) sound.Append(ramp.data() + at, std::min<size_t>(1000, ramp.size() - at));
  ASSERT_TRUE(sound.Settle(10.0));
  const auto dataSize = [](const std::string& wave) {
    uint32_t size = 0;
    std::memcpy(&size, wave.data() + 40, 4);
    return size;
  };
  const std::string growing = Read(Path("set.take.wav.recording"));
  EXPECT_EQ((growing.size() - 44) % (4 * tool::SoundJournal::kBlockSamples), 0u) << "whole blocks";
  EXPECT_GE(dataSize(growing), 2u * 48000 * 4) << "the header follows within a second";
  sound.WriteTake(Path("part.take.wav"), 48000, 72000);
  std::string closeError;
  ASSERT_TRUE(sound.Close(closeError)) << closeError;
  const std::string whole = Read(Path("set.take.wav"));
  EXPECT_FALSE(fs::exists(Path("set.take.wav.recording")));
  ASSERT_EQ(whole.size(), 44 + ramp.size() * 4);
  EXPECT_EQ(dataSize(whole), ramp.size() * 4);
  EXPECT_EQ(whole.compare(0, 4, "RIFF"), 0);
  EXPECT_EQ(std::memcmp(whole.data() + 44, ramp.data(), ramp.size() * 4), 0);
  const std::string part = Read(Path("part.take.wav"));
  ASSERT_EQ(part.size(), 44 + 24000u * 4);
  EXPECT_EQ(dataSize(part), 24000u * 4);
  EXPECT_EQ(std::memcmp(part.data() + 44, ramp.data() + 48000, 24000 * 4), 0);
  for (const tool::RecordingFile::News& news : sound.TakeNews()) EXPECT_FALSE(news.problem) << news.line;
}

// Cue sheets as people and programs get them wrong: each refusal names its
// line and says one thing; a sheet that reads is exactly what it says, and
// reads back the same when written; the bounded reader keeps a huge or odd
// file out.
TEST_F(HostileInputTest, CueSheetsAreReadStrictlyLineByLine) {
  const tool::ParameterNames& names = tool::ParameterProfile::TableNames();
  tool::CueSheet sheet;
  std::string error;
  const std::string good =
      "# a song\n"
      "bar 1            look 1\n"
      "bar 17           look julia-fire dissolve 2 bars   # the chorus\n"
      "bar 33 beat 3.5  look 3 luma 6 beats\n"
      "1:02.5           set zoom 0.7\n"
      "bar 41           blackout\n"
      "bar 42           back\n"
      "bar 49           ramp Pulse_Amount to 0.8 over 1.5s\n";
  ASSERT_TRUE(tool::ParseCueSheet(good, "sheet", names, sheet, error)) << error;
  ASSERT_EQ(sheet.cues.size(), 7u);
  EXPECT_EQ(sheet.cues[1].look, "julia-fire");
  EXPECT_EQ(sheet.cues[1].transition, tool::Transition::Dissolve);
  EXPECT_EQ(sheet.cues[1].length.Seconds(0.5), 4.0);
  EXPECT_DOUBLE_EQ(sheet.cues[2].at.Beats(), 32 * 4 + 2.5);
  EXPECT_EQ(sheet.cues[2].line, 4);
  EXPECT_DOUBLE_EQ(sheet.cues[3].at.seconds, 62.5);
  EXPECT_EQ(sheet.cues[6].parameter, static_cast<uint32_t>(tessarvander::param::PulseAmount));
  tool::CueSheet again;
  ASSERT_TRUE(tool::ParseCueSheet(tool::CueSheetText(sheet, names), "written", names, again, error)) << error;
  EXPECT_EQ(tool::CueSheetText(again, names), tool::CueSheetText(sheet, names));

  const struct {
    std::string text;
    std::string says;
  } bad[] = {
      {"bar 1 look 1\nbar 5 look", "line 2: look names a slot"},                 // cut short
      {"bar 1 look 1 dissolve", "line 1: a length is"},
      {"bar 9 look 1\nbar 5 look 2", "line 2: bar 5 comes before the cue above it"},
      {"bar 0 look 1", "a bar is a whole number from 1"},
      {"bar 1.5 look 1", "a bar is a whole number"},
      {"bar 999999999 look 1", "a bar is a whole number from 1 to 100000"},
      {"bar 3 beat 5 look 1", "a beat of the bar is from 1 to 4"},
      {"bar 1 look 1 dissolve 99999 bars", "a length is at most 1000 bars"},
      {"bar 1 look 1 dissolve nan bars", "a length is a number"},
      {"bar 1 look 1 wipe 2 bars", "not \"wipe\""},
      {"bar 1 set warp 0.5", "warp"},
      {"bar 1 set zoom 1e400", "a value is a plain number"},
      {"bar 1 ramp zoom 0.5 over 2 bars", "ramp NAME to VALUE over LENGTH"},
      {"bar 1 look 1 cut now", "\"now\" is more than a cue says"},
      {"soon look 1", "a cue starts with its place"},
      {"1:75 look 1", "a cue starts with its place"},
      {"bar 1 look 1\x1b[2J", "control character"},
      {"bar 1 look " + std::string(2000, 'x'), "longer than 1024"},
      {"bar 1 fly away", "a cue is look, blackout, back, set or ramp"},
  };
  for (const auto& [text, says] : bad) {
    EXPECT_FALSE(tool::ParseCueSheet(text, "sheet", names, sheet, error)) << text;
    EXPECT_NE(error.find(says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
  }
  std::string many;
  for (int cue = 0; cue <= static_cast<int>(tool::kMaxCues); ++cue) many += "0:01 set zoom 0.5\n";
  EXPECT_FALSE(tool::ParseCueSheet(many, "sheet", names, sheet, error));
  EXPECT_NE(error.find("more than 10000 cues"), std::string::npos) << error;
  EXPECT_FALSE(tool::LoadCueSheet(folder.string(), names, sheet, error)) << "a folder is no sheet";
  Write("huge.txt", std::string(tool::kMaxCueSheetBytes + 1, '#'));
  EXPECT_FALSE(tool::LoadCueSheet(Path("huge.txt"), names, sheet, error));
}

}  // namespace

// A render spread over a live Slurm scheduler: the test starts munged,
// slurmctld and slurmd on this machine in a private folder (linuxproc
// process tracking, no task plugin, no accounting) and stops them by pid,
// failed or not. Then `farm slurm` submits a 3-part render, the join waits
// for it, and the joined video is the one-piece render's frames; a part made
// to fail leaves the join unrun, `farm status` names it, and a resubmission
// of that part alone completes the render.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "RunProgram.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::RunResult;

// Generous, for a busy machine; nothing is timed against it.
constexpr auto kPatience = std::chrono::seconds(180);

class SlurmCluster {
 public:
  explicit SlurmCluster(const fs::path& folder) : folder(folder) {
    fs::create_directories(folder / "key");
    fs::create_directories(folder / "state");
    fs::create_directories(folder / "spool");
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(folder / "key", fs::perms::owner_all);
    {
      std::ifstream random("/dev/urandom", std::ios::binary);
      std::string key(1024, '\0');
      random.read(key.data(), static_cast<std::streamsize>(key.size()));
      std::ofstream(folder / "key" / "munge.key", std::ios::binary) << key;
      fs::permissions(folder / "key" / "munge.key", fs::perms::owner_read);
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string name = host;
    name = name.substr(0, name.find('.'));
    const int port = 40000 + (getpid() % 10000) * 2;
    const std::string f = folder.string();
    std::ofstream(folder / "slurm.conf")
        << "ClusterName=tessarvander\nSlurmctldHost=" << name << "(127.0.0.1)\nAuthType=auth/munge\n"
        << "AuthInfo=socket=" << f << "/munge.sock\nCredType=cred/munge\nProctrackType=proctrack/linuxproc\n"
        << "TaskPlugin=task/none\nSlurmUser=root\nSlurmdUser=root\nStateSaveLocation=" << f << "/state\n"
        << "SlurmdSpoolDir=" << f << "/spool\nSlurmctldPidFile=" << f << "/slurmctld.pid\nSlurmdPidFile=" << f
        << "/slurmd.pid\nSlurmctldPort=" << port << "\nSlurmdPort=" << port + 1 << "\nSlurmctldLogFile=" << f
        << "/slurmctld.log\nSlurmdLogFile=" << f << "/slurmd.log\nReturnToService=2\nSchedulerType=sched/builtin\n"
        << "SelectType=select/cons_tres\nSelectTypeParameters=CR_Core\nJobCompType=jobcomp/none\n"
        << "AccountingStorageType=accounting_storage/none\nJobAcctGatherType=jobacct_gather/none\nMpiDefault=none\n"
        << "NodeName=" << name << " NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN\n"
        << "PartitionName=test Nodes=" << name << " Default=YES MaxTime=INFINITE State=UP\n";
    setenv("SLURM_CONF", (folder / "slurm.conf").c_str(), 1);
    Start({"/usr/sbin/munged", "--foreground", "--key-file=" + f + "/key/munge.key", "--socket=" + f + "/munge.sock",
           "--pid-file=" + f + "/munged.pid", "--log-file=" + f + "/munged.log", "--seed-file=" + f + "/munge.seed"},
          "munged.out");
    WaitUntil([&] { return fs::exists(folder / "munge.sock"); });
    Start({"/usr/sbin/slurmctld", "-D", "-f", f + "/slurm.conf"}, "slurmctld.out");
    Start({"/usr/sbin/slurmd", "-D", "-f", f + "/slurm.conf", "-N", name}, "slurmd.out");
    ready = WaitUntil([] { return RunProgram({"/usr/bin/sinfo", "-h", "-o", "%t"}).out.find("idle") == 0; });
  }
  ~SlurmCluster() {
    for (auto pid = pids.rbegin(); pid != pids.rend(); ++pid) testsupport::StopProgram(*pid);
    unsetenv("SLURM_CONF");
  }
  bool Ready() const { return ready; }
  std::string Logs() const {
    return ReadFile((folder / "slurmctld.log").string()) + ReadFile((folder / "slurmd.log").string()) +
           ReadFile((folder / "munged.out").string());
  }
  template <class Condition>
  static bool WaitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
  }

 private:
  void Start(std::vector<std::string> arguments, const std::string& log) {
    const int pid = testsupport::StartProgram(std::move(arguments), (folder / log).string());
    if (pid > 0) pids.push_back(pid);
  }

  fs::path folder;
  std::vector<int> pids;
  bool ready = false;
};

class FarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/sbin/slurmctld") || !fs::exists("/usr/sbin/munged"))
      GTEST_SKIP() << "slurm-wlm and munge are not installed; the test command installs them";
    folder = fs::temp_directory_path() / ("tessarvander-farm-test-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  RunResult Tool(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), TESSARVANDER_TOOL);
    return RunProgram(arguments);
  }
  std::string Path(const std::string& name) const { return (folder / name).string(); }
  std::string Status(const std::string& output) const { return Tool({"farm", "status", output}).out; }
  std::string VideoFrames(const std::string& video) const {
    const RunResult md5 = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-i", video, "-map", "0:v", "-f", "framemd5", "-"});
    EXPECT_EQ(md5.exitCode, 0) << md5.err;
    std::string frames;  // the lines of hashes, without the header
    for (size_t start = 0; start < md5.out.size();) {
      const size_t end = md5.out.find('\n', start);
      const std::string line = md5.out.substr(start, end - start);
      if (!line.empty() && line[0] != '#') frames += line.substr(line.rfind(',') + 1) + "\n";
      start = end == std::string::npos ? md5.out.size() : end + 1;
    }
    return frames;
  }

  fs::path folder;
};

TEST_F(FarmTest, ASlurmArrayRendersThePartsAndTheJoinWaitsForThemAll) {
  SlurmCluster cluster(folder / "cluster");
  ASSERT_TRUE(cluster.Ready()) << cluster.Logs();
  const RunResult tone = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=440:duration=2", Path("tone.wav")});
  ASSERT_EQ(tone.exitCode, 0) << tone.err;
  const std::vector<std::string> render = {"render", "--frames", "90", "--size", "160x90", "--crf", "0", "--audio",
                                           Path("tone.wav")};
  const auto farmed = [&](const std::string& output, std::vector<std::string> extra) {
    std::vector<std::string> arguments = {"farm", "slurm", "--parts", "3"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("--");
    arguments.insert(arguments.end(), render.begin(), render.end());
    arguments.insert(arguments.end(), {"-o", output});
    return Tool(arguments);
  };

  // Three parts and their join, against the render in one piece.
  const RunResult submitted = farmed(Path("flight.mkv"), {});
  ASSERT_EQ(submitted.exitCode, 0) << submitted.err;
  EXPECT_NE(submitted.out.find("submitted the parts as job"), std::string::npos) << submitted.out;
  ASSERT_TRUE(SlurmCluster::WaitUntil([&] { return Status(Path("flight.mkv")).find("join: done") != std::string::npos; }))
      << Status(Path("flight.mkv")) << ReadFile(Path("flight.farm/join.log")) << ReadFile(Path("flight.farm/part-1.log"));
  std::vector<std::string> whole = render;
  whole.insert(whole.end(), {"-o", Path("whole.mkv"), "-q"});
  ASSERT_EQ(Tool(whole).exitCode, 0);
  EXPECT_EQ(VideoFrames(Path("flight.mkv")), VideoFrames(Path("whole.mkv")));
  const RunResult streams = RunProgram({"/usr/bin/ffprobe", "-v", "error", "-show_entries", "stream=codec_type",
                                        "-of", "csv=p=0", Path("flight.mkv")});
  EXPECT_NE(streams.out.find("audio"), std::string::npos) << "the music is muxed in: " << streams.out;

  // Part 2 cannot be written (a folder stands at its name): the join never
  // runs, the status names the part, and part 2 alone again completes it.
  fs::create_directories(Path("broken.part-2.mkv"));
  ASSERT_EQ(farmed(Path("broken.mkv"), {}).exitCode, 0);
  ASSERT_TRUE(SlurmCluster::WaitUntil([&] {
    const std::string status = Status(Path("broken.mkv"));
    return status.find("part 2: failed") != std::string::npos && status.find("part 3: done") != std::string::npos &&
           status.find("part 1: done") != std::string::npos;
  })) << Status(Path("broken.mkv"));
  const std::string status = Status(Path("broken.mkv"));
  EXPECT_NE(status.find("part 2: failed (see " + Path("broken.farm/part-2.log") + ")"), std::string::npos) << status;
  EXPECT_NE(status.find("join: will not run: a part failed"), std::string::npos) << status;
  EXPECT_FALSE(fs::exists(Path("broken.mkv")));
  fs::remove(Path("broken.part-2.mkv"));
  ASSERT_EQ(farmed(Path("broken.mkv"), {"--only", "2"}).exitCode, 0);
  ASSERT_TRUE(SlurmCluster::WaitUntil([&] { return Status(Path("broken.mkv")).find("join: done") != std::string::npos; }))
      << Status(Path("broken.mkv")) << ReadFile(Path("broken.farm/join.log"));
  EXPECT_EQ(VideoFrames(Path("broken.mkv")), VideoFrames(Path("whole.mkv")));
}

}  // namespace

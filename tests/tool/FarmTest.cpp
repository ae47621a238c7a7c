// Renders spread over a live Slurm cluster of four nodes on this machine:
// the test starts munged, slurmctld and four slurmd in a private folder and
// stops them by pid. Each slurmd runs in a UTS and mount namespace of its
// own, with its own hostname (node1 to node4), its own loopback address
// (127.0.0.2 to .5, NodeAddr) and a hosts file naming them all; a folder
// the host sees is hidden from every node, as a folder not on shared
// storage would be.
//
// The tests: a 3-part render and its join equal the one-piece render; a
// failed part leaves the join unrun and a resubmission of it alone
// completes it; four parts spread over at least three nodes, each telling
// its progress, and a node set DOWN mid-render has its part requeued and
// the joined video still equals the one-piece render; `farm cancel` leaves
// nothing queued; a part on a node that cannot see the output's folder
// fails at once with the line that says so; `farm status --watch` ends
// with the render's outcome.
#include <gtest/gtest.h>
#include <unistd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
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
constexpr auto kPatience = std::chrono::seconds(240);
constexpr int kNodes = 4;

template <class Condition>
bool WaitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  return false;
}

// Two neighbouring TCP ports free on this machine, for the controller and
// the nodes: below the range the kernel hands out to outgoing connections
// (which a port derived from the pid fell into, and found taken), and
// checked by binding both.
int FreePortPair() {
  const auto free = [](int port) {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return bound;
  };
  for (int k = 0; k < 5000; ++k) {
    const int port = 20000 + ((getpid() + k) % 5000) * 2;
    if (free(port) && free(port + 1)) return port;
  }
  return 20000;
}

class SlurmCluster {
 public:
  SlurmCluster(const fs::path& folder, const fs::path& hidden) : folder(folder) {
    for (const char* sub : {"key", "state"}) fs::create_directories(folder / sub);
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
    std::string controller = host;
    controller = controller.substr(0, controller.find('.'));
    const int port = FreePortPair();
    const std::string f = folder.string();
    std::ofstream conf(folder / "slurm.conf");
    conf << "ClusterName=tessarvander\nSlurmctldHost=" << controller << "(127.0.0.1)\nAuthType=auth/munge\n"
         << "AuthInfo=socket=" << f << "/munge.sock\nCredType=cred/munge\nProctrackType=proctrack/linuxproc\n"
         << "TaskPlugin=task/none\nSlurmUser=root\nSlurmdUser=root\nStateSaveLocation=" << f << "/state\n"
         << "SlurmdSpoolDir=" << f << "/spool-%n\nSlurmctldPidFile=" << f << "/slurmctld.pid\nSlurmdPidFile=" << f
         << "/slurmd-%n.pid\nSlurmctldPort=" << port << "\nSlurmdPort=" << port + 1 << "\nSlurmctldLogFile=" << f
         << "/slurmctld.log\nSlurmdLogFile=" << f << "/slurmd-%n.log\nReturnToService=2\n"
         << "CommunicationParameters=NoInAddrAny\nJobRequeue=1\nSchedulerType=sched/builtin\n"
         << "SelectType=select/cons_tres\nSelectTypeParameters=CR_Core\nJobCompType=jobcomp/none\n"
         << "AccountingStorageType=accounting_storage/none\nJobAcctGatherType=jobacct_gather/none\nMpiDefault=none\n";
    std::ofstream hosts(folder / "hosts");
    hosts << "127.0.0.1 localhost " << controller << "\n";
    for (int node = 1; node <= kNodes; ++node) {
      const std::string name = "node" + std::to_string(node);
      conf << "NodeName=" << name << " NodeAddr=127.0.0." << node + 1 << " CPUs=1 State=UNKNOWN\n";
      hosts << "127.0.0." << node + 1 << " " << name << "\n";
    }
    conf << "PartitionName=test Nodes=node[1-" << kNodes << "] Default=YES MaxTime=INFINITE State=UP\n";
    conf.close();
    hosts.close();
    setenv("SLURM_CONF", (folder / "slurm.conf").c_str(), 1);
    Start({"/usr/sbin/munged", "--foreground", "--key-file=" + f + "/key/munge.key", "--socket=" + f + "/munge.sock",
           "--pid-file=" + f + "/munged.pid", "--log-file=" + f + "/munged.log", "--seed-file=" + f + "/munge.seed"},
          "munged.out");
    WaitUntil([&] { return fs::exists(folder / "munge.sock"); });
    Start({"/usr/sbin/slurmctld", "-D", "-f", f + "/slurm.conf"}, "slurmctld.out");
    // Each node in namespaces of its own: its name, the hosts file, and the
    // hidden folder covered by an empty one.
    const std::string node =
        "hostname \"$1\" && mount --bind \"$2\" /etc/hosts && mount -t tmpfs none \"$4\" && "
        "exec /usr/sbin/slurmd -D -f \"$3\" -N \"$1\"";
    for (int n = 1; n <= kNodes; ++n) {
      const std::string name = "node" + std::to_string(n);
      fs::create_directories(folder / ("spool-" + name));
      Start({"/usr/bin/unshare", "--uts", "--mount", "--propagation", "private", "/bin/sh", "-c", node, "sh", name,
             f + "/hosts", f + "/slurm.conf", hidden.string()},
            "slurmd-" + name + ".out");
    }
    ready = WaitUntil([] {
      return RunProgram({"/usr/bin/sinfo", "-h", "-o", "%D %t"}).out.find(std::to_string(kNodes) + " idle") == 0;
    });
  }
  ~SlurmCluster() {
    for (auto pid = pids.rbegin(); pid != pids.rend(); ++pid) testsupport::StopProgram(*pid);
    unsetenv("SLURM_CONF");
  }
  bool Ready() const { return ready; }
  std::string Logs() const {
    std::string logs = ReadFile((folder / "slurmctld.log").string()) + ReadFile((folder / "munged.out").string());
    for (int n = 1; n <= kNodes; ++n) logs += ReadFile((folder / ("slurmd-node" + std::to_string(n) + ".out")).string());
    return logs;
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
  static void SetUpTestSuite() {
    if (!fs::exists("/usr/sbin/slurmctld") || !fs::exists("/usr/sbin/munged") || !fs::exists("/usr/bin/unshare"))
      return;
    folder = fs::temp_directory_path() / ("tessarvander-farm-test-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "hidden");
    cluster = new SlurmCluster(folder / "cluster", folder / "hidden");
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
    fs::remove_all(folder);
  }
  void SetUp() override {
    if (!cluster) GTEST_SKIP() << "slurm-wlm, munge and util-linux are not installed; the test command installs them";
    ASSERT_TRUE(cluster->Ready()) << cluster->Logs();
  }

  static RunResult Tool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), TESSARVANDER_TOOL);
    return RunProgram(arguments);
  }
  static std::string Path(const std::string& name) { return (folder / name).string(); }
  static std::string Status(const std::string& output) { return Tool({"farm", "status", output}).out; }
  static bool Says(const std::string& output, const std::string& text) {
    return Status(output).find(text) != std::string::npos;
  }
  static RunResult Farmed(const std::string& output, long parts, std::vector<std::string> render,
                          std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {"farm", "slurm", "--parts", std::to_string(parts)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("--");
    arguments.push_back("render");
    arguments.insert(arguments.end(), render.begin(), render.end());
    arguments.insert(arguments.end(), {"-o", output});
    return Tool(arguments);
  }
  // The one-piece render of the same options.
  static std::string Whole(std::vector<std::string> render, const std::string& name) {
    render.insert(render.begin(), "render");
    render.insert(render.end(), {"-o", Path(name), "-q"});
    EXPECT_EQ(Tool(render).exitCode, 0);
    return VideoFrames(Path(name));
  }
  static std::string VideoFrames(const std::string& video) {
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

  static fs::path folder;
  static SlurmCluster* cluster;
};

fs::path FarmTest::folder;
SlurmCluster* FarmTest::cluster = nullptr;

TEST_F(FarmTest, AJobArrayRendersThePartsAndTheJoinWaitsForThemAll) {
  const RunResult tone = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                     "sine=frequency=440:duration=2", Path("tone.wav")});
  ASSERT_EQ(tone.exitCode, 0) << tone.err;
  const std::vector<std::string> render = {"--frames", "90", "--size", "160x90", "--crf", "0", "--audio", Path("tone.wav")};

  // Three parts and their join, against the render in one piece.
  const RunResult submitted = Farmed(Path("flight.mkv"), 3, render);
  ASSERT_EQ(submitted.exitCode, 0) << submitted.err;
  EXPECT_NE(submitted.out.find("submitted the parts as job"), std::string::npos) << submitted.out;
  ASSERT_TRUE(WaitUntil([&] { return Says(Path("flight.mkv"), "join: done"); }))
      << Status(Path("flight.mkv")) << ReadFile(Path("flight.farm/join.log")) << ReadFile(Path("flight.farm/part-1.log"));
  const std::string whole = Whole(render, "whole.mkv");
  EXPECT_EQ(VideoFrames(Path("flight.mkv")), whole);
  const RunResult streams = RunProgram({"/usr/bin/ffprobe", "-v", "error", "-show_entries", "stream=codec_type",
                                        "-of", "csv=p=0", Path("flight.mkv")});
  EXPECT_NE(streams.out.find("audio"), std::string::npos) << "the music is muxed in: " << streams.out;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    EXPECT_EQ(entry.path().filename().string().rfind(".tessarvander-farm-", 0), std::string::npos)
        << "the join removed the marker";

  // Part 2 cannot be written (a folder stands at its name): the join never
  // runs, the status names the part, and part 2 alone again completes it.
  fs::create_directories(Path("broken.part-2.mkv"));
  ASSERT_EQ(Farmed(Path("broken.mkv"), 3, render).exitCode, 0);
  ASSERT_TRUE(WaitUntil([&] {
    const std::string status = Status(Path("broken.mkv"));
    return status.find("part 2: failed") != std::string::npos && status.find("part 3: done") != std::string::npos &&
           status.find("part 1: done") != std::string::npos;
  })) << Status(Path("broken.mkv"));
  const std::string status = Status(Path("broken.mkv"));
  EXPECT_NE(status.find("part 2: failed (see " + Path("broken.farm/part-2.log") + ")"), std::string::npos) << status;
  EXPECT_NE(status.find("join: will not run: a part failed"), std::string::npos) << status;
  EXPECT_EQ(Tool({"farm", "status", "--watch", Path("broken.mkv")}).exitCode, 1) << "--watch: failed";
  fs::remove(Path("broken.part-2.mkv"));
  ASSERT_EQ(Farmed(Path("broken.mkv"), 3, render, {"--only", "2"}).exitCode, 0);
  const RunResult watched = Tool({"farm", "status", "--watch", Path("broken.mkv")});
  EXPECT_EQ(watched.exitCode, 0) << "--watch: done\n" << watched.out << watched.err;
  EXPECT_NE(watched.out.find("join: done"), std::string::npos) << watched.out;
  EXPECT_EQ(VideoFrames(Path("broken.mkv")), whole);
}

TEST_F(FarmTest, PartsSpreadOverTheNodesSayHowFarTheyAreAndANodeLostMidRenderIsMadeUp) {
  const std::vector<std::string> render = {"--frames", "1600", "--size", "320x180", "--crf", "0"};
  const std::string output = Path("spread.mkv");
  ASSERT_EQ(Farmed(output, 4, render).exitCode, 0);
  // Progress: a part running says its frames, rate and node, and the whole
  // its share and the time left.
  std::string status;
  const std::regex running(R"(part \d: running, (\d+) of 400 frames \(\d+ %\), [0-9.]+ a second, on (node\d))");
  std::smatch found;
  ASSERT_TRUE(WaitUntil([&] {
    status = Status(output);
    return std::regex_search(status, found, running) && std::stol(found[1]) > 0;
  })) << status << ReadFile(Path("spread.farm/part-1.log"));
  EXPECT_NE(status.find(" left"), std::string::npos) << "an estimate of the time left:\n" << status;
  // A node is lost mid-render: its part starts again elsewhere.
  const std::string lost = found[2];
  const RunResult down = RunProgram({"/usr/bin/scontrol", "update", "NodeName=" + lost, "State=DOWN", "Reason=test"});
  ASSERT_EQ(down.exitCode, 0) << down.err;
  ASSERT_TRUE(WaitUntil([&] { return Says(output, "join: done"); })) << Status(output);
  status = Status(output);
  EXPECT_NE(status.find("(requeued from " + lost + ")"), std::string::npos) << status;
  std::set<std::string> nodes;
  const std::regex on(R"(part \d: done, 400 frames, on (node\d))");
  for (std::sregex_iterator match(status.begin(), status.end(), on), end; match != end; ++match)
    nodes.insert((*match)[1]);
  EXPECT_GE(nodes.size(), 3u) << status;
  RunProgram({"/usr/bin/scontrol", "update", "NodeName=" + lost, "State=RESUME"});
  EXPECT_EQ(VideoFrames(output), Whole(render, "spread-whole.mkv"));
}

TEST_F(FarmTest, CancelLeavesNothingQueued) {
  const std::string output = Path("cancelled.mkv");
  ASSERT_EQ(Farmed(output, 4, {"--frames", "20000", "--size", "320x180"}).exitCode, 0);
  ASSERT_TRUE(WaitUntil([&] { return Says(output, ": running"); })) << Status(output);
  const RunResult cancelled = Tool({"farm", "cancel", output});
  ASSERT_EQ(cancelled.exitCode, 0) << cancelled.err;
  EXPECT_NE(cancelled.out.find("cancelled the parts (job "), std::string::npos) << cancelled.out;
  EXPECT_TRUE(WaitUntil([] { return RunProgram({"/usr/bin/squeue", "-h"}).out.empty(); }))
      << RunProgram({"/usr/bin/squeue"}).out;
  EXPECT_EQ(Tool({"farm", "status", "--watch", output}).exitCode, 1) << Status(output);
}

TEST_F(FarmTest, ANodeThatDoesNotSeeTheFolderSaysSoAtOnce) {
  const std::string output = (folder / "hidden" / "unseen.mkv").string();
  ASSERT_EQ(Farmed(output, 2, {"--frames", "40", "--size", "160x90"}).exitCode, 0);
  const std::regex said("part 1: failed: node\\d does not see " + std::regex_replace(output, std::regex(R"([.])"), R"(\.)") +
                        "'s folder \\(it must be on a filesystem every node shares\\)");
  ASSERT_TRUE(WaitUntil([&] { return std::regex_search(Status(output), said); })) << Status(output);
  const RunResult watched = Tool({"farm", "status", "--watch", output});
  EXPECT_EQ(watched.exitCode, 1) << watched.out;
  EXPECT_NE(watched.out.find("join: will not run: a part failed"), std::string::npos) << watched.out;
  Tool({"farm", "cancel", output});
}

}  // namespace

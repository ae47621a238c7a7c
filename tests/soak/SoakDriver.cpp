// The soak: `tessarvander play` for a given time under the traffic of a
// show, from the project's own small clients, while its health is watched.
//
// Traffic: OSC sets, bundles and queries at a few hundred a second, and
// malformed packets; MIDI controllers, notes and a clock through a JACK
// dummy server of its own; recalls of the bank with crossfades; blackouts;
// stills; HTTP requests to the OSCQuery server; a take recorded all along.
// Two stalls on the way: from 40 % to 55 % of the run the player's standard
// error (a pipe) is not read, and from 60 % to 70 % the take's filesystem
// (an image of its own, loop-mounted, as root) is frozen.
// Every 10 s it samples the player's memory, threads and descriptors, and
// the longest gap between process calls (asked over OSC). At the end the
// player is interrupted as Ctrl-C does, the take is re-rendered at every
// still's frame and compared with the still, and one summary is printed.
// It fails (exit 1) when a bound is passed.
//
// Run it under a display: scripts/soak does, under xvfb-run.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <lo/lo.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>

#include "JackRig.h"
#include "RunProgram.h"
#include "WebClient.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Settings {
  double minutes = 2.0;
  double warmUpSeconds = -1.0;  // default: a sixth of the run
  double maxGrowthMb = 10.0;    // of the memory the player holds itself
  double maxGapMs = 250.0;
  std::string tool;
  std::string out;
  std::string size = "160x90";
  int port = 0;
};

struct Sample {
  double at = 0.0;
  double rssMb = 0.0, privateMb = 0.0;
  long threads = 0, descriptors = 0;
  double gapMs = -1.0;
};

// /proc/PID/status's "Key: value kB" lines, in MiB; Threads as a count.
Sample ReadProcess(int pid) {
  Sample sample;
  const std::string status = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/status");
  const auto field = [&](const std::string& key) {
    const size_t at = status.find(key + ":");
    return at == std::string::npos ? 0.0 : std::atof(status.c_str() + at + key.size() + 1);
  };
  sample.rssMb = field("VmRSS") / 1024.0;
  // What the player holds itself: shared memory (the JACK server's segment)
  // and mapped files (libraries) are not its growth.
  sample.privateMb = field("RssAnon") / 1024.0;
  sample.threads = static_cast<long>(field("Threads"));
  if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (readdir(fds)) ++sample.descriptors;
    closedir(fds);
    sample.descriptors -= 2;  // . and ..
  }
  return sample;
}

// Answers the player sends back to our OSC port, kept by address.
class Answers {
 public:
  Answers() {
    server = lo_server_thread_new(nullptr, nullptr);
    lo_server_thread_add_method(server, nullptr, "f", Heard, this);
    lo_server_thread_start(server);
  }
  ~Answers() { lo_server_thread_free(server); }
  lo_server Server() { return lo_server_thread_get_server(server); }
  // The answer to `address`, asked again every half second until it comes;
  // -1 when none comes within the patience.
  float Ask(lo_address player, const std::string& address) {
    last = -1.0f;
    const auto deadline = Clock::now() + testsupport::kPatience;
    for (auto asked = Clock::time_point(); last < 0.0f && Clock::now() < deadline;) {
      if (Clock::now() - asked > std::chrono::milliseconds(500)) {
        lo_send_from(player, Server(), LO_TT_IMMEDIATE, address.c_str(), "");
        asked = Clock::now();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return last;
  }

 private:
  static int Heard(const char* path, const char*, lo_arg** arguments, int, lo_message, void* self) {
    if (std::string(path).rfind("/tessarvander/status/", 0) == 0) static_cast<Answers*>(self)->last = arguments[0]->f;
    return 0;
  }
  lo_server_thread server = nullptr;
  std::atomic<float> last{-1.0f};
};

struct Counts {
  std::atomic<long> sets{0}, bundles{0}, queries{0}, malformed{0}, midi{0}, recalls{0}, blackouts{0}, stills{0},
      requests{0}, answered{0};
};

const char* kParameters[] = {"zoom", "hue", "glow", "brightness", "rotation", "thickness", "saturation", "mirror",
                             "complexity", "center_x", "center_y", "fractal_type", "color_mode", "speed"};

// OSC at a few hundred messages a second, with the show's actions among them.
void SendOsc(int port, double seconds, Counts& counts, std::atomic<bool>& stop) {
  lo_address player = lo_address_new("127.0.0.1", std::to_string(port).c_str());
  const int raw = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  const auto start = Clock::now();
  long tick = 0;
  for (; !stop && std::chrono::duration<double>(Clock::now() - start).count() < seconds; ++tick) {
    const std::string name = kParameters[random() % (sizeof kParameters / sizeof *kParameters)];
    const std::string address = "/tessarvander/param/" + name;
    const int kind = static_cast<int>(random() % 100);
    if (kind < 80) {
      lo_send(player, address.c_str(), "f", value(random));
      ++counts.sets;
    } else if (kind < 90) {
      lo_send(player, address.c_str(), "");
      ++counts.queries;
    } else if (kind < 97) {
      lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
      for (int i = 0; i < 3; ++i) {
        lo_message set = lo_message_new();
        lo_message_add_float(set, value(random));
        lo_bundle_add_message(bundle, ("/tessarvander/param/" + std::string(kParameters[i + kind % 5])).c_str(), set);
      }
      lo_send_bundle(player, bundle);
      lo_bundle_free_recursive(bundle);
      ++counts.bundles;
    } else {
      char junk[64];
      for (char& byte : junk) byte = static_cast<char>(random());
      sendto(raw, junk, 1 + random() % sizeof junk, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      ++counts.malformed;
    }
    // The show's actions: a recall every 5 s, a blackout every 30 s (2 s
    // long), a still every 15 s.
    if (tick % 1500 == 750) {
      lo_send(player, "/tessarvander/preset/recall", "i", static_cast<int>(1 + random() % 12));
      ++counts.recalls;
    }
    if (tick % 9000 == 4000) lo_send(player, "/tessarvander/blackout", "i", 1), ++counts.blackouts;
    if (tick % 9000 == 4600) lo_send(player, "/tessarvander/blackout", "i", 0);
    if (tick % 4500 == 2000) {
      lo_send(player, "/tessarvander/still", "s", ("soak" + std::to_string(counts.stills++) + ".png").c_str());
    }
    std::this_thread::sleep_for(std::chrono::microseconds(3333));  // about 300 a second
  }
  close(raw);
  lo_address_free(player);
}

// MIDI: a knob turned and pads pressed, on a clock at 120.
void SendMidi(testsupport::Feeder& feeder, double seconds, Counts& counts, std::atomic<bool>& stop) {
  feeder.Clock(120.0);
  std::mt19937 random(11);
  const auto start = Clock::now();
  for (long tick = 0; !stop && std::chrono::duration<double>(Clock::now() - start).count() < seconds; ++tick) {
    feeder.Send({0xB0, static_cast<uint8_t>(random() % 120), static_cast<uint8_t>(random() % 128)});
    if (tick % 10 == 0) feeder.Send({0x99, static_cast<uint8_t>(36 + random() % 8), 100});
    if (tick % 10 == 5) feeder.Send({0x89, static_cast<uint8_t>(36 + random() % 8), 0});
    ++counts.midi;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// HTTP: the tree now and then, a value every second.
void SendHttp(int port, double seconds, Counts& counts, std::atomic<bool>& stop) {
  const auto start = Clock::now();
  for (long tick = 0; !stop && std::chrono::duration<double>(Clock::now() - start).count() < seconds; ++tick) {
    const auto answer = testsupport::HttpGet(port, tick % 10 == 0 ? "/" : "/tessarvander/param/zoom?VALUE");
    ++counts.requests;
    if (answer.status == 200) ++counts.answered;
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

// A filesystem of the soak's own, for the take, that can be frozen: an
// ext4 image loop-mounted at `folder`, as root. Empty when it cannot be.
std::string MountDisk(const fs::path& out) {
  if (geteuid() != 0 || access("/sbin/fsfreeze", X_OK) != 0 || access("/sbin/mkfs.ext4", X_OK) != 0) return "";
  const std::string image = (out / "disk.img").string(), disk = (out / "disk").string();
  fs::create_directories(disk);
  if (truncate(image.c_str(), 0) != 0) std::fclose(std::fopen(image.c_str(), "w"));
  if (truncate(image.c_str(), 4L << 30) != 0) return "";
  if (testsupport::RunProgram({"/sbin/mkfs.ext4", "-q", "-F", image}).exitCode != 0) return "";
  if (testsupport::RunProgram({"/bin/mount", "-o", "loop", image, disk}).exitCode != 0) return "";
  return disk;
}

// The player, its standard output to a file and its standard error to a
// pipe whose reading end is `errors`.
int StartPlayer(const std::vector<std::string>& arguments, const fs::path& log, int& errors) {
  int pipes[2];
  if (pipe2(pipes, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, pipes[1], STDERR_FILENO);
  std::vector<std::string> copied = arguments;
  std::vector<char*> argv;
  for (std::string& argument : copied) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipes[1]);
  errors = pipes[0];
  return spawned == 0 ? pid : -1;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "soak: %s\n", why.c_str());
  return 1;
}

bool ReadSettings(int argc, char** argv, Settings& settings) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--minutes") settings.minutes = std::atof(value.c_str());
    else if (option == "--warm-up") settings.warmUpSeconds = std::atof(value.c_str());
    else if (option == "--max-growth") settings.maxGrowthMb = std::atof(value.c_str());
    else if (option == "--max-gap") settings.maxGapMs = std::atof(value.c_str());
    else if (option == "--tool") settings.tool = value;
    else if (option == "--out") settings.out = value;
    else if (option == "--size") settings.size = value;
    else return false;
  }
  return !settings.tool.empty() && !settings.out.empty() && settings.minutes > 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ReadSettings(argc, argv, settings)) {
    std::fprintf(stderr,
                 "usage: soak_driver --tool TESSARVANDER --out FOLDER [--minutes M] [--warm-up SECONDS] "
                 "[--max-growth MB] [--max-gap MS] [--size WxH]\n");
    return 2;
  }
  const double seconds = settings.minutes * 60.0;
  const double warmUp = settings.warmUpSeconds >= 0.0 ? settings.warmUpSeconds : seconds / 6.0;
  const fs::path out = fs::absolute(settings.out);
  fs::remove_all(out);
  fs::create_directories(out);
  const int port = 30000 + getpid() % 20000;

  testsupport::JackServer jack(out);
  testsupport::Feeder feeder(jack.name);
  if (!feeder.Ready()) return Fail("the JACK dummy server did not start (see " + (out / "jackd.log").string() + ")");
  const std::string disk = MountDisk(out);
  if (disk.empty()) std::printf("soak: the frozen-disk phase is skipped: it needs root, loop devices and fsfreeze\n");
  const std::string take = ((disk.empty() ? out : fs::path(disk)) / "soak.take").string();
  int errors = -1;
  const int player = StartPlayer(
      {settings.tool, "play", "--size", settings.size, "--out", out.string(), "--take", take, "--osc",
       std::to_string(port), "--oscquery", std::to_string(port + 1), "--midi", "feeder", "--tempo", "midi-clock",
       "--crossfade", "1", "--blackout-time", "0.5"},
      out / "play.log", errors);
  if (player <= 0) return Fail("cannot start " + settings.tool);
  // Its standard error, read into a file but while the terminal stalls.
  std::atomic<bool> terminalStalled{false}, finished{false};
  std::thread reader([&] {
    FILE* log = std::fopen((out / "play.err").c_str(), "w");
    char buffer[4096];
    while (!finished) {
      if (terminalStalled) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      pollfd waiting{errors, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      const ssize_t got = read(errors, buffer, sizeof buffer);
      if (got <= 0) break;
      std::fwrite(buffer, 1, static_cast<size_t>(got), log);
    }
    std::fclose(log);
  });
  struct Joined {  // on every way out
    std::atomic<bool>& finished;
    std::thread& reader;
    ~Joined() {
      finished = true;
      if (reader.joinable()) reader.join();
    }
  } joined{finished, reader};
  // Ready when it answers a question.
  Answers answers;
  lo_address address = lo_address_new("127.0.0.1", std::to_string(port).c_str());
  if (answers.Ask(address, "/tessarvander/status/frame") < 0.0f) {
    kill(player, SIGKILL);
    return Fail("the player never answered; it said:\n" + testsupport::ReadFile((out / "play.log").string()));
  }

  Counts counts;
  std::atomic<bool> stop{false};
  std::thread osc(SendOsc, port, seconds, std::ref(counts), std::ref(stop));
  std::thread midi(SendMidi, std::ref(feeder), seconds, std::ref(counts), std::ref(stop));
  std::thread http(SendHttp, port + 1, seconds, std::ref(counts), std::ref(stop));
  std::vector<Sample> samples;
  const auto start = Clock::now();
  bool alive = true;
  bool frozen = false;
  for (double at = 0.0; at < seconds; at = std::chrono::duration<double>(Clock::now() - start).count()) {
    std::this_thread::sleep_until(start + std::chrono::seconds(10 * (samples.size() + 1)));
    const double share = std::chrono::duration<double>(Clock::now() - start).count() / seconds;
    terminalStalled = share >= 0.40 && share < 0.55;
    const bool freeze = !disk.empty() && share >= 0.60 && share < 0.70;
    if (freeze != frozen) testsupport::RunProgram({"/sbin/fsfreeze", freeze ? "-f" : "-u", disk});
    frozen = freeze;
    if (waitpid(player, nullptr, WNOHANG) != 0) {
      alive = false;
      break;
    }
    Sample sample = ReadProcess(player);
    sample.at = std::chrono::duration<double>(Clock::now() - start).count();
    sample.gapMs = answers.Ask(address, "/tessarvander/status/longest-gap") * 1000.0;
    samples.push_back(sample);
    std::printf("soak %4.0f s: RSS %.1f MB (its own %.1f), %ld threads, %ld descriptors, longest gap %.0f ms%s%s\n",
                sample.at, sample.rssMb, sample.privateMb, sample.threads, sample.descriptors, sample.gapMs,
                terminalStalled ? "; standard error not read" : "", frozen ? "; the take's disk frozen" : "");
    std::fflush(stdout);
  }
  if (frozen) testsupport::RunProgram({"/sbin/fsfreeze", "-u", disk});
  terminalStalled = false;
  stop = true;
  osc.join();
  midi.join();
  http.join();
  lo_address_free(address);
  if (!alive) return Fail("the player ended during the soak; it said:\n" + testsupport::ReadFile((out / "play.log").string()));
  kill(player, SIGINT);  // Ctrl-C: the take is finished
  int status = 0;
  waitpid(player, &status, 0);
  finished = true;
  reader.join();
  close(errors);
  const std::string said = testsupport::ReadFile((out / "play.log").string());

  // Stills against their frames re-rendered from the take: at most 12,
  // spread evenly over the run and the last among them (each re-render
  // draws the take from its start, so checking every still of an hour would
  // take hours).
  constexpr size_t kStillsChecked = 12;
  const std::regex still(R"(saved still (\S+) \(frame (\d+) of the flight)");
  std::vector<std::pair<std::string, std::string>> saved;  // path, frame
  for (std::sregex_iterator match(said.begin(), said.end(), still), end; match != end; ++match)
    saved.emplace_back((*match)[1], (*match)[2]);
  long stills = 0, equal = 0;
  for (size_t k = 0; k < std::min(saved.size(), kStillsChecked); ++k) {
    const size_t chosen = saved.size() <= kStillsChecked ? k : (saved.size() - 1) * k / (kStillsChecked - 1);
    const auto& [path, frame] = saved[chosen];
    const std::string again = (out / ("again-" + std::to_string(chosen) + ".png")).string();
    const auto rendered = testsupport::RunProgram(
        {settings.tool, "render", "-q", "--take", take, "--frames", frame, "--size", settings.size, "-o", again});
    ++stills;
    if (rendered.exitCode == 0 && testsupport::ReadFile(path) == testsupport::ReadFile(again)) ++equal;
    else std::printf("soak: still %s (frame %s) differs from the take's frame: %s\n", path.c_str(), frame.c_str(),
                     rendered.err.c_str());
  }

  // The bounds, over the samples after the warm-up.
  const Sample* first = nullptr;
  double growth = 0.0, gap = 0.0;
  long threadsLow = 1 << 30, threadsHigh = 0, fdsLow = 1 << 30, fdsHigh = 0;
  for (const Sample& sample : samples) {
    gap = std::max(gap, sample.gapMs);
    if (sample.at < warmUp) continue;
    if (!first) first = &sample;
    growth = sample.privateMb - first->privateMb;
    threadsLow = std::min(threadsLow, sample.threads), threadsHigh = std::max(threadsHigh, sample.threads);
    fdsLow = std::min(fdsLow, sample.descriptors), fdsHigh = std::max(fdsHigh, sample.descriptors);
  }
  std::printf(
      "soak: %.0f s; %ld OSC sets, %ld bundles, %ld queries, %ld malformed packets, %ld MIDI messages and a clock, "
      "%ld recalls, %ld blackouts, %ld stills, %ld of %ld HTTP requests answered; after %.0f s: memory of its own "
      "%+.1f MB, threads %ld-%ld, descriptors %ld-%ld; longest gap between process calls %.0f ms; stills %ld of %ld "
      "equal to their re-rendered frames; the player exited %d\n",
      seconds, counts.sets.load(), counts.bundles.load(), counts.queries.load(), counts.malformed.load(),
      counts.midi.load(), counts.recalls.load(), counts.blackouts.load(), counts.stills.load(), counts.answered.load(),
      counts.requests.load(), warmUp, growth, threadsLow, threadsHigh, fdsLow, fdsHigh, gap, equal, stills,
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  bool passed = true;
  const auto check = [&](bool holds, const std::string& what) {
    if (!holds) std::printf("soak: FAILED: %s\n", what.c_str());
    passed = passed && holds;
  };
  check(first != nullptr, "no sample after the warm-up");
  check(growth < settings.maxGrowthMb, "the memory grew by " + std::to_string(growth) + " MB");
  check(threadsHigh - threadsLow <= 1, "the threads were not flat");
  check(fdsHigh - fdsLow <= 2, "the descriptors were not flat");
  check(gap >= 0.0 && gap <= settings.maxGapMs, "a gap between process calls of " + std::to_string(gap) + " ms");
  check(stills > 0 && equal == stills, "stills that differ from the take");
  check(counts.answered == counts.requests, "HTTP requests not answered");
  check(WIFEXITED(status) && WEXITSTATUS(status) == 130, "the player did not end as Ctrl-C ends it");
  if (!disk.empty()) testsupport::RunProgram({"/bin/umount", disk});
  return passed ? 0 : 1;
}

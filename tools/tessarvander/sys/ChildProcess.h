// The one way this program runs another (ffmpeg, ffprobe, gnuplot): no
// shell, the program found on $PATH, the arguments passed as they are, and a
// process group of its own, so that a Ctrl-C typed in the terminal reaches
// only this program, which then finishes its output or cleans up.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tool {

// The path of a program on $PATH, or empty.
std::string FindProgram(const std::string& name);

// The one text for a helper that is missing: "ffmpeg is not installed, and
// <need> needs it: apt-get install ffmpeg".
std::string NotInstalled(const std::string& program, const std::string& need);

// A path as ffmpeg and ffprobe are given it: "file:" and the absolute path,
// so that no protocol (http:, concat:, subfile:, pipe:) and no option ("-i")
// can hide in a name. Their inputs are also limited to local files and pipes
// ("-protocol_whitelist file,pipe").
std::string MediaPath(const std::string& path);

class ChildProcess {
 public:
  // What each of the child's standard streams is connected to.
  enum class Stream { Pipe, Inherit, Null };
  struct Streams {
    Stream input = Stream::Null;
    Stream output = Stream::Pipe;
    Stream errors = Stream::Pipe;
    std::string folder;  // the child's working folder; empty: this one's
  };

  ChildProcess() = default;
  // Stops a child that was not waited for.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `arguments` (arguments[0] looked up on $PATH). False with one
  // line when the program is missing or cannot start.
  bool Start(const std::vector<std::string>& arguments, const Streams& streams, std::string& error);
  // Our ends of the pipes asked for; -1 for the others, or once closed.
  int InputFd() const { return input; }
  int OutputFd() const { return output; }
  int ErrorFd() const { return errors; }
  // Our end of the child's input, for a stream that owns it from now on.
  int TakeInput();
  void CloseInput();
  void CloseOutput();
  void CloseErrors();
  // Waits for the child; its exit code, or 128 + the signal that ended it.
  int Wait();
  // Ends the child's whole group and waits for it: asked to end (SIGTERM),
  // then, if it has not within `grace` seconds, made to (SIGKILL).
  void Stop(double grace = 1.0);

 private:
  void ClosePipes();
  pid_t pid = -1;
  int input = -1;
  int output = -1;
  int errors = -1;
};

// The bounds every helper runs within: stopped past its deadline (0: none),
// on Ctrl-C or SIGTERM to this program, or when it says more than its cap
// (what it said up to the cap is kept).
struct ChildLimits {
  double seconds = 600.0;
  size_t maxOutput = 64u << 20;
};
// A scheduler's command (squeue, sbatch, scancel): a few seconds' work.
constexpr ChildLimits kSchedulerLimits{30.0, 1u << 20};

struct ChildResult {
  bool started = false;
  int exitCode = -1;
  std::string out;
  std::string err;
  bool timedOut = false;     // stopped at its deadline
  bool interrupted = false;  // stopped by Ctrl-C or SIGTERM to this program
  bool truncated = false;    // said more than the cap; `out` holds the start
  // Ended by itself, with its whole output: what it said can be believed.
  bool Finished() const { return started && !timedOut && !interrupted && !truncated; }
};

// Runs a program to completion with `input` on its standard input and both
// outputs captured, in `folder` when given, within `limits`.
ChildResult RunChild(const std::vector<std::string>& arguments, const std::string& input = "",
                     const std::string& folder = "", const ChildLimits& limits = ChildLimits());

// Runs a program to completion and hands its standard output to `consume`
// piece by piece as it comes, holding none of it; its messages are captured
// (the last 64 KiB). `consume` answers false to stop the child early. Only
// an interrupt bounds it: a long track takes as long as it takes.
ChildResult StreamChild(const std::vector<std::string>& arguments,
                        const std::function<bool(const char* data, size_t size)>& consume);

// The last non-empty line of a helper's messages, for an error message.
std::string LastLine(const std::string& text);

}  // namespace tool

#include "sys/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "sys/Interrupts.h"

extern char** environ;

namespace tool {
namespace {

constexpr size_t kMessageLimit = 64 * 1024;

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Keeps the tail of a child's messages: enough for the error line, never
// more than the limit, however much the child writes.
void AppendBounded(std::string& text, const char* data, size_t size) {
  text.append(data, size);
  if (text.size() > 2 * kMessageLimit) text.erase(0, text.size() - kMessageLimit);
}

}  // namespace

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  const std::string folders = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t colon = folders.find(':', start);
    const std::string folder = folders.substr(start, colon - start);
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return "";
}

std::string MediaPath(const std::string& path) {
  std::error_code ignored;
  return "file:" + std::filesystem::absolute(path, ignored).lexically_normal().string();
}

std::string NotInstalled(const std::string& program, const std::string& need) {
  // The Debian package that brings each helper.
  const std::string package = program == "ffprobe" ? "ffmpeg" : program == "gnuplot" ? "gnuplot-nox" : program;
  return program + " is not installed, and " + need + " needs it: apt-get install " + package;
}

bool ChildProcess::Start(const std::vector<std::string>& arguments, const Streams& streams, std::string& error) {
  const std::string program = FindProgram(arguments.at(0));
  if (program.empty()) {
    error = NotInstalled(arguments[0], "this");
    return false;
  }
  // Our end, their end, per stream; their ends close in the parent.
  int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
  const Stream kinds[3] = {streams.input, streams.output, streams.errors};
  for (int i = 0; i < 3; ++i)
    if (kinds[i] == Stream::Pipe && pipe2(pipes[i], O_CLOEXEC) != 0) {
      error = std::string("cannot start ") + arguments[0] + ": " + std::strerror(errno);
      for (auto& ends : pipes) CloseFd(ends[0]), CloseFd(ends[1]);
      return false;
    }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int i = 0; i < 3; ++i) {
    if (kinds[i] == Stream::Pipe)
      posix_spawn_file_actions_adddup2(&actions, i == 0 ? pipes[i][0] : pipes[i][1], i);
    else if (kinds[i] == Stream::Null)
      posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  if (!streams.folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, streams.folder.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own: the terminal's signals are for this program alone.
  posix_spawnattr_setpgroup(&attributes, 0);
  // Signals this program ignores (SIGPIPE) are the child's own business.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (size_t i = 1; i < arguments.size(); ++i) argv.push_back(const_cast<char*>(arguments[i].c_str()));
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  CloseFd(pipes[0][0]);
  CloseFd(pipes[1][1]);
  CloseFd(pipes[2][1]);
  input = pipes[0][1];
  output = pipes[1][0];
  errors = pipes[2][0];
  if (spawned != 0) {
    pid = -1;
    ClosePipes();
    error = "cannot start " + program + ": " + std::strerror(spawned);
    return false;
  }
  return true;
}

void ChildProcess::CloseOutput() { CloseFd(output); }
void ChildProcess::CloseErrors() { CloseFd(errors); }

int ChildProcess::TakeInput() {
  const int taken = input;
  input = -1;
  return taken;
}

void ChildProcess::CloseInput() { CloseFd(input); }

void ChildProcess::ClosePipes() {
  CloseFd(input);
  CloseFd(output);
  CloseFd(errors);
}

int ChildProcess::Wait() {
  CloseInput();
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  pid = -1;
  ClosePipes();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::Stop(double grace) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  // A child that ignores the request (a hung scheduler client) is killed.
  for (double waited = 0.0; waited < grace; waited += 0.01) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      ClosePipes();
      return;
    }
    usleep(10000);
  }
  kill(-pid, SIGKILL);
  Wait();
}

ChildProcess::~ChildProcess() {
  if (pid > 0) Stop();
  ClosePipes();
}

namespace {

// Feeds `input` and reads both outputs at once, so that no pipe fills up,
// until the child ends, its deadline passes or this program is interrupted.
ChildResult Converse(const std::vector<std::string>& arguments, const std::string& input, const std::string& folder,
                     const std::function<bool(const char*, size_t)>* consume, const ChildLimits& limits) {
  ChildResult result;
  ChildProcess child;
  std::string error;
  ChildProcess::Streams streams;
  streams.input = input.empty() ? ChildProcess::Stream::Null : ChildProcess::Stream::Pipe;
  streams.folder = folder;
  if (!child.Start(arguments, streams, error)) {
    result.err = error;
    return result;
  }
  result.started = true;
  if (child.InputFd() >= 0) fcntl(child.InputFd(), F_SETFL, O_NONBLOCK);
  const auto started = std::chrono::steady_clock::now();
  const auto stop = [&](bool& why) {
    why = true;
    child.Stop();
    result.exitCode = -1;
    return result;
  };
  size_t written = 0;
  char buffer[65536];
  while (child.OutputFd() >= 0 || child.ErrorFd() >= 0) {
    if (Interrupted()) return stop(result.interrupted);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (limits.seconds > 0.0 && elapsed >= limits.seconds) return stop(result.timedOut);
    // Awake at least every quarter second, to see an interrupt.
    const double left = limits.seconds > 0.0 ? limits.seconds - elapsed : 0.25;
    const int wait = static_cast<int>(std::clamp(left, 0.0, 0.25) * 1000.0) + 1;
    pollfd fds[3] = {{child.OutputFd(), POLLIN, 0}, {child.ErrorFd(), POLLIN, 0}, {child.InputFd(), POLLOUT, 0}};
    if (poll(fds, 3, wait) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      const int fd = i == 0 ? child.OutputFd() : child.ErrorFd();
      if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        if (i == 0) child.CloseOutput();
        else child.CloseErrors();
      } else if (i == 1) {
        AppendBounded(result.err, buffer, static_cast<size_t>(got));
      } else if (consume) {
        if (!(*consume)(buffer, static_cast<size_t>(got))) {
          child.Stop();
          result.exitCode = -1;
          return result;
        }
      } else if (result.out.size() + static_cast<size_t>(got) > limits.maxOutput) {
        // More than any answer it gives: nothing it says can be believed.
        result.out.append(buffer, limits.maxOutput - std::min(limits.maxOutput, result.out.size()));
        return stop(result.truncated);
      } else {
        result.out.append(buffer, static_cast<size_t>(got));
      }
    }
    if (child.InputFd() >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t put = write(child.InputFd(), input.data() + written, input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || written >= input.size()) child.CloseInput();
    }
  }
  result.exitCode = child.Wait();
  return result;
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& arguments, const std::string& input, const std::string& folder,
                     const ChildLimits& limits) {
  return Converse(arguments, input, folder, nullptr, limits);
}

ChildResult StreamChild(const std::vector<std::string>& arguments,
                        const std::function<bool(const char* data, size_t size)>& consume) {
  return Converse(arguments, "", "", &consume, ChildLimits{0.0, 0});
}

std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of(" \r\n");
  if (end == std::string::npos) return "";
  const size_t newline = text.rfind('\n', end);
  const size_t start = newline == std::string::npos ? 0 : newline + 1;
  return text.substr(start, end - start + 1);
}

}  // namespace tool

#include "FrameSinks.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace cli {
namespace {

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// Finds the one "%d" / "%0Nd" / "%Nd" field: its start, its length and its
// width. False when there is none or more than one (a literal "%%" is fine).
bool FindNumberField(const std::string& pattern, size_t& start, size_t& length, int& width, bool& zeroPad) {
  int fields = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool zero = j < pattern.size() && pattern[j] == '0';
    if (zero) ++j;
    int digits = 0;
    while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) && digits < 2) {
      digits = digits * 10 + (pattern[j] - '0');
      ++j;
    }
    if (j >= pattern.size() || pattern[j] != 'd') return false;
    start = i;
    length = j + 1 - i;
    width = digits;
    zeroPad = zero;
    ++fields;
    i = j;
  }
  return fields == 1;
}

// Replaces "%%" by "%" in a piece of the pattern without a number field.
std::string Unescaped(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    plain += text[i];
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
  }
  return plain;
}

}  // namespace

bool SequenceName(const std::string& pattern, long number, std::string& name) {
  size_t start = 0, length = 0;
  int width = 0;
  bool zeroPad = false;
  if (!FindNumberField(pattern, start, length, width, zeroPad)) return false;
  std::string digits = std::to_string(number);
  while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), zeroPad ? '0' : ' ');
  name = Unescaped(pattern.substr(0, start)) + digits + Unescaped(pattern.substr(start + length));
  return true;
}

bool OutputKindOf(const std::string& path, OutputKind& kind, std::string& error) {
  size_t start = 0, length = 0;
  int width = 0;
  bool zeroPad = false;
  if (path.find('%') != std::string::npos) {
    if (!FindNumberField(path, start, length, width, zeroPad)) {
      error = path + ": a sequence pattern needs exactly one frame number field such as %05d";
      return false;
    }
    if (!EndsWith(path, ".png")) {
      error = path + ": a numbered sequence is written as PNG files; end the pattern in .png";
      return false;
    }
    kind = OutputKind::Sequence;
    return true;
  }
  if (EndsWith(path, ".mp4") || EndsWith(path, ".mov") || EndsWith(path, ".mkv")) {
    kind = OutputKind::Video;
    return true;
  }
  if (EndsWith(path, ".png")) {
    kind = OutputKind::Still;
    return true;
  }
  error = path + ": name a .png (a still), a pattern like frames/f_%05d.png (a sequence) or a .mp4 (a video)";
  return false;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
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

// ---- PNG still ----------------------------------------------------------------

bool PngStillSink::Start(const std::string& path, int w, int h, const PngOptions& pngOptions, std::string& error) {
  width = w;
  height = h;
  options = pngOptions;
  return file.Open(path, error);
}

bool PngStillSink::Write(const uint8_t* rgba, long, std::string& error) {
  written = WritePng(file.TemporaryPath(), rgba, width, height, options, error);
  return written;
}

bool PngStillSink::Finish(std::string& error) {
  if (!written) {
    error = "no frame reached " + file.FinalPath();
    return false;
  }
  return file.Commit(error);
}

std::string PngStillSink::Describe() const {
  return file.FinalPath() + " (" + std::to_string(width) + "x" + std::to_string(height) + ")";
}

// ---- PNG sequence -------------------------------------------------------------

bool PngSequenceSink::Start(const std::string& namePattern, int w, int h, long first, const PngOptions& pngOptions,
                            std::string& error) {
  pattern = namePattern;
  width = w;
  height = h;
  firstNumber = first;
  options = pngOptions;
  std::string name;
  if (!SequenceName(pattern, first, name)) {
    error = pattern + ": the pattern needs exactly one frame number field such as %05d";
    return false;
  }
  // Fail now, not after the first frame, when the folder is not writable.
  OutputFile probe;
  return probe.Open(name, error);
}

bool PngSequenceSink::Write(const uint8_t* rgba, long frameIndex, std::string& error) {
  std::string name;
  SequenceName(pattern, firstNumber + frameIndex, name);
  OutputFile frame;
  if (!frame.Open(name, error) || !WritePng(frame.TemporaryPath(), rgba, width, height, options, error)) return false;
  files.push_back(std::move(frame));
  return true;
}

bool PngSequenceSink::Finish(std::string& error) {
  for (OutputFile& frame : files)
    if (!frame.Commit(error)) return false;
  return true;
}

std::string PngSequenceSink::Describe() const {
  return std::to_string(files.size()) + " frames " + pattern + " (" + std::to_string(width) + "x" +
         std::to_string(height) + ")";
}

// ---- Video through ffmpeg -----------------------------------------------------

std::string ContainerFormatOf(const std::string& path) {
  return EndsWith(path, ".mkv") ? "matroska" : EndsWith(path, ".mov") ? "mov" : "mp4";
}

std::vector<std::string> AudioMuxArguments(const AudioMux& audio, const std::string& outputPath) {
  if (audio.path.empty()) return {};
  const bool matroska = ContainerFormatOf(outputPath) == "matroska";
  bool copy = audio.codec == "aac" || audio.codec == "mp3" || audio.codec == "alac";
  if (matroska)
    copy = copy || audio.codec == "flac" || audio.codec == "opus" || audio.codec == "vorbis" ||
           audio.codec == "ac3" || audio.codec.rfind("pcm_", 0) == 0;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.6f", audio.seconds);
  std::vector<std::string> arguments = {"-t", seconds, "-i", audio.path, "-map", "0:v:0", "-map", "1:a:0", "-c:a"};
  if (copy) {
    arguments.push_back("copy");
  } else {
    arguments.insert(arguments.end(), {"aac", "-b:a", "192k"});
  }
  return arguments;
}

bool VideoSink::Start(const std::string& path, int w, int h, double framesPerSecond, const VideoSettings& settings,
                      std::string& error) {
  width = w;
  height = h;
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty()) {
    error = "ffmpeg is not installed, and video output needs it: apt-get install ffmpeg (or write PNG frames)";
    return false;
  }
  if (!file.Open(path, error)) return false;

  char rate[32];
  std::snprintf(rate, sizeof rate, "%.6g", framesPerSecond);
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string format = ContainerFormatOf(path);
  // yuv420p needs even sides; an odd size is padded by one black line.
  std::vector<std::string> arguments = {ffmpeg, "-hide_banner", "-loglevel", "error", "-nostats",
                                        "-f", "rawvideo", "-pix_fmt", "rgba", "-s", size, "-r", rate, "-i", "-"};
  const std::vector<std::string> audio = AudioMuxArguments(settings.audio, path);
  arguments.insert(arguments.end(), audio.begin(), audio.end());
  const std::vector<std::string> video = {
      "-vf",  "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264", "-preset", settings.preset, "-crf",
      std::to_string(settings.crf), "-pix_fmt", "yuv420p", "-movflags", "+faststart", "-f", format, "-y",
      file.TemporaryPath()};
  arguments.insert(arguments.end(), video.begin(), video.end());
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe(fds) != 0) {
    error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const int spawned = posix_spawn(&encoder, ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[0]);
  if (spawned != 0) {
    close(fds[1]);
    encoder = -1;
    error = "cannot start " + ffmpeg + ": " + std::strerror(spawned);
    return false;
  }
  pipe = fdopen(fds[1], "wb");
  pipeBuffer.resize(1 << 20);
  setvbuf(pipe, pipeBuffer.data(), _IOFBF, pipeBuffer.size());
  return true;
}

bool VideoSink::Write(const uint8_t* rgba, long, std::string& error) {
  const size_t stride = static_cast<size_t>(width) * 4;
  // GL's rows come bottom-up; video runs top-down.
  for (int row = height - 1; row >= 0; --row) {
    if (std::fwrite(rgba + stride * static_cast<size_t>(row), 1, stride, pipe) != stride) {
      error = "ffmpeg stopped taking frames (see its message above)";
      return false;
    }
  }
  ++framesWritten;
  return true;
}

bool VideoSink::Finish(std::string& error) {
  const bool flushed = std::fclose(pipe) == 0;
  pipe = nullptr;
  int status = 0;
  waitpid(encoder, &status, 0);
  encoder = -1;
  if (!flushed || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "ffmpeg failed to encode the video (see its message above)";
    return false;
  }
  return file.Commit(error);
}

void VideoSink::StopEncoder() {
  if (pipe) std::fclose(pipe);
  pipe = nullptr;
  if (encoder > 0) {
    kill(encoder, SIGTERM);
    int status = 0;
    waitpid(encoder, &status, 0);
  }
  encoder = -1;
}

VideoSink::~VideoSink() { StopEncoder(); }

std::string VideoSink::Describe() const {
  return file.FinalPath() + " (" + std::to_string(framesWritten) + " frames, " + std::to_string(width) + "x" +
         std::to_string(height) + ", H.264)";
}

}  // namespace cli

#include "output/VideoSink.h"

#include <cstring>

#include "output/OutputKind.h"

namespace tool {

bool VideoSink::Start(const std::string& path, int w, int h, double framesPerSecond, const VideoSettings& settings,
                      std::string& error) {
  width = w;
  height = h;
  if (FindProgram("ffmpeg").empty()) {
    error = NotInstalled("ffmpeg", "video output") + " (or write PNG frames)";
    return false;
  }
  if (!file.Open(path, error)) return false;

  char rate[32];
  std::snprintf(rate, sizeof rate, "%.6g", framesPerSecond);
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string format = ContainerFormatOf(path);
  // yuv420p needs even sides; an odd size is padded by one black line.
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostats",
                                        "-protocol_whitelist", "file,pipe", "-f", "rawvideo", "-pix_fmt", "rgba",
                                        "-s", size, "-r", rate, "-i", "pipe:0"};
  const std::vector<std::string> audio = AudioMuxArguments(settings.audio, path);
  arguments.insert(arguments.end(), audio.begin(), audio.end());
  const std::vector<std::string> video = {
      "-vf",  "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264", "-preset", settings.preset, "-crf",
      std::to_string(settings.crf), "-pix_fmt", "yuv420p", "-movflags", "+faststart", "-f", format, "-y",
      MediaPath(file.TemporaryPath())};
  arguments.insert(arguments.end(), video.begin(), video.end());
  ChildProcess::Streams streams;
  streams.input = ChildProcess::Stream::Pipe;
  streams.output = ChildProcess::Stream::Inherit;
  streams.errors = ChildProcess::Stream::Inherit;
  if (!encoder.Start(arguments, streams, error)) return false;
  pipe = fdopen(encoder.TakeInput(), "wb");
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
  if (!flushed || encoder.Wait() != 0) {
    error = "ffmpeg failed to encode the video (see its message above)";
    return false;
  }
  return file.Commit(error);
}

VideoSink::~VideoSink() {
  if (pipe) std::fclose(pipe);
  encoder.Stop();
}

std::string VideoSink::Describe() const {
  return file.FinalPath() + " (" + std::to_string(framesWritten) + " frames, " + std::to_string(width) + "x" +
         std::to_string(height) + ", H.264)";
}

}  // namespace tool

// tessarvander render: frames to a PNG still, a numbered PNG sequence or an
// MP4 video.
#include <GL/glew.h>

#include <cmath>
#include <cstdio>

#include "Commands.h"
#include "CommandSupport.h"
#include "FrameSinks.h"
#include "Progress.h"
#include "ReadbackPipeline.h"

namespace cli {
namespace {

const char* kRenderHelp =
    "usage: tessarvander render -o OUTPUT [OPTIONS]\n"
    "\n"
    "Renders the flight offscreen and writes it to OUTPUT:\n"
    "  NAME.png               one still (the last frame rendered)\n"
    "  frames/f_%05d.png      a numbered PNG sequence, one file per frame\n"
    "  NAME.mp4 (.mov, .mkv)  H.264 video in yuv420p, through the ffmpeg program\n"
    "Files are written under temporary names and appear only when complete; a\n"
    "failed or interrupted render (Ctrl-C too) leaves nothing behind.\n"
    "\n"
    "options:\n"
    "  -o, --output PATH      where to write (required)\n"
    "  --size WxH             frame size (default 1280x720)\n"
    "  --duration SECONDS     length of a video or sequence (default 5)\n"
    "  --frames N             length in frames, instead of --duration\n"
    "  --fps N                frames per second (default 60: the plugin's clock\n"
    "                         advances one step per frame and is made for 60)\n"
    "  --start SECONDS        run the flight this far before the first frame\n"
    "                         written (default 0; 2 for a still)\n"
    "  --set NAME=VALUE       set a parameter, by name (any case) or index;\n"
    "                         repeatable. See 'tessarvander info' for the names.\n"
    "  --ramp NAME=FROM:TO    move a parameter linearly over the render; repeatable\n"
    "  --crf N                video quality, 0 (lossless) to 51 (default 16)\n"
    "  --preset NAME          x264 speed preset (default veryfast)\n"
    "  --png-level N          PNG compression level 0 to 9 (default 1)\n"
    "  --pipeline pbo|sync    read-back through pixel-buffer objects and a writer\n"
    "                         thread (default), or blocking, for comparison\n"
    "  --gl egl|glx           GL through EGL without a display (default) or GLX\n"
    "                         on $DISPLAY\n"
    "  --plugin PATH          the plugin to load (default: the one built here)\n"
    "  -q, --quiet            no progress line and no summary\n"
    "\n"
    "examples:\n"
    "  tessarvander render -o still.png --set \"Fractal Type\"=0.6 --set brightness=0.9\n"
    "  tessarvander render -o flight.mp4 --size 1920x1080 --duration 10\n"
    "  tessarvander render -o frames/f_%04d.png --frames 120 --ramp mirror=0:1\n";

struct RenderSettings {
  std::string output;
  OutputKind kind = OutputKind::Still;
  int width = 1280;
  int height = 720;
  double framesPerSecond = 60.0;
  long frames = 0;
  long startFrames = 0;
  int pipelineDepth = 3;
  PngOptions png;
  VideoSettings video;
};

std::vector<OptionSpec> RenderOptionSpecs() {
  std::vector<OptionSpec> specs = SessionOptionSpecs();
  const std::vector<OptionSpec> own = {
      {"output", "o", true},   {"size", nullptr, true},     {"duration", nullptr, true},  {"frames", nullptr, true},
      {"fps", nullptr, true},  {"start", nullptr, true},    {"ramp", nullptr, true},      {"crf", nullptr, true},
      {"preset", nullptr, true}, {"png-level", nullptr, true}, {"pipeline", nullptr, true}, {"help", "h", false}};
  specs.insert(specs.end(), own.begin(), own.end());
  return specs;
}

bool ReadRenderSettings(const ParsedOptions& parsed, RenderSettings& settings, std::string& error) {
  if (!parsed.positionals.empty()) {
    error = "unexpected argument \"" + parsed.positionals[0] + "\" (name the output with -o)";
    return false;
  }
  settings.output = parsed.Value("output");
  if (settings.output.empty()) {
    error = "render needs an output: -o NAME.png, -o frames/f_%05d.png or -o NAME.mp4";
    return false;
  }
  if (!OutputKindOf(settings.output, settings.kind, error)) return false;
  if (parsed.Has("size") && !ParseSize(parsed.Value("size"), "--size", settings.width, settings.height, error))
    return false;

  long number = 0;
  if (parsed.Has("fps")) {
    if (!ParseDouble(parsed.Value("fps"), "--fps", settings.framesPerSecond, error)) return false;
    if (settings.framesPerSecond <= 0.0 || settings.framesPerSecond > 1000.0) {
      error = "--fps: " + parsed.Value("fps") + " is outside 0 to 1000";
      return false;
    }
  }
  const bool still = settings.kind == OutputKind::Still;
  double seconds = 5.0;
  if (parsed.Has("frames") && parsed.Has("duration")) {
    error = "give --frames or --duration, not both";
    return false;
  }
  if (parsed.Has("frames")) {
    if (!ParseInt(parsed.Value("frames"), "--frames", 1, 100000000, number, error)) return false;
    settings.frames = number;
  } else {
    if (parsed.Has("duration") && !ParseDouble(parsed.Value("duration"), "--duration", seconds, error)) return false;
    if (seconds <= 0.0) {
      error = "--duration: " + parsed.Value("duration") + " must be above 0";
      return false;
    }
    settings.frames = std::max(1L, std::lround(seconds * settings.framesPerSecond));
  }
  if (still) settings.frames = 1;

  double start = still ? 2.0 : 0.0;
  if (parsed.Has("start") && !ParseDouble(parsed.Value("start"), "--start", start, error)) return false;
  if (start < 0.0) {
    error = "--start: the flight cannot run backwards from its beginning; use --set direction=0 instead";
    return false;
  }
  settings.startFrames = std::lround(start * settings.framesPerSecond);

  if (parsed.Has("crf")) {
    if (!ParseInt(parsed.Value("crf"), "--crf", 0, 51, number, error)) return false;
    settings.video.crf = static_cast<int>(number);
  }
  settings.video.preset = parsed.Value("preset", settings.video.preset);
  if (parsed.Has("png-level")) {
    if (!ParseInt(parsed.Value("png-level"), "--png-level", 0, 9, number, error)) return false;
    settings.png.compressionLevel = static_cast<int>(number);
  }
  const std::string pipeline = parsed.Value("pipeline", "pbo");
  if (pipeline != "pbo" && pipeline != "sync") {
    error = "--pipeline: \"" + pipeline + "\" is not pbo or sync";
    return false;
  }
  settings.pipelineDepth = pipeline == "pbo" ? 3 : 0;
  return true;
}

std::unique_ptr<FrameSink> StartSink(const RenderSettings& settings, std::string& error) {
  switch (settings.kind) {
    case OutputKind::Still: {
      auto sink = std::make_unique<PngStillSink>();
      if (!sink->Start(settings.output, settings.width, settings.height, settings.png, error)) return nullptr;
      return sink;
    }
    case OutputKind::Sequence: {
      auto sink = std::make_unique<PngSequenceSink>();
      if (!sink->Start(settings.output, settings.width, settings.height, 0, settings.png, error)) return nullptr;
      return sink;
    }
    case OutputKind::Video: {
      auto sink = std::make_unique<VideoSink>();
      if (!sink->Start(settings.output, settings.width, settings.height, settings.framesPerSecond, settings.video,
                       error))
        return nullptr;
      return sink;
    }
  }
  return nullptr;
}

}  // namespace

int RunRender(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  std::string error;
  if (!ParseOptions(arguments, RenderOptionSpecs(), parsed, error)) return Fail(kExitUsage, error);
  if (parsed.Has("help")) {
    std::fputs(kRenderHelp, stdout);
    return kExitSuccess;
  }
  RenderSettings settings;
  SessionOptions sessionOptions;
  if (!ReadRenderSettings(parsed, settings, error) || !ReadSessionOptions(parsed, sessionOptions, error))
    return Fail(kExitUsage, error);

  // The output is checked first (folder, ffmpeg), before any slow set-up.
  std::unique_ptr<FrameSink> sink = StartSink(settings, error);
  if (!sink) return Fail(kExitFailure, error);

  CommandContext context;
  if (!OpenSession(sessionOptions, context, error)) return Fail(kExitFailure, error);
  if (!ReadControls(parsed, true, context, error)) return Fail(kExitUsage, error);

  hostkit::FrameTarget target, scratch;
  if (!target.Create(settings.width, settings.height, hostkit::PixelFormat::Rgba8, error) ||
      !scratch.Create(1, 1, hostkit::PixelFormat::Rgba8, error))
    return Fail(kExitFailure, error);
  auto instance = context.session->CreateInstance(settings.width, settings.height, error);
  if (!instance) return Fail(kExitFailure, error);

  FrameDriver driver(*instance, *context.controls, settings.framesPerSecond);
  const bool quiet = parsed.Has("quiet");
  if (!AdvanceFrames(driver, scratch, 0, settings.startFrames))
    return Interrupted() ? Fail(kExitInterrupted, "interrupted; nothing written")
                         : Fail(kExitFailure, "the plugin failed a frame");

  Progress progress("rendering", settings.frames, !quiet);
  {
    ReadbackPipeline pipeline(*sink, settings.width, settings.height, settings.pipelineDepth);
    for (long frame = 0; frame < settings.frames; ++frame) {
      if (Interrupted()) return Fail(kExitInterrupted, "interrupted; nothing written");
      target.Bind();
      const double rampProgress = settings.frames > 1 ? static_cast<double>(frame) / (settings.frames - 1) : 1.0;
      if (!driver.Process(settings.startFrames + frame, rampProgress))
        return Fail(kExitFailure, "the plugin failed frame " + std::to_string(frame));
      glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
      if (!pipeline.Submit(frame)) return Fail(kExitFailure, pipeline.Error());
      progress.Update(frame + 1);
    }
    if (!pipeline.Finish()) return Fail(kExitFailure, pipeline.Error());
  }
  progress.Finish();
  if (Interrupted()) return Fail(kExitInterrupted, "interrupted; nothing written");
  if (!sink->Finish(error)) return Fail(kExitFailure, error);
  if (!quiet)
    std::printf("wrote %s in %.1f s (%.1f frames per second)\n", sink->Describe().c_str(), progress.ElapsedSeconds(),
                settings.frames / std::max(1e-9, progress.ElapsedSeconds()));
  return kExitSuccess;
}

}  // namespace cli

// tessarvander render: frames to a PNG still, a numbered PNG sequence or a
// video, from parameters, a preset or a recorded take.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "formats/SoundJournal.h"
#include "output/OutputKind.h"
#include "output/OpenSink.h"
#include "app/Progress.h"
#include "farm/PartProgress.h"
#include "render/RenderJob.h"
#include "app/RenderCues.h"
#include "app/RenderMusic.h"
#include "render/RenderPlan.h"
#include "sys/Digest.h"
#include "sys/BoundedFile.h"
#include "sys/Messages.h"
#include "render/RenderTimeline.h"
#include "farm/Segments.h"
#include "formats/Takes.h"

namespace tool {
namespace {

// The sound recorded beside a take, or empty: "set.take.wav" (or, beside a
// take cut short, "set.take.wav.recording"); beside a take put in place
// whose sound was not, its ".recording".
std::string FoundTakeSound(const std::string& takePath) {
  for (const std::string& candidate : {TakeSoundPath(takePath), TakeSoundPath(takePath) + ".recording"})
    if (PathExists(candidate)) return candidate;
  return "";
}

const char* kRenderDescription =
    "Renders the flight offscreen to a still, a PNG sequence or a video.\n\n"
    "Writes OUTPUT:\n"
    "  NAME.png               one still (the last frame rendered)\n"
    "  frames/f_%05d.png      a numbered PNG sequence, one file per frame\n"
    "  NAME.mp4 (.mov, .mkv)  H.264 video in yuv420p, through the ffmpeg program\n"
    "Files are written under temporary names and appear only when complete; a\n"
    "failed or interrupted render (Ctrl-C too) leaves nothing behind.\n";

const char* kRenderExamples =
    "examples:\n"
    "  tessarvander render -o still.png --set \"Fractal Type\"=0.6 --set brightness=0.9\n"
    "  tessarvander render -o flight.mp4 --size 1920x1080 --duration 10\n"
    "  tessarvander render -o frames/f_%04d.png --frames 120 --ramp mirror=0:1\n"
    "  tessarvander render -o take.mp4 --take session.take --size 3840x2160\n"
    "  tessarvander render -o clip.mp4 --audio track.wav --react \"zoom=0.45:0.55:beat-phase\" --react \"glow=0.2:0.8:beat,release=0.5b\"\n"
    "  tessarvander render -o look.mp4 --audio track.wav --react zoom=0.4:0.6:bass --preview\n"
    "  tessarvander render -o part2.mp4 --segment 2/4 --duration 60   (then: tessarvander join)\n";

// The x264 speed presets, which --preset named before it meant a preset file.
bool IsX264Preset(const std::string& name) {
  for (const char* preset : {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower",
                             "veryslow", "placebo"})
    if (name == preset) return true;
  return false;
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

// The options of rendering to music.
void DeclareMusicOptions(CLI::App& command, SessionFlags& flags, MusicSettings& music) {
  command.add_option("--audio", music.audioPath,
                     "a music track (anything ffmpeg decodes): the render's length by default, muxed into the "
                     "video, its tempo told to the plugin, and what --react follows")
      ->type_name("FILE");
  flags.DeclareControl(command, "react", "--react",
                       "move a parameter by the music; FEATURE is one of " + AudioFeatureList() +
                           "; settings after commas: attack, release, lead (seconds, or beats: 0.5b), curve, gain "
                           "(negative ducks) and threshold; repeatable")
      ->type_name("NAME=FROM:TO:FEATURE[,SETTING=VALUE]");
  command.add_option("--lead", music.timing.lead, "react to the music this many seconds ahead (every reaction's default)")
      ->check(Within(-10, 10))
      ->type_name("SECONDS")
      ->capture_default_str();
  command.add_option("--attack", music.timing.attack, "how long a reaction takes to rise (default of every reaction)")
      ->check(Within(0, 10))
      ->type_name("SECONDS")
      ->capture_default_str();
  command.add_option("--release", music.timing.release,
                     "how long a reaction takes to fall, and an event's pulse to fade out (default of every reaction)")
      ->check(Within(0.001, 10))
      ->type_name("SECONDS")
      ->capture_default_str();
  command.add_option("--bpm", music.beats.beatsPerMinute, "the tempo, instead of the tracker's; the phase from the music")
      ->check(Within(kSlowestTempo / 2, kFastestTempo * 2))
      ->type_name("BPM");
  command.add_option("--first-beat", music.beats.firstBeat,
                     "a bar starts on the beat at this time, and no beat falls before it (with --bpm: the grid "
                     "starts exactly here)")
      ->check(Within(0, 1e7))
      ->type_name("SECONDS");
  command.add_option("--beats", music.beatsPath,
                     "the beats from a file instead of the tracker: one time in seconds per line (a label track, "
                     "a CSV)")
      ->type_name("FILE");
  command.add_option("--beats-per-bar", music.beats.beatsPerBar, "beats in a bar")
      ->check(Within(1, 16))
      ->type_name("N")
      ->capture_default_str();
  command.add_option("--beat-scale", music.beatScale,
                     "half: every other tracked beat; double: beats and the points between them")
      ->check(OneOf({"tracked", "half", "double"}))
      ->type_name("tracked|half|double")
      ->capture_default_str();
  command.add_option("--react-report", music.reportPath,
                     "plot the beats, the features and the parameter curves to this PNG (and a CSV beside it); "
                     "without -o, only the report is made")
      ->type_name("FILE.png");
  command.add_option("--report-window", music.reportWindow, "the stretch of time the report's plot shows")
      ->type_name("START:END");
}

class RenderCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("render", kRenderDescription);
    command->footer(kRenderExamples);
    command->add_option("-o,--output", output, "where to write (required)")->type_name("PATH");
    AddSizeOption(*command, "--size", size, "frame size (default 1280x720)");
    durationOption = command->add_option("--duration", seconds, "length of a video or sequence (default 5)")
                         ->check(Within(1e-6, 1e7))
                         ->type_name("SECONDS");
    framesOption = command->add_option("--frames", frames,
                                       "length in frames, instead of --duration; for a still, the frame shown (from 1)")
                       ->check(Within(1, kMaxFrames))
                       ->type_name("N");
    fpsOption = command
                    ->add_option("--fps", framesPerSecond,
                                 "frames per second, up to 1000 (default 60: the plugin's clock advances one "
                                 "step per frame and is made for 60)")
                    ->check(Within(kMinFramesPerSecond, kMaxFramesPerSecond))
                    ->type_name("N");
    startOption = command
                      ->add_option("--start", startSeconds,
                                   "run the flight this far before the first frame written (default 0; 2 for a "
                                   "still without --frames)")
                      ->check(Within(0, 1e7))
                      ->type_name("SECONDS");
    flags.Declare(*command);
    flags.DeclareControl(*command, "ramp", "--ramp", "move a parameter linearly over the render; repeatable")
        ->type_name("NAME=FROM:TO");
    command->add_option("--take", takePath, "replay a take recorded by 'tessarvander play', frame for frame")
        ->type_name("FILE");
    DeclareMusicOptions(*command, flags, music.settings);
    DeclareCueOptions(*command, cues.settings);
    // For the farm's parts: how far this render has come, in a file.
    command->add_option("--progress-file", progressPath)->group("");
    command->add_option("--segment", segmentText,
                        "render only the K-th of N equal parts, exactly as the whole render draws them, with a "
                        "manifest for 'tessarvander join'; auto: the part a Slurm job array or a Kubernetes Indexed "
                        "Job gives this task")
        ->type_name("K/N|auto");
    command->add_flag("--preview", preview,
                      "a quick look before a long render: the same flight and music in a small video (at most "
                      "320x180) encoded at x264's fastest");
    command->add_option("--crf", video.crf, "video quality, 0 (lossless) to 51")
        ->check(Within(0, 51))
        ->type_name("N")
        ->capture_default_str();
    command->add_option("--x264-preset", video.preset, "x264 speed preset: ultrafast ... placebo")
        ->check(OneOf({"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower",
                               "veryslow", "placebo"}))
        ->type_name("NAME")
        ->capture_default_str();
    command->add_option("--png-level", png.compressionLevel, "PNG compression level, 0 to 9")
        ->check(Within(0, 9))
        ->type_name("N")
        ->capture_default_str();
    command->add_option("--pipeline", pipeline,
                        "pbo: read-back through pixel-buffer objects and a writer thread; sync: blocking, for comparison")
        ->check(OneOf({"pbo", "sync"}))
        ->type_name("pbo|sync")
        ->capture_default_str();
    return command;
  }

  int Run() override {
    std::string error;
    if (!CheckSettings(error)) return Fail(kExitUsage, error);
    if (preview && kind != OutputKind::Video) return Fail(kExitUsage, "--preview makes a video: -o NAME.mp4");
    if (preview) ShrinkForPreview();
    if (segmentText == "auto") {
      if (!SegmentFromScheduler([](const char* name) -> const char* { return std::getenv(name); }, segment, error))
        return Fail(kExitUsage, error);
      segmentText = std::to_string(segment.index) + "/" + std::to_string(segment.count);
    } else if (!segmentText.empty() && !ParseSegment(segmentText, segment, error)) {
      return Fail(kExitUsage, error);
    }
    if (!segmentText.empty() && kind == OutputKind::Still)
      return Fail(kExitUsage, "--segment splits videos and sequences; a still is one frame");

    CommandContext context;
    if (!flags.CheckDevice(error)) return Fail(kExitUsage, error);
    if (!OpenSession(flags.Options(), context, error)) return Fail(kExitFailure, error);
    if (!ReadControls(flags, true, context, error)) return Fail(kExitUsage, error);
    Take take;
    if (!takePath.empty() && !LoadTake(takePath, context.Names(), take, error)) return Fail(kExitUsage, error);
    if (!takePath.empty()) {
      if (take.cutShort && !flags.quiet)
        std::printf("take %s ended before its session closed it: it holds frames %ld to %ld\n",
                    Printable(takePath).c_str(), take.first, take.frames);
      // The take's frame rate, unless the command line gives one.
      if (!*fpsOption) framesPerSecond = take.framesPerSecond;
      plan = PlanTake(Request(), take);
    }
    bool usage = false;
    if (!music.Prepare(flags.controls, context.Names(), error, usage)) return Fail(usage ? kExitUsage : kExitFailure, error);
    if (music.Active() && takePath.empty()) plan = PlanMusic(Request(), plan, music.TrackSeconds());
    const long outputFrames = plan.output, preRollFrames = plan.preRoll;

    if (music.Active() && !flags.quiet) std::printf("%s\n", music.Describe().c_str());
    if (cues.Active()) {
      if (!takePath.empty()) return Fail(kExitUsage, "--cues and --direct play a song; --take replays a show");
      if (!cues.Prepare(music, context, framesPerSecond, outputFrames, output, flags.quiet, take, error, usage))
        return Fail(usage ? kExitUsage : kExitFailure, error);
    }
    const bool played = !takePath.empty() || cues.Active();
    RenderTimeline timeline(*context.controls, preRollFrames, outputFrames, played ? &take : nullptr);
    music.Attach(timeline, framesPerSecond, outputFrames);
    if (!music.ReportPath().empty()) {
      if (!music.WriteReport(context.Names(), cues.FiredAt(), error)) return Fail(kExitFailure, error);
      if (!flags.quiet) std::printf("wrote %s\n", Printable(music.ReportPath(), 500).c_str());
      if (output.empty()) return kExitSuccess;
    }

    long first = 0, end = outputFrames;
    if (!segmentText.empty() && segment.count > outputFrames)
      return Fail(kExitUsage, "--segment " + segmentText + ": " + std::to_string(segment.count) + " parts of " +
                                  std::to_string(outputFrames) + " frames would leave parts without a frame");
    if (!segmentText.empty()) SegmentRange(segment, outputFrames, first, end);
    // The output (its folder, ffmpeg) before the frame buffers.
    if (music.Active() && segmentText.empty())
      video.audio = music.Mux(static_cast<double>(outputFrames) / framesPerSecond);
    // A take recorded with live sound has it beside it; its first sample
    // goes with the take's first frame.
    const std::string takeSound = takePath.empty() ? "" : FoundTakeSound(takePath);
    if (!takeSound.empty() && segmentText.empty() && kind == OutputKind::Video && !music.Active()) {
      video.audio = {takeSound, "pcm_f32le", static_cast<double>(outputFrames) / framesPerSecond, true};
      if (!flags.quiet) std::printf("with the take's sound, %s\n", Printable(takeSound, 500).c_str());
    }
    SinkSettings sinkSettings;
    sinkSettings.width = size.width;
    sinkSettings.height = size.height;
    sinkSettings.firstNumber = first;
    sinkSettings.framesPerSecond = framesPerSecond;
    sinkSettings.png = png;
    sinkSettings.video = video;
    std::unique_ptr<FrameSink> sink = OpenSink(kind, output, sinkSettings, error);
    if (!sink) return Fail(kExitFailure, error);
    FingerprintingSink fingerprinted(*sink, size.width, size.height);

    RenderJob job;
    job.width = size.width;
    job.height = size.height;
    job.framesPerSecond = framesPerSecond;
    job.preRoll = preRollFrames;
    job.first = first;
    job.end = end;
    job.readbackDepth = pipeline == "pbo" ? 3 : 0;
    if (music.Active())
      job.beatAt = [&](long outputFrame, float& beatsPerMinute, float& barPhase) {
        music.BeatAt(outputFrame, framesPerSecond, beatsPerMinute, barPhase);
      };
    Progress progress("rendering", end - first, !flags.quiet);
    // A farmed part also tells `farm status` how far it has come.
    PartProgressFile partProgress;
    struct EndProgress {
      PartProgressFile& file;
      bool succeeded = false;
      ~EndProgress() { file.End(succeeded); }
    } endProgress{partProgress};
    if (!progressPath.empty() && !partProgress.Begin(progressPath, end - first, error))
      return Fail(kExitFailure, "--progress-file: " + error);
    job.progress = [&](long written) {
      progress.Update(written);
      partProgress.Update(written);
    };
    switch (RunRender(*context.session, timeline, job, fingerprinted, error)) {
      case RenderOutcome::Failed: return Fail(kExitFailure, error);
      case RenderOutcome::Interrupted: return Fail(kExitInterrupted, "interrupted; nothing written");
      case RenderOutcome::Done: break;
    }
    progress.Finish();
    if (Interrupted()) return Fail(kExitInterrupted, "interrupted; nothing written");
    // The part first, then its manifest with the part's seal: a manifest
    // never describes a part that is not there, and a stale one left by an
    // interruption no longer matches the part's digest.
    if (!sink->Finish(error)) return Fail(kExitFailure, error);
    if (!segmentText.empty()) {
      SegmentManifest manifest;
      manifest.segment = segment;
      manifest.first = first;
      manifest.end = end;
      manifest.frames = outputFrames;
      manifest.output = output.substr(output.rfind('/') + 1);
      manifest.renderer = context.session->Renderer();
      manifest.firstFrame = fingerprinted.First();
      manifest.lastFrame = fingerprinted.Last();
      manifest.settings = Settings(context);
      if (kind == OutputKind::Video) {
        manifest.width = size.width + size.width % 2;  // odd sides are padded
        manifest.height = size.height + size.height % 2;
        manifest.codec = "h264";
        if (!FileDigest(output, manifest.sha256, manifest.bytes, error)) return Fail(kExitFailure, error);
      }
      if (music.Active()) manifest.audio = music.TrackPath();
      if (!manifest.Write(SegmentManifest::PathFor(output), error)) return Fail(kExitFailure, error);
    }
    if (Interrupted()) return Fail(kExitInterrupted, "interrupted after the output was complete");
    endProgress.succeeded = true;
    if (!flags.quiet)
      std::printf("wrote %s in %.1f s (%.1f frames per second)\n", Printable(sink->Describe(), 500).c_str(),
                  progress.ElapsedSeconds(), (end - first) / std::max(1e-9, progress.ElapsedSeconds()));
    return kExitSuccess;
  }

 private:
  bool CheckSettings(std::string& error) {
    if (output.empty() && music.ReportPath().empty()) {
      error = "render needs an output: -o NAME.png, -o frames/f_%05d.png or -o NAME.mp4";
      return false;
    }
    if (!output.empty() && !OutputKindOf(output, kind, error)) return false;
    if (output.empty()) kind = OutputKind::Video;
    if (*framesOption && *durationOption) {
      error = "give --frames or --duration, not both";
      return false;
    }
    if (!flags.preset.empty() && IsX264Preset(flags.preset) && !FileExists(flags.preset)) {
      error = "--preset names a preset file; x264's speed preset is --x264-preset " + flags.preset;
      return false;
    }
    if (!takePath.empty() && *startOption) {
      error = "a take starts where its session started: --start does not go with --take";
      return false;
    }
    plan = PlanFrames(Request());
    return true;
  }

  // A preview keeps the flight and its timing, and only costs less a frame:
  // fewer pixels (the picture's proportions kept) and the fastest encoding.
  void ShrinkForPreview() {
    constexpr double kWidest = 320.0, kTallest = 180.0;
    const double scale = std::min({1.0, kWidest / size.width, kTallest / size.height});
    size.width = std::max(2, static_cast<int>(std::lround(size.width * scale / 2.0)) * 2);
    size.height = std::max(2, static_cast<int>(std::lround(size.height * scale / 2.0)) * 2);
    video.preset = "ultrafast";
  }

  FrameRequest Request() const {
    FrameRequest request;
    request.still = kind == OutputKind::Still;
    request.framesGiven = framesOption->count() > 0;
    request.frames = frames;
    request.durationGiven = durationOption->count() > 0;
    request.seconds = seconds;
    request.startGiven = startOption->count() > 0;
    request.startSeconds = startSeconds;
    request.framesPerSecond = framesPerSecond;
    return request;
  }

  // What decides this render's frames and video, for a segment's manifest:
  // parts of renders that differ in any of it cannot be joined.
  nlohmann::ordered_json Settings(const CommandContext& context) const {
    const PluginDescription& plugin = context.session->Description();
    nlohmann::ordered_json settings;
    settings["plugin"] = plugin.uniqueId + " " + plugin.name + " " + std::to_string(plugin.pluginMajorVersion) +
                         "." + std::to_string(plugin.pluginMinorVersion);
    settings["size"] = std::to_string(size.width) + "x" + std::to_string(size.height);
    settings["fps"] = framesPerSecond;
    settings["frames"] = plan.output;
    settings["preRoll"] = plan.preRoll;
    settings["controls"] = flags.controls;
    settings["preset"] = flags.preset.empty() ? "" : FileSha256(flags.preset);
    settings["take"] = takePath.empty() ? "" : FileSha256(takePath);
    settings["cues"] = cues.settings.cuesPath.empty() ? "" : FileSha256(cues.settings.cuesPath);
    settings["direct"] = cues.settings.direct ? std::to_string(cues.settings.seed) : "";
    settings["bank"] = cues.settings.bankFolder;
    settings["music"] = music.Settings();
    settings["output"] = kind == OutputKind::Video ? output.substr(output.rfind('.')) : "png";
    settings["crf"] = video.crf;
    settings["x264Preset"] = video.preset;
    settings["gl"] = flags.gl;
    return settings;
  }

  SessionFlags flags;
  RenderMusic music;
  RenderCues cues;
  std::string segmentText;
  SegmentSpec segment;
  std::string progressPath;
  std::string output;
  OutputKind kind = OutputKind::Still;
  FrameSize size{1280, 720};
  double seconds = 5.0;
  long frames = 0;
  double framesPerSecond = 60.0;
  double startSeconds = 0.0;
  std::string takePath;
  std::string pipeline = "pbo";
  bool preview = false;
  PngOptions png;
  VideoSettings video;
  CLI::Option* durationOption = nullptr;
  CLI::Option* framesOption = nullptr;
  CLI::Option* fpsOption = nullptr;
  CLI::Option* startOption = nullptr;
  FramePlan plan;
};

}  // namespace

std::unique_ptr<Command> MakeRenderCommand() { return std::make_unique<RenderCommand>(); }

}  // namespace tool

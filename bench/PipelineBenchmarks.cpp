// The command-line host's throughput at 1280x720, against its parts, in one
// run: drawing alone, encoding alone (the same kind of frames, already in
// memory), the tool's pipeline (pixel-buffer read-back, a writer thread), and
// the naive pipeline (blocking read, then encode, in one thread). Each
// iteration is one clip of kFrames frames; the per_frame counter is the time
// per frame.
#include <GL/glew.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "output/FrameSink.h"
#include "output/SequenceSink.h"
#include "output/VideoSink.h"
#include "output/PngWriter.h"
#include "render/ReadbackPipeline.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFrames = 60;
constexpr int kKernel = 1;  // the defaults: Julia set, six layers
constexpr int kLayers = 6;

enum Output { Mp4 = 0, PngSequence = 1 };

struct Clip {
  hostkit::FrameTarget target;
  std::unique_ptr<hostkit::PluginInstance> instance;
};

Clip& SharedClip() {
  // The host first: statics are destroyed in reverse, and the instance must go
  // before the plugin library and the context.
  bench::Host();
  static Clip clip;
  if (!clip.instance) {
    std::string error;
    clip.target.Create(kWidth, kHeight, hostkit::PixelFormat::Rgba8, error);
    clip.instance = bench::SettledInstance(kKernel, kLayers, clip.target);
  }
  return clip;
}

// Frames of the flight, read back once, for the encode-only runs.
const std::vector<std::vector<uint8_t>>& RecordedFrames() {
  static std::vector<std::vector<uint8_t>> frames = [] {
    Clip& clip = SharedClip();
    std::vector<std::vector<uint8_t>> recorded;
    for (int frame = 0; frame < kFrames; ++frame) {
      clip.target.Bind();
      clip.instance->ProcessFrame();
      recorded.push_back(clip.target.ReadRgba8());
    }
    return recorded;
  }();
  return frames;
}

std::string Scratch() {
  const fs::path folder = fs::temp_directory_path() / ("tessarvander-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  return folder.string();
}

std::unique_ptr<tool::FrameSink> MakeSink(Output output, benchmark::State& state) {
  std::string error;
  if (output == Mp4) {
    auto sink = std::make_unique<tool::VideoSink>();
    if (!sink->Start(Scratch() + "/clip.mp4", kWidth, kHeight, 60.0, tool::VideoSettings(), error))
      state.SkipWithError(error.c_str());
    return sink;
  }
  auto sink = std::make_unique<tool::PngSequenceSink>();
  if (!sink->Start(Scratch() + "/f_%03d.png", kWidth, kHeight, 0, tool::PngOptions(), error))
    state.SkipWithError(error.c_str());
  return sink;
}

void FinishClip(tool::FrameSink& sink, benchmark::State& state) {
  std::string error;
  if (!sink.Finish(error)) state.SkipWithError(error.c_str());
}

void PerFrame(benchmark::State& state) {
  state.counters["per_frame"] =
      benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// How many cores a clip kept busy: the CPU time of this process and of the
// children it waited for (ffmpeg), over the wall time. Two means no idle
// capacity was left for overlapping work into.
class CoreUse {
 public:
  CoreUse() : cpuStart(CpuSeconds()), wallStart(std::chrono::steady_clock::now()) {}
  void Report(benchmark::State& state) const {
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    state.counters["cores_busy"] = (CpuSeconds() - cpuStart) / wall;
  }

 private:
  static double CpuSeconds() {
    double seconds = 0.0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
      rusage usage{};
      getrusage(who, &usage);
      seconds += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + 1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    }
    return seconds;
  }
  double cpuStart;
  std::chrono::steady_clock::time_point wallStart;
};

void BM_DrawOnly(benchmark::State& state) {
  Clip& clip = SharedClip();
  const CoreUse cores;
  for (auto _ : state) {
    for (int frame = 0; frame < kFrames; ++frame) {
      clip.target.Bind();
      clip.instance->ProcessFrame();
      glFinish();
    }
  }
  cores.Report(state);
  PerFrame(state);
}
BENCHMARK(BM_DrawOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_EncodeOnly(benchmark::State& state) {
  const auto& frames = RecordedFrames();
  const CoreUse cores;
  for (auto _ : state) {
    auto sink = MakeSink(static_cast<Output>(state.range(0)), state);
    std::string error;
    for (int frame = 0; frame < kFrames; ++frame) sink->Write(frames[static_cast<size_t>(frame)].data(), frame, error);
    FinishClip(*sink, state);
    fs::remove_all(Scratch());
  }
  cores.Report(state);
  PerFrame(state);
}
BENCHMARK(BM_EncodeOnly)->ArgName("png")->Arg(Mp4)->Arg(PngSequence)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The tool's render loop (depth 3) or the naive one (depth 0).
void RunPipeline(benchmark::State& state, int depth) {
  Clip& clip = SharedClip();
  const CoreUse cores;
  for (auto _ : state) {
    auto sink = MakeSink(static_cast<Output>(state.range(0)), state);
    {
      tool::ReadbackPipeline pipeline(*sink, kWidth, kHeight, depth);
      for (int frame = 0; frame < kFrames; ++frame) {
        clip.target.Bind();
        clip.instance->ProcessFrame();
        if (!pipeline.Submit(clip.target, frame)) state.SkipWithError(pipeline.Error().c_str());
      }
      if (!pipeline.Finish()) state.SkipWithError(pipeline.Error().c_str());
    }
    FinishClip(*sink, state);
    fs::remove_all(Scratch());
  }
  cores.Report(state);
  PerFrame(state);
}

void BM_Pipeline(benchmark::State& state) { RunPipeline(state, 3); }
BENCHMARK(BM_Pipeline)->ArgName("png")->Arg(Mp4)->Arg(PngSequence)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_NaivePipeline(benchmark::State& state) { RunPipeline(state, 0); }
BENCHMARK(BM_NaivePipeline)->ArgName("png")->Arg(Mp4)->Arg(PngSequence)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// One 1280x720 frame of the flight as PNG at each zlib level: time and size.
void BM_PngLevel(benchmark::State& state) {
  const auto& frames = RecordedFrames();
  tool::PngOptions options;
  options.compressionLevel = static_cast<int>(state.range(0));
  const std::string path = Scratch() + "/level.png";
  std::string error;
  size_t index = 0;
  for (auto _ : state) tool::WritePng(path, frames[index++ % frames.size()].data(), kWidth, kHeight, options, error);
  state.counters["bytes"] = static_cast<double>(fs::file_size(path));
  fs::remove_all(Scratch());
}
BENCHMARK(BM_PngLevel)->ArgName("level")->DenseRange(0, 9, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

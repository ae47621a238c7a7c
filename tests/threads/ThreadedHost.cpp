// A host that breaks the one-render-thread rule on purpose, as some real
// hosts do: two render threads, each with a GL context of its own, create
// their first instances at the same moment and draw, while a plugin scanner
// on a third thread makes and drops the query instance over and over.
//
//   threaded_host PLUGIN race            the simultaneous first creations
//   threaded_host PLUGIN draw FRAMES     the race, then FRAMES frames per
//                                        thread, compared with the same frames
//                                        drawn by one thread alone
//   threaded_host PLUGIN late-context    a creation with no context current,
//                                        then a normal one
//
// Each run is a fresh process: the first creation decides the plugin's
// once-per-process GL set-up. Exits 0, or 1 with the reason on stderr.
#include <GL/glew.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/FrameTarget.h"
#include "hostkit/GlContext.h"
#include "hostkit/PluginLibrary.h"

namespace {

constexpr int kRenderThreads = 2;
constexpr int kWidth = 48;
constexpr int kHeight = 27;

std::atomic<int> failures{0};

void Fail(const std::string& message) {
  std::fprintf(stderr, "threaded_host: %s\n", message.c_str());
  ++failures;
}

uint32_t IndexOf(const std::vector<hostkit::ParameterDescription>& parameters, const char* name) {
  for (const auto& parameter : parameters)
    if (parameter.name == name) return parameter.index;
  Fail(std::string("the plugin has no parameter \"") + name + "\"");
  return 0;
}

// What one render thread asks of its instance. The two threads differ in
// every value, so a text or a picture of the other thread's would show.
struct Look {
  std::vector<std::pair<uint32_t, float>> settings;
  uint32_t movingIndex;  // set anew before every frame, and its text read back
  float movingBase;
};

std::vector<Look> Looks(const std::vector<hostkit::ParameterDescription>& parameters) {
  const uint32_t type = IndexOf(parameters, "Fractal Type"), palette = IndexOf(parameters, "Color Mode"),
                 mirror = IndexOf(parameters, "Mirror"), brightness = IndexOf(parameters, "Brightness"),
                 rotation = IndexOf(parameters, "Rotation");
  return {{{{type, 0.6f}, {palette, 0.45f}, {mirror, 0.4f}, {brightness, 0.9f}}, rotation, 0.125f},
          {{{type, 0.1f}, {palette, 0.25f}, {mirror, 0.0f}, {brightness, 0.7f}}, rotation, 0.5f}};
}

float MovingValue(const Look& look, int frame) { return look.movingBase + 0.001f * static_cast<float>(frame); }

// Draws `frames` frames of the look into a float frame buffer and keeps every
// picture. Checks on the way that each value reads back exactly and that its
// display text is this thread's own.
bool DrawFrames(const hostkit::PluginInstance& instance, const Look& look, int frames,
                std::vector<std::vector<float>>& pictures) {
  hostkit::FrameTarget target;
  std::string error;
  if (!target.Create(kWidth, kHeight, hostkit::PixelFormat::Rgba32F, error)) {
    Fail(error);
    return false;
  }
  for (const auto& [index, value] : look.settings) instance.SetParameter(index, value);
  for (int frame = 0; frame < frames; ++frame) {
    const float value = MovingValue(look, frame);
    instance.SetParameter(look.movingIndex, value);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
    const std::string shown = instance.DisplayText(look.movingIndex);
    if (instance.GetParameter(look.movingIndex) != value || shown != expected) {
      Fail("frame " + std::to_string(frame) + ": the value reads back as \"" + shown + "\", not \"" + expected + "\"");
      return false;
    }
    target.Bind();
    if (!instance.ProcessFrame()) {
      Fail("frame " + std::to_string(frame) + " failed");
      return false;
    }
    pictures.push_back(target.ReadRgba32F());
  }
  return true;
}

// Both threads wait here until both have arrived, then go at once.
class StartingLine {
 public:
  explicit StartingLine(int runners) : waiting(runners) {}
  void Arrive() {
    --waiting;
    while (waiting.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> waiting;
};

// The scanner: what a host's plugin browser asks, on its own thread, until
// told to stop. Codes 34, 4, 5, 6, 15, 10 and 2, as fast as it can.
void Scan(const hostkit::PluginLibrary& library, const std::atomic<bool>& stop, const std::string& firstName) {
  long rounds = 0;
  while (!stop.load() || rounds == 0) {
    if (library.CallWithValue(FunctionCode::Initialise, 0) != FF_SUCCESS) Fail("scanner: code 34 failed");
    const uint32_t count = library.CallWithValue(FunctionCode::GetParameterCount, 0);
    if (count != 19) Fail("scanner: code 4 answered " + std::to_string(count));
    const auto* name =
        static_cast<const char*>(library.Call(FunctionCode::GetParameterName, PlugMainValueOf(0u)).pointerValue);
    if (!name || firstName != name) Fail("scanner: code 5 answered another name");
    for (uint32_t index = 0; index < count; ++index) {
      library.CallWithValue(FunctionCode::GetParameterDefault, index);
      library.CallWithValue(FunctionCode::GetParameterType, index);
    }
    library.CallWithValue(FunctionCode::GetCapability, 5);
    library.CallWithValue(FunctionCode::Deinitialise, 0);
    ++rounds;
  }
}

struct RenderThread {
  std::unique_ptr<hostkit::GlContext> context;
  std::vector<std::vector<float>> pictures;
};

int RunThreaded(const hostkit::PluginLibrary& library, int frames) {
  const auto parameters = library.ReadParameters();
  const std::vector<Look> looks = Looks(parameters);
  if (failures) return 1;

  // The contexts are made one after the other (the host's own loader is not
  // what is tested), then each is handed to its thread.
  std::vector<RenderThread> renderers(kRenderThreads);
  for (RenderThread& renderer : renderers) {
    std::string error;
    renderer.context = hostkit::GlContext::Create(hostkit::GlBackend::Egl, error);
    if (!renderer.context) {
      Fail(error);
      return 1;
    }
    renderer.context->ReleaseCurrent();
  }

  std::atomic<bool> stopScanning{false};
  std::thread scanner(Scan, std::cref(library), std::cref(stopScanning), parameters.empty() ? "" : parameters[0].name);
  StartingLine start(kRenderThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kRenderThreads; ++t) {
    threads.emplace_back([&, t] {
      RenderThread& renderer = renderers[t];
      renderer.context->MakeCurrent();
      start.Arrive();
      std::string error;
      const ViewportRecord viewport{0, 0, kWidth, kHeight};
      auto instance = hostkit::PluginInstance::Create(library, viewport, error);
      if (!instance)
        Fail("render thread " + std::to_string(t) + ": its first instance was refused");
      else if (frames > 0)
        DrawFrames(*instance, looks[t], frames, renderer.pictures);
      instance.reset();
      renderer.context->ReleaseCurrent();
    });
  }
  for (std::thread& thread : threads) thread.join();
  stopScanning = true;
  scanner.join();
  if (failures || frames == 0) return failures ? 1 : 0;

  // The same frames, drawn by one thread with nothing else going on.
  for (int t = 0; t < kRenderThreads; ++t) {
    renderers[t].context->MakeCurrent();
    std::string error;
    const ViewportRecord viewport{0, 0, kWidth, kHeight};
    auto instance = hostkit::PluginInstance::Create(library, viewport, error);
    std::vector<std::vector<float>> alone;
    if (!instance || !DrawFrames(*instance, looks[t], frames, alone)) {
      Fail("drawing alone failed");
      return 1;
    }
    for (int frame = 0; frame < frames; ++frame) {
      if (alone[frame] != renderers[t].pictures[frame]) {
        Fail("render thread " + std::to_string(t) + ", frame " + std::to_string(frame) +
             ": the picture differs from the one drawn alone");
        return 1;
      }
    }
    instance.reset();
    renderers[t].context->ReleaseCurrent();
  }
  return 0;
}

int RunLateContext(const hostkit::PluginLibrary& library) {
  const ViewportRecord viewport{0, 0, kWidth, kHeight};
  std::string error;
  if (hostkit::PluginInstance::Create(library, viewport, error)) {
    Fail("an instance was made with no GL context current");
    return 1;
  }
  auto context = hostkit::GlContext::Create(hostkit::GlBackend::Egl, error);
  if (!context) {
    Fail(error);
    return 1;
  }
  auto instance = hostkit::PluginInstance::Create(library, viewport, error);
  if (!instance) {
    Fail("once a context is current, creation still fails");
    return 1;
  }
  const Look look = Looks(library.ReadParameters())[0];
  std::vector<std::vector<float>> pictures;
  if (!DrawFrames(*instance, look, 1, pictures)) return 1;
  float brightest = 0.0f;
  for (float channel : pictures[0]) brightest = std::max(brightest, channel);
  if (!(brightest > 0.05f)) {
    Fail("the frame drawn after the late context is black");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: threaded_host PLUGIN race | draw FRAMES | late-context\n");
    return 2;
  }
  std::string error;
  auto library = hostkit::PluginLibrary::Open(argv[1], error);
  if (!library) {
    Fail(error);
    return 1;
  }
  const std::string mode = argv[2];
  if (mode == "race") return RunThreaded(*library, 0);
  if (mode == "draw" && argc > 3) return RunThreaded(*library, std::atoi(argv[3]));
  if (mode == "late-context") return RunLateContext(*library);
  std::fprintf(stderr, "threaded_host: unknown mode %s\n", mode.c_str());
  return 2;
}

// tessarvander-probe: the smallest host that says everything about a plugin
// build, for comparing builds across platforms. It runs the same on Linux
// (EGL) and Windows (WGL): built for both, its outputs must agree.
//
//   tessarvander-probe PLUGIN answers
//       every identity and parameter answer, one per line, in a fixed form
//   tessarvander-probe PLUGIN frame WIDTH HEIGHT FRAMES OUT [INDEX=VALUE ...]
//       draws FRAMES frames with the parameters given and writes the last as
//       32-bit float RGBA: "TVF1", width and height (two 32-bit integers),
//       then the pixels bottom row first
//   tessarvander-probe compare A B
//       compares two such frames with the picture tests' tolerance
#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ParameterTable.h"
#include "hostkit/FrameTarget.h"
#include "hostkit/GlContext.h"
#include "hostkit/PluginLibrary.h"

namespace {

// As in the picture tests: each channel within 0.005 + 0.5 %, and at most 1 %
// of the pixels beyond that.
constexpr float kAbsoluteTolerance = 0.005f;
constexpr float kRelativeTolerance = 0.005f;
constexpr double kOutlierShare = 0.01;

int Usage() {
  std::fputs(
      "usage: tessarvander-probe PLUGIN answers\n"
      "       tessarvander-probe PLUGIN frame WIDTH HEIGHT FRAMES OUT [INDEX=VALUE ...]\n"
      "       tessarvander-probe compare A B\n",
      stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tessarvander-probe: %s\n", message.c_str());
  return 1;
}

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

int PrintAnswers(const hostkit::PluginLibrary& plugin) {
  hostkit::PluginDescription description;
  std::string error;
  if (!plugin.ReadDescription(description, error)) return Fail(error);
  std::printf("id %s\nname %s\napi %u.%u\ntype %u\nversion %u.%u\ndescription %s\nabout %s\n",
              description.uniqueId.c_str(), description.name.c_str(), description.apiMajorVersion,
              description.apiMinorVersion, description.pluginType, description.pluginMajorVersion,
              description.pluginMinorVersion, description.description.c_str(), description.about.c_str());
  for (uint32_t capability : {5u, 10u, 11u, 16u, 99u})
    std::printf("capability %u = %u\n", capability, plugin.CallWithValue(FunctionCode::GetCapability, capability));
  std::printf("parameters %u\n", plugin.CallWithValue(FunctionCode::GetParameterCount, 0));
  for (const hostkit::ParameterDescription& parameter : plugin.ReadParameters()) {
    std::printf("parameter %u \"%s\" type %u default %08x range %g..%g elements %u visible %u\n", parameter.index,
                parameter.name.c_str(), parameter.type, Bits(parameter.defaultValue),
                static_cast<double>(parameter.minimum), static_cast<double>(parameter.maximum),
                plugin.CallWithValue(FunctionCode::GetElementCount, parameter.index),
                plugin.CallWithValue(FunctionCode::GetParameterVisibility, parameter.index));
  }

  const ViewportRecord viewport{0, 0, 64, 48};
  auto instance = hostkit::PluginInstance::Create(plugin, viewport, error);
  if (!instance) return Fail(error);
  // Every parameter and the first index past them.
  for (uint32_t index = 0; index <= tessarvander::kParameterCount; ++index)
    std::printf("value %u = %08x \"%s\"\n", index, Bits(instance->GetParameter(index)),
                instance->DisplayText(index).c_str());
  std::printf("set 0 to nan = %s\n", instance->SetParameter(0, std::nanf("")) ? "accepted" : "refused");
  std::printf("set %u = %s\n", tessarvander::kParameterCount,
              instance->SetParameter(tessarvander::kParameterCount, 0.5f) ? "accepted" : "refused");
  std::printf("input status 0 = %08x\n", plugin.CallWithValue(FunctionCode::GetInputStatus, 0, instance->Handle()));
  return 0;
}

bool WriteFrame(const std::string& path, int width, int height, const std::vector<float>& pixels) {
  std::ofstream file(path, std::ios::binary);
  const int32_t size[2] = {width, height};
  file.write("TVF1", 4);
  file.write(reinterpret_cast<const char*>(size), sizeof size);
  file.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size() * sizeof(float)));
  return file.good();
}

bool ReadFrame(const std::string& path, int& width, int& height, std::vector<float>& pixels) {
  std::ifstream file(path, std::ios::binary);
  char magic[4];
  int32_t size[2];
  if (!file.read(magic, 4) || std::memcmp(magic, "TVF1", 4) != 0 ||
      !file.read(reinterpret_cast<char*>(size), sizeof size) || size[0] < 1 || size[1] < 1 || size[0] > 16384 ||
      size[1] > 16384)
    return false;
  width = size[0];
  height = size[1];
  pixels.resize(static_cast<size_t>(width) * height * 4);
  return static_cast<bool>(file.read(reinterpret_cast<char*>(pixels.data()),
                                     static_cast<std::streamsize>(pixels.size() * sizeof(float))));
}

int DrawFrame(const hostkit::PluginLibrary& plugin, int argc, char** argv) {
  if (argc < 7) return Usage();
  const int width = std::atoi(argv[3]);
  const int height = std::atoi(argv[4]);
  const int frames = std::atoi(argv[5]);
  if (width < 1 || height < 1 || frames < 1) return Usage();
  hostkit::FrameTarget target;
  std::string error;
  if (!target.Create(width, height, hostkit::PixelFormat::Rgba32F, error)) return Fail(error);
  const ViewportRecord viewport{0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  auto instance = hostkit::PluginInstance::Create(plugin, viewport, error);
  if (!instance) return Fail(error);
  for (int i = 7; i < argc; ++i) {
    const char* equals = std::strchr(argv[i], '=');
    if (!equals) return Usage();
    instance->SetParameter(static_cast<uint32_t>(std::atoi(argv[i])), std::strtof(equals + 1, nullptr));
  }
  for (int frame = 0; frame < frames; ++frame) {
    target.Bind();
    if (!instance->ProcessFrame()) return Fail("the plugin failed frame " + std::to_string(frame));
  }
  if (!WriteFrame(argv[6], width, height, target.ReadRgba32F())) return Fail(std::string("cannot write ") + argv[6]);
  return 0;
}

int Compare(const char* first, const char* second) {
  int width = 0, height = 0, otherWidth = 0, otherHeight = 0;
  std::vector<float> a, b;
  if (!ReadFrame(first, width, height, a)) return Fail(std::string("not a frame: ") + first);
  if (!ReadFrame(second, otherWidth, otherHeight, b)) return Fail(std::string("not a frame: ") + second);
  if (width != otherWidth || height != otherHeight) return Fail("the frames differ in size");
  long outliers = 0, identical = 0, nonFinite = 0;
  float worst = 0.0f;
  const long pixels = static_cast<long>(width) * height;
  for (long pixel = 0; pixel < pixels; ++pixel) {
    bool within = true, same = true;
    for (int channel = 0; channel < 4; ++channel) {
      const float x = a[static_cast<size_t>(pixel * 4 + channel)], y = b[static_cast<size_t>(pixel * 4 + channel)];
      if (!std::isfinite(x) || !std::isfinite(y)) ++nonFinite;
      const float difference = std::fabs(x - y);
      if (difference > kAbsoluteTolerance + kRelativeTolerance * std::fabs(y)) within = false;
      if (x != y) same = false;
      if (difference > worst) worst = difference;
    }
    outliers += within ? 0 : 1;
    identical += same ? 1 : 0;
  }
  std::printf("%ld pixels: %ld identical, %ld beyond tolerance, %ld non-finite channels, largest difference %g\n",
              pixels, identical, outliers, nonFinite, static_cast<double>(worst));
  return (nonFinite == 0 && outliers <= kOutlierShare * pixels) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "compare") == 0) return Compare(argv[2], argv[3]);
  if (argc < 3) return Usage();
  std::string error;
  auto context = hostkit::GlContext::Create(hostkit::GlBackend::Egl, error);
  if (!context) return Fail(error);
  auto plugin = hostkit::PluginLibrary::Open(argv[1], error);
  if (!plugin) return Fail(error);
  if (std::strcmp(argv[2], "answers") == 0) return PrintAnswers(*plugin);
  if (std::strcmp(argv[2], "frame") == 0) return DrawFrame(*plugin, argc, argv);
  return Usage();
}

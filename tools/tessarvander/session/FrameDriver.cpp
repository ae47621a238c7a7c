#include "session/FrameDriver.h"

#include <cmath>

namespace tool {
namespace {

// The tempo a host tells when it has none of its own.
constexpr double kTempo = 120.0;

}  // namespace

FrameDriver::FrameDriver(const hostkit::PluginInstance& instance, double framesPerSecond)
    : instance(instance), framesPerSecond(framesPerSecond) {}

void FrameDriver::SetBeat(float tempo, float phase) {
  beatSet = true;
  beatsPerMinute = tempo;
  barPhase = phase;
}

bool FrameDriver::Process(long frameNumber, const std::vector<ParameterValue>& values) {
  const double seconds = static_cast<double>(frameNumber) / framesPerSecond;
  instance.SetTime(seconds);
  if (!beatSet) {
    const double beats = seconds * kTempo / 60.0;
    instance.SetBeatInfo(static_cast<float>(kTempo), static_cast<float>(std::fmod(beats, 4.0) / 4.0));
  } else {
    instance.SetBeatInfo(beatsPerMinute, barPhase);
  }
  for (const ParameterValue& value : values) {
    if (value.index >= sent.size()) sent.resize(value.index + 1, std::nanf(""));
    if (value.value == sent[value.index]) continue;
    if (!instance.SetParameter(value.index, value.value)) return false;
    sent[value.index] = value.value;
  }
  return instance.ProcessFrame();
}

}  // namespace tool

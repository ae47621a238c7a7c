#include "player/TravelRenewal.h"

#include <cmath>
#include <limits>

#include "ParameterTable.h"
#include "TravelMotion.h"

namespace tool {
namespace {

namespace param = tessarvander::param;
const tessarvander::ParameterRow& Row(uint32_t index) { return tessarvander::kParameterRows[index]; }

}  // namespace

bool TravelRenewal::RenewNow(bool goodMoment) {
  dueFor = Due() ? dueFor + 1 : 0;
  return dueFor > 0 && (goodMoment || dueFor > kLeadFrames / 2);
}

void TravelRenewal::Restart() {
  // An instance's eased values start at their parameters' defaults.
  clock = 0.0f;
  dueFor = 0;
  easedSpeed = Row(param::Speed).defaultValue;
  easedDirection = Row(param::Direction).defaultValue;
  started = true;
}

void TravelRenewal::Frame(float speed, float direction) {
  if (!started) Restart();
  easedSpeed = travel::EaseToward(easedSpeed, tessarvander::Scaled(Row(param::Speed).scaling, speed));
  easedDirection = travel::EaseToward(easedDirection, tessarvander::Scaled(Row(param::Direction).scaling, direction));
  clock = travel::AdvanceClock(clock, easedDirection, easedSpeed);
}

void TravelRenewal::Frame(const std::vector<ParameterValue>& values) {
  float speed = Row(param::Speed).defaultValue, direction = Row(param::Direction).defaultValue;
  for (const ParameterValue& value : values) {
    if (value.index == param::Speed) speed = value.value;
    if (value.index == param::Direction) direction = value.value;
  }
  Frame(speed, direction);
}

float TravelRenewal::NominalStep() const { return (easedDirection * easedSpeed) * travel::kFrameStep; }

double TravelRenewal::StepError(float at, float step) {
  if (step == 0.0f) return 0.0;
  // Half the spacing of the floats about the clock.
  const float magnitude = std::fabs(at);
  const float spacing = std::nextafter(magnitude, std::numeric_limits<float>::infinity()) - magnitude;
  return 0.5 * spacing / std::fabs(step);
}

bool TravelRenewal::Due() const {
  const float step = NominalStep();
  if (std::fabs(step) < kSmallestStep) return false;
  return StepError(clock + step * static_cast<float>(kLeadFrames), step) > largest;
}

}  // namespace tool

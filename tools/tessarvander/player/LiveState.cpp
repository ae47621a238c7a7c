#include "player/LiveState.h"

namespace tool {

LiveState::LiveState(const ParameterControls& controls, double framesPerSecond)
    : names(controls.Names()), framesPerSecond(framesPerSecond) {
  const auto& parameters = names.Parameters();
  values.assign(parameters.size(), 0.0f);
  for (const auto& parameter : parameters)
    if (parameter.index < values.size()) values[parameter.index] = parameter.defaultValue;
  for (const ParameterValue& value : controls.ValuesAt(0.0))
    if (value.index < values.size()) values[value.index] = value.value;
}

const std::vector<ParameterValue>& LiveState::AllValues() {
  allValues.resize(values.size());
  for (uint32_t index = 0; index < values.size(); ++index) allValues[index] = {index, values[index]};
  return allValues;
}

void LiveState::Set(uint32_t index, float value) {
  if (index >= values.size() || values[index] == value) return;
  values[index] = value;
  journal.Set(shownFrames, index, value);
}

void LiveState::Apply(const std::vector<ParameterValue>& changes) {
  for (const ParameterValue& change : changes) Set(change.index, change.value);
}

void LiveState::SetPaused(bool pause) {
  if (pause == paused) return;
  paused = pause;
  journal.Pause(shownFrames, paused);
}

void LiveState::FrameShown() {
  ++shownFrames;
  journal.FrameDone(shownFrames);
}

void LiveState::SetLevel(float wanted) {
  if (wanted == level) return;
  level = wanted;
  journal.Level(shownFrames, level);
}

bool LiveState::WriteTake(const std::string& path, std::string& error) {
  const long first = takeFirst;
  takeFirst = -1;
  return journal.WriteTake(path, first, shownFrames, error);
}

bool LiveState::Record(const std::string& path, const std::string& folder, std::string& error) {
  return journal.Open(path, folder, framesPerSecond, AllValues(), names, error);
}

}  // namespace tool

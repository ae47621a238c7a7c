#include "player/LiveState.h"

namespace tool {

LiveState::LiveState(const ParameterControls& controls, double framesPerSecond)
    : names(controls.Names()), framesPerSecond(framesPerSecond) {
  const auto& parameters = names.Parameters();
  values[0].assign(parameters.size(), 0.0f);
  for (const auto& parameter : parameters)
    if (parameter.index < values[0].size()) values[0][parameter.index] = parameter.defaultValue;
  for (const ParameterValue& value : controls.ValuesAt(0.0))
    if (value.index < values[0].size()) values[0][value.index] = value.value;
  values[1] = values[0];
}

const std::vector<ParameterValue>& LiveState::AllValues(int deck) {
  allValues.resize(values[deck].size());
  for (uint32_t index = 0; index < values[deck].size(); ++index) allValues[index] = {index, values[deck][index]};
  return allValues;
}

void LiveState::SetOn(int deck, uint32_t index, float value) {
  if (index >= values[deck].size()) return;
  const bool shared = index < sharedByDecks.size() && sharedByDecks[index];
  for (int each = 0; each < kDecks; ++each) {
    if ((each != deck && !shared) || values[each][index] == value) continue;
    values[each][index] = value;
    if (each == 0) journal.Set(shownFrames, index, value);
    else journal.SetSecond(shownFrames, index, value);
  }
}

void LiveState::ApplyTo(int deck, const std::vector<ParameterValue>& changes) {
  for (const ParameterValue& change : changes) SetOn(deck, change.index, change.value);
}

void LiveState::SetMix(float wanted, Blend wantedBlend) {
  if (wanted == mix && wantedBlend == blend) return;
  mix = wanted;
  blend = wantedBlend;
  journal.Mix(shownFrames, mix, blend);
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

void LiveState::WriteTake(const std::string& path) {
  const long first = takeFirst;
  takeFirst = -1;
  journal.WriteTake(path, first, shownFrames);
  if (sound.Recording()) sound.WriteTake(path, first, shownFrames);
}

bool LiveState::RecordSound(const std::string& takePath, const std::string& folder, int sampleRate,
                            std::string& error) {
  return sound.Start(takePath, folder, sampleRate, framesPerSecond, error);
}

std::vector<TakeJournal::News> LiveState::JournalNews() {
  std::vector<TakeJournal::News> news = journal.TakeNews();
  for (TakeJournal::News& said : sound.TakeNews()) news.push_back(std::move(said));
  return news;
}

bool LiveState::CloseSession(std::string& error) {
  const bool history = journal.Close(shownFrames, error);
  std::string soundError;
  if (!sound.Close(soundError)) error += (error.empty() ? "" : "; ") + soundError;
  return history && soundError.empty();
}

bool LiveState::Record(const std::string& path, const std::string& folder, std::string& error) {
  return journal.Open(path, folder, framesPerSecond, AllValues(0), names, error);
}

}  // namespace tool

#include "player/CuePlayer.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "sys/Messages.h"

namespace tool {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool FindLook(const PresetBank& bank, const std::string& look, size_t& slot, std::string& why) {
  if (!look.empty() && look.size() <= 3 && look.find_first_not_of("0123456789") == std::string::npos) {
    slot = static_cast<size_t>(std::stoi(look)) - 1;
    if (look != "0" && slot < bank.Size() && !bank.Empty(slot)) return true;
    why = "slot " + look + " of the bank holds no look";
    return false;
  }
  const std::string wanted = Lower(look);
  for (size_t index = 0; index < bank.Size(); ++index) {
    if (bank.Empty(index)) continue;
    const std::string name = Lower(bank.Name(index));
    if (name == wanted || Unnumbered(name) == wanted) {
      slot = index;
      return true;
    }
  }
  why = "the bank holds no look \"" + Printable(look, 60) + "\"";
  return false;
}

bool CuePlayer::Load(const CueSheet& sheet, const PresetBank& bank, const std::string& where, std::string& error) {
  cues = sheet.cues;
  slots.assign(cues.size(), 0);
  inBars.clear();
  inSeconds.clear();
  for (size_t index = 0; index < cues.size(); ++index) {
    const Cue& cue = cues[index];
    std::string why;
    if (cue.kind == CueKind::Look && !FindLook(bank, cue.look, slots[index], why))
      return error = where + ": line " + std::to_string(cue.line) + ": " + why, false;
    (cue.at.inBars ? inBars : inSeconds).push_back(index);
  }
  return true;
}

bool CuesNeedTwoDecks(const CueSheet& sheet) {
  return std::any_of(sheet.cues.begin(), sheet.cues.end(), [](const Cue& cue) {
    return cue.kind == CueKind::Look && cue.length.amount > 0.0 && cue.transition != Transition::Morph;
  });
}

void CuePlayer::Rewind() {
  nextBar = nextSecond = 0;
  ramps.clear();
}

void CuePlayer::Frame(Stage& stage, const Moment& now, std::vector<std::string>& said) {
  // Due cues of both kinds of place, in the sheet's order.
  std::vector<size_t> due;
  while (nextBar < inBars.size() && now.beats >= 0.0 && now.beats >= cues[inBars[nextBar]].at.Beats() - 1e-9)
    due.push_back(inBars[nextBar++]);
  while (nextSecond < inSeconds.size() && now.seconds >= cues[inSeconds[nextSecond]].at.seconds - 1e-9)
    due.push_back(inSeconds[nextSecond++]);
  std::sort(due.begin(), due.end());
  for (size_t index : due) Fire(stage, cues[index], slots[index], now, said);
  // Each ramp's next step, its last frame at its value.
  LiveState& live = stage.Live();
  for (auto ramp = ramps.begin(); ramp != ramps.end();) {
    ++ramp->frame;
    const float t = std::min(1.0f, static_cast<float>(ramp->frame) / static_cast<float>(ramp->frames));
    live.Set(ramp->parameter, ramp->from + (ramp->to - ramp->from) * t);
    ramp = t >= 1.0f ? ramps.erase(ramp) : ramp + 1;
  }
}

void CuePlayer::Fire(Stage& stage, const Cue& cue, size_t slot, const Moment& now, std::vector<std::string>& said) {
  ++fired;
  firedAt.push_back(now.seconds);
  const long frames = std::lround(cue.length.Seconds(now.secondsPerBeat) * now.framesPerSecond);
  const std::string place = "cue " + CuePositionText(cue.at) + ": ";
  switch (cue.kind) {
    case CueKind::Look: {
      std::string why;
      if (stage.Recall(slot, cue.transition, frames, why)) said.push_back(place + "preset " + std::to_string(slot + 1) + ": " + stage.Bank().Name(slot));
      else said.push_back(place + why);
      break;
    }
    case CueKind::Blackout:
    case CueKind::Back:
      if (stage.SetBlackout(cue.kind == CueKind::Blackout)) said.push_back(place + (cue.kind == CueKind::Blackout ? "blackout" : "back from blackout"));
      break;
    case CueKind::Set: stage.Live().Set(cue.parameter, cue.value); break;
    case CueKind::Ramp: {
      ramps.erase(std::remove_if(ramps.begin(), ramps.end(), [&](const Ramp& ramp) { return ramp.parameter == cue.parameter; }),
                  ramps.end());
      const float from = cue.parameter < stage.Live().Values().size() ? stage.Live().Values()[cue.parameter] : 0.0f;
      ramps.push_back({cue.parameter, from, cue.value, 0, std::max(1L, frames)});
      break;
    }
  }
}

}  // namespace tool

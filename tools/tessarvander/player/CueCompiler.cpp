#include "player/CueCompiler.h"

#include "formats/Takes.h"
#include "player/CuePlayer.h"
#include "player/PlayerOptions.h"
#include "player/Stage.h"

namespace tool {
namespace {

// Every change of a deck's values since the frame before.
void Changed(const std::vector<float>& now, std::vector<float>& before, std::vector<ParameterValue>& changes) {
  for (uint32_t index = 0; index < now.size(); ++index)
    if (now[index] != before[index]) changes.push_back({index, now[index]});
  before = now;
}

}  // namespace

bool CompileCues(const CueRender& render, const ParameterControls& controls, const ParameterProfile& profile,
                 std::string& takeText, std::vector<std::string>& said, std::vector<double>& firedAt,
                 std::string& error) {
  const BeatGrid& grid = *render.grid;
  const double songSeconds = static_cast<double>(render.frames) / render.framesPerSecond;
  const double songBeats = grid.Beats().empty() ? 0.0 : grid.Position(grid.Beats().back()) + 1.0;
  for (const Cue& cue : render.sheet->cues) {
    const std::string place = render.where + ": line " + std::to_string(cue.line) + ": " + CuePositionText(cue.at);
    if (cue.at.inBars && grid.Beats().empty()) return error = place + ": the song has no beats to count bars by", false;
    if (cue.at.inBars ? cue.at.Beats() > songBeats : cue.at.seconds > songSeconds) {
      char length[96];
      std::snprintf(length, sizeof length, " is past the song's end (%.0f bars, %.1f s)", songBeats / kCueBeatsPerBar,
                    songSeconds);
      return error = place + length, false;
    }
  }
  PlayerOptions options;
  options.framesPerSecond = render.framesPerSecond;
  options.bank = *render.bank;
  options.blackoutSeconds = render.blackoutSeconds;
  options.crossfadeSeconds = 0.0;
  Stage stage(controls, profile, options);
  CuePlayer cues;
  if (!cues.Load(*render.sheet, stage.Bank(), render.where, error)) return false;

  LiveState& live = stage.Live();
  std::vector<float> first = live.DeckValues(0), second = live.DeckValues(1);
  float mix = live.Mix(), level = 1.0f;
  Blend blend = live.Blending();
  takeText = TakeHeaderLine(render.framesPerSecond, 0, live.AllValues(0), controls.Names());
  for (long frame = 0; frame < render.frames; ++frame) {
    CuePlayer::Moment now;
    now.seconds = static_cast<double>(frame) / render.framesPerSecond;
    now.beats = grid.Beats().empty() ? -1.0 : grid.Position(now.seconds);
    now.secondsPerBeat = grid.PeriodAt(now.seconds);
    now.framesPerSecond = render.framesPerSecond;
    cues.Frame(stage, now, said);
    stage.StepFrame({});
    TakeChange change;
    Changed(live.DeckValues(0), first, change.values);
    Changed(live.DeckValues(1), second, change.secondDeck);
    if (live.Mix() != mix || live.Blending() != blend) {
      mix = live.Mix(), blend = live.Blending();
      change.mix = mix;
      change.blend = static_cast<int>(blend);
    }
    if (stage.Level() != level) change.level = level = stage.Level();
    if (!change.values.empty() || !change.secondDeck.empty() || change.mix >= 0.0f || change.level >= 0.0f)
      takeText += TakeChangeLine(frame, change, controls.Names());
    live.FrameShown();
  }
  takeText += "{\"frames\":" + std::to_string(render.frames) + "}\n";
  firedAt = cues.FiredAt();
  return true;
}

}  // namespace tool

#include "app/RenderCues.h"

#include <algorithm>
#include <cstdio>

#include "music/Director.h"
#include "player/CueCompiler.h"
#include "sys/Messages.h"
#include "sys/OutputFile.h"

namespace tool {

void DeclareCueOptions(CLI::App& command, CueSettings& settings) {
  command.add_option("--cues", settings.cuesPath,
                     "play a cue sheet on the song's beats: looks of the bank by bar and beat, their transitions, "
                     "blackouts, sets and ramps (docs/formats.md)")
      ->type_name("FILE");
  command.add_flag("--direct", settings.direct,
                   "let the director cue the song: a new look at each section change and every phrase, on "
                   "downbeats; the sheet is saved beside the video for editing")
      ->excludes("--cues");
  command.add_option("--bank", settings.bankFolder, "the looks the cues name (default: the looks shipped)")
      ->type_name("FOLDER");
  command.add_option("--seed", settings.seed, "the director's order of looks; the same seed, the same cues")
      ->type_name("N")
      ->capture_default_str();
}

bool LoadCueBank(const std::string& folder, const ParameterNames& names, PresetBank& bank, std::string& error) {
  const std::string from = folder.empty() ? ShippedBank() : folder;
  if (from.empty()) return error = "--bank: no bank given and no looks shipped with the program", false;
  return bank.Load(from, names, error);
}

bool RenderCues::Prepare(const RenderMusic& music, const CommandContext& context, double framesPerSecond,
                         long frames, const std::string& output, bool quiet, Take& take, std::string& error,
                         bool& usage) {
  usage = true;
  if (settings.direct && !music.Active()) return error = "--direct cues a song: give --audio SONG", false;
  if (!LoadCueBank(settings.bankFolder, context.Names(), bank, error)) return false;
  std::string where = "cue sheet " + Printable(settings.cuesPath, 300);
  if (settings.direct) {
    std::vector<std::string> looks;
    for (size_t slot = 0; slot < bank.Size(); ++slot) looks.push_back(bank.Empty(slot) ? "" : bank.Name(slot));
    DirectorOptions options;
    options.seed = settings.seed;
    sheet = Direct(music.Analysis(), looks, options);
    if (sheet.cues.empty()) return error = "--direct: the song has no bars to cue", false;
    const std::string saved = output.substr(0, output.find_last_of('.')) + ".cues.txt";
    where = "the director's cues";
    usage = false;
    if (!WriteWholeFile(saved, CueSheetText(sheet, context.Names(), "by tessarvander's director, seed " +
                                                                          std::to_string(settings.seed)),
                        error))
      return false;
    if (!quiet)
      std::printf("the director cued %zu looks; the sheet is in %s (edit it, then render it with --cues)\n",
                  sheet.cues.size(), Printable(saved, 300).c_str());
  } else if (!LoadCueSheet(settings.cuesPath, context.Names(), sheet, error)) {
    return false;
  }
  const bool inBars = std::any_of(sheet.cues.begin(), sheet.cues.end(), [](const Cue& cue) { return cue.at.inBars; });
  if (inBars && !music.Active()) return error = where + ": bars are counted on a song's beats: give --audio SONG", false;
  const BeatGrid noBeats;
  CueRender render;
  render.sheet = &sheet;
  render.where = where;
  render.bank = &bank;
  render.grid = music.Active() ? &music.Analysis().Grid() : &noBeats;
  render.framesPerSecond = framesPerSecond;
  render.frames = frames;
  std::string text;
  std::vector<std::string> said;
  const ParameterProfile profile = ParameterProfile::For(context.session->Description());
  if (!CompileCues(render, *context.controls, profile, text, said, firedAt, error)) return false;
  usage = false;
  if (!ParseTake(text, where, context.Names(), take, error)) return false;
  if (!quiet) std::printf("%zu cues on %ld frames\n", sheet.cues.size(), frames);
  return true;
}

}  // namespace tool

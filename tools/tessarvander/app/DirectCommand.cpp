// tessarvander direct: the automatic director's cue sheet for a song, to
// read, edit and render with `render --audio SONG --cues SHEET`.
#include <cstdio>

#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "app/RenderCues.h"
#include "formats/ParameterProfile.h"
#include "music/AudioAnalysis.h"
#include "music/Director.h"
#include "sys/Messages.h"
#include "sys/OutputFile.h"

namespace tool {
namespace {

const char* kDirectDescription =
    "Writes a cue sheet for a song: the automatic director's cut.\n\n"
    "The song's beats, bars and sections are found as 'render --audio' finds them.\n"
    "A new look comes at bar 1, at each section change and otherwise every phrase\n"
    "(16 bars, or 8 when 16 would be longer than 45 s), always on a downbeat: by a\n"
    "cut where the music gets much louder, a dissolve over a bar where it gets much\n"
    "quieter, a dissolve over two beats otherwise. Every look of the bank comes\n"
    "before one comes back, never the same twice in a row; --seed picks the order.\n"
    "The sheet is plain text (docs/formats.md): edit it, then render it.\n";

const char* kDirectExamples =
    "examples:\n"
    "  tessarvander direct song.flac --bank ~/looks -o song.cues.txt\n"
    "  tessarvander render --audio song.flac --bank ~/looks --cues song.cues.txt -o song.mp4\n"
    "  tessarvander direct song.flac --dry-run --seed 7\n";

class DirectCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("direct", kDirectDescription);
    command->footer(kDirectExamples);
    command->add_option("SONG", song, "the song: any file ffmpeg reads")->required();
    command->add_option("-o,--output", output, "the cue sheet to write")->type_name("FILE");
    command->add_option("--bank", bankFolder, "the looks to cue (default: the looks shipped)")->type_name("FOLDER");
    command->add_option("--seed", options.seed, "the order of looks; the same seed, the same sheet")
        ->type_name("N")
        ->capture_default_str();
    command->add_flag("--dry-run", dryRun, "print the cues with their bars and times; write nothing");
    command->add_flag("-q,--quiet", quiet, "no summary");
    return command;
  }

  int Run() override {
    if (output.empty() && !dryRun) return Fail(kExitUsage, "direct: give -o SHEET, or --dry-run to see the cues");
    std::string error;
    PresetBank bank;
    const ParameterNames& names = ParameterProfile::TableNames();
    if (!LoadCueBank(bankFolder, names, bank, error)) return Fail(kExitUsage, error);
    AudioTrack track;
    AudioAnalysis analysis;
    if (!AnalyseAudioFile(song, track, analysis, error, "direct")) return Fail(kExitUsage, error);
    std::vector<std::string> looks;
    for (size_t slot = 0; slot < bank.Size(); ++slot) looks.push_back(bank.Empty(slot) ? "" : bank.Name(slot));
    const CueSheet sheet = Direct(analysis, looks, options);
    if (sheet.cues.empty()) return Fail(kExitFailure, "direct: " + Printable(song, 300) + " has no bars to cue");
    const BeatGrid& grid = analysis.Grid();
    char summary[200];
    std::snprintf(summary, sizeof summary, "%s: %.1f s, %.2f beats a minute, %zu bars, %zu section changes; %zu cues",
                  Printable(song, 200).c_str(), track.Seconds(), grid.BeatsPerMinute(), grid.Downbeats().size(),
                  grid.Sections().size(), sheet.cues.size());
    if (dryRun) {
      std::printf("%s\n", summary);
      for (const Cue& cue : sheet.cues) {
        const double at = grid.Downbeats().empty() ? 0.0
                          : cue.at.Beats() / grid.BeatsPerBar() < grid.Downbeats().size()
                              ? grid.Downbeats()[static_cast<size_t>(cue.at.Beats() / grid.BeatsPerBar())]
                              : grid.Downbeats().back();
        CueSheet one;
        one.cues.push_back(cue);
        std::string line = CueSheetText(one, names);
        line.pop_back();
        CuePosition time;
        time.inBars = false;
        time.seconds = at;
        std::printf("  %-8s %s\n", CuePositionText(time).c_str(), line.c_str());
      }
      return kExitSuccess;
    }
    const std::string text = CueSheetText(sheet, names, "by tessarvander's director for " + Printable(song, 200) +
                                                            ", seed " + std::to_string(options.seed));
    if (!WriteWholeFile(output, text, error)) return Fail(kExitFailure, error);
    if (!quiet) std::printf("%s\nwrote %s\n", summary, Printable(output, 500).c_str());
    return kExitSuccess;
  }

 private:
  std::string song, output, bankFolder;
  DirectorOptions options;
  bool dryRun = false;
  bool quiet = false;
};

}  // namespace

std::unique_ptr<Command> MakeDirectCommand() { return std::make_unique<DirectCommand>(); }

}  // namespace tool

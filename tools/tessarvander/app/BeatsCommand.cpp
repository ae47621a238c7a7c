// tessarvander beats: the beats a song's analysis finds, as labels an audio
// editor (or `render --beats`) reads: a line a beat, its time twice and its
// place in the bar.
#include <cmath>
#include <cstdio>
#include <string>

#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "music/AudioAnalysis.h"
#include "sys/Messages.h"
#include "sys/OutputFile.h"

namespace tool {
namespace {

const char* kBeatsDescription =
    "Prints the beats of a song as 'render --audio' finds them: one line a beat,\n"
    "\"TIME<tab>TIME<tab>BEAT\" (seconds, and the beat of its bar from 1), the\n"
    "label track Audacity imports; 'render --beats FILE' reads it back, so the\n"
    "beats can be corrected in an editor and used again.\n";

class BeatsCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("beats", kBeatsDescription);
    command->footer(
        "examples:\n"
        "  tessarvander beats song.flac -o song.beats.txt\n"
        "  tessarvander render --audio song.flac --beats song.beats.txt -o song.mp4\n");
    command->add_option("SONG", song, "the song: any file ffmpeg reads")->required();
    command->add_option("-o,--output", output, "the labels to write (default: print them)")->type_name("FILE");
    command->add_flag("-q,--quiet", quiet, "no summary");
    return command;
  }

  int Run() override {
    std::string error;
    AudioTrack track;
    AudioAnalysis analysis;
    if (!AnalyseAudioFile(song, track, analysis, error, "beats")) return Fail(kExitUsage, error);
    const BeatGrid& grid = analysis.Grid();
    std::string labels;
    char line[96];
    for (double beat : grid.Beats()) {
      const long place = std::lround(grid.Position(beat));
      const long inBar = ((place % grid.BeatsPerBar()) + grid.BeatsPerBar()) % grid.BeatsPerBar() + 1;
      std::snprintf(line, sizeof line, "%.4f\t%.4f\t%ld\n", beat, beat, inBar);
      labels += line;
    }
    char summary[200];
    std::snprintf(summary, sizeof summary, "%s: %.1f s, %.2f beats a minute, %zu beats", Printable(song, 200).c_str(),
                  track.Seconds(), grid.BeatsPerMinute(), grid.Beats().size());
    if (output.empty()) {
      std::fputs(labels.c_str(), stdout);
      if (!quiet) std::fprintf(stderr, "%s\n", summary);
      return kExitSuccess;
    }
    if (!WriteWholeFile(output, labels, error)) return Fail(kExitFailure, error);
    if (!quiet) std::printf("%s\nwrote %s\n", summary, Printable(output, 500).c_str());
    return kExitSuccess;
  }

 private:
  std::string song, output;
  bool quiet = false;
};

}  // namespace

std::unique_ptr<Command> MakeBeatsCommand() { return std::make_unique<BeatsCommand>(); }

}  // namespace tool

// tessarvander join: the parts of a render split with --segment K/N, put
// together into one video without encoding them again, the music muxed in
// once. The parts' manifests are checked first: the same settings, every part
// there once, the frame ranges adjoining.
#include <cstdio>

#include "sys/Messages.h"
#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "farm/Join.h"
#include "output/OutputKind.h"

namespace tool {
namespace {

const char* kJoinDescription =
    "Joins the parts of a render split across machines into one video.\n\n"
    "Each part is a video rendered with --segment K/N beside its manifest\n"
    "(PART.segment.json). The manifests must agree: the same settings, every part\n"
    "from 1 to N once, each part's frames starting where the one before ended,\n"
    "the same renderer (another GPU or driver may draw slightly differently).\n"
    "The videos are concatenated as they are (ffmpeg's concat demuxer) and the\n"
    "render's music, if any, is muxed in once.\n";

const char* kJoinExamples =
    "example:\n"
    "  parallel tessarvander render -o part{}.mp4 --segment {}/4 --duration 60 ::: 1 2 3 4\n"
    "  tessarvander join flight.mp4 part1.mp4 part2.mp4 part3.mp4 part4.mp4\n";

class JoinCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("join", kJoinDescription);
    command->footer(kJoinExamples);
    command->add_option("OUTPUT", output, "the joined video (.mp4, .mov or .mkv)")->required();
    command->add_option("SEGMENTS", parts, "the parts' videos, in any order")->required()->expected(1, -1);
    command->add_option("--audio", audio, "the render's music, when it is kept elsewhere on this machine")
        ->type_name("FILE");
    command->add_flag("--any-renderer", anyRenderer, "join parts drawn by different renderers");
    command->add_flag("-q,--quiet", quiet, "no summary");
    return command;
  }

  int Run() override {
    std::string error;
    OutputKind kind;
    if (!OutputKindOf(output, kind, error) || kind != OutputKind::Video)
      return Fail(kExitUsage, error.empty() ? output + ": join writes a video: name a .mp4, .mov or .mkv" : error);
    std::vector<SegmentManifest> manifests;
    std::string track;
    if (!ReadParts(parts, manifests, error) || !VerifyParts(manifests, output, error) ||
        !CheckParts(manifests, anyRenderer, error) || !FindTrack(manifests.front(), audio, track, error))
      return Fail(kExitUsage, error);
    if (!ConcatenateParts(manifests, track, output, error)) return Fail(kExitFailure, error);
    if (!quiet)
      std::printf("wrote %s (%zu parts, %ld frames%s)\n", Printable(output, 500).c_str(), manifests.size(), manifests.back().end,
                  track.empty() ? "" : ", with its music");
    return kExitSuccess;
  }

 private:
  std::string output;
  std::vector<std::string> parts;
  std::string audio;
  bool anyRenderer = false;
  bool quiet = false;
};

}  // namespace

std::unique_ptr<Command> MakeJoinCommand() { return std::make_unique<JoinCommand>(); }

}  // namespace tool

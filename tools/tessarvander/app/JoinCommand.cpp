// tessarvander join: the parts of a render split with --segment K/N, put
// together into one video without encoding them again, the music muxed in
// once. The parts' manifests are checked first: the same settings, every part
// there once, the frame ranges adjoining.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "music/AudioAnalysis.h"
#include "sys/ChildProcess.h"
#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "output/OutputKind.h"
#include "output/VideoArguments.h"
#include "output/OutputFile.h"
#include "farm/Segments.h"

namespace cli {
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
    for (const std::string& part : parts) {
      SegmentManifest manifest;
      if (!manifest.Read(SegmentManifest::PathFor(part), error)) return Fail(kExitUsage, error);
      manifest.output = part;
      manifests.push_back(manifest);
    }
    if (!Check(manifests, error)) return Fail(kExitUsage, error);
    std::string track;
    if (!FindTrack(manifests.front(), track, error)) return Fail(kExitUsage, error);
    if (!Concatenate(manifests, track, error)) return Fail(kExitFailure, error);
    if (!quiet)
      std::printf("wrote %s (%zu parts, %ld frames%s)\n", output.c_str(), manifests.size(), manifests.back().end,
                  track.empty() ? "" : ", with its music");
    return kExitSuccess;
  }

 private:
  bool Check(std::vector<SegmentManifest>& manifests, std::string& error) const {
    const SegmentManifest& first = manifests.front();
    if (first.settings.value("output", "") == "png") {
      error = "parts of a PNG sequence need no joining: their files are numbered across the whole render";
      return false;
    }
    for (const SegmentManifest& manifest : manifests) {
      if (manifest.settings != first.settings || manifest.segment.count != first.segment.count ||
          manifest.frames != first.frames) {
        error = manifest.output + " is a part of another render than " + first.output +
                " (their settings differ; see their .segment.json)";
        return false;
      }
      if (!anyRenderer && manifest.renderer != first.renderer) {
        error = manifest.output + " was drawn by \"" + manifest.renderer + "\", " + first.output + " by \"" +
                first.renderer + "\"; the picture may differ at the join (--any-renderer joins them anyway)";
        return false;
      }
    }
    std::sort(manifests.begin(), manifests.end(),
              [](const SegmentManifest& a, const SegmentManifest& b) { return a.segment.index < b.segment.index; });
    long expected = 0;
    for (long k = 1; k <= first.segment.count; ++k) {
      const auto part = std::find_if(manifests.begin(), manifests.end(),
                                     [k](const SegmentManifest& m) { return m.segment.index == k; });
      if (part == manifests.end()) {
        error = "part " + std::to_string(k) + " of " + std::to_string(first.segment.count) + " is missing";
        return false;
      }
      if (std::count_if(manifests.begin(), manifests.end(),
                        [k](const SegmentManifest& m) { return m.segment.index == k; }) > 1) {
        error = "part " + std::to_string(k) + " is given twice";
        return false;
      }
      if (part->first != expected) {
        error = part->output + " starts at frame " + std::to_string(part->first) + ", not at " +
                std::to_string(expected) + " where the part before it ends";
        return false;
      }
      expected = part->end;
    }
    if (expected != first.frames) {
      error = "the parts end at frame " + std::to_string(expected) + " of " + std::to_string(first.frames);
      return false;
    }
    return true;
  }

  // The render's music: --audio, or the path the first part was rendered
  // with; either way, the very file the parts reacted to.
  bool FindTrack(const SegmentManifest& manifest, std::string& track, std::string& error) const {
    const nlohmann::ordered_json& music = manifest.settings.at("music");
    if (music.is_null()) return true;
    track = audio.empty() ? manifest.audio : audio;
    if (FileFingerprint(track) != music.value("audioFingerprint", "")) {
      error = "the render's music is not at " + (track.empty() ? std::string("(no path)") : track) +
              " (or is another file); name it with --audio FILE";
      return false;
    }
    return true;
  }

  bool Concatenate(const std::vector<SegmentManifest>& manifests, const std::string& track,
                   std::string& error) const {
    OutputFile joined;
    if (!joined.Open(output, error)) return false;
    // The concat demuxer's list, beside the output, gone when done.
    const std::string listPath = joined.TemporaryPath() + ".list";
    {
      std::ofstream list(listPath);
      for (const SegmentManifest& manifest : manifests) {
        const std::string path = std::filesystem::absolute(manifest.output).string();
        std::string quoted;
        for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        list << "file '" << quoted << "'\n";
      }
    }
    const double fps = manifests.front().settings.value("fps", 60.0);
    std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                          "-f", "concat", "-safe", "0", "-i", listPath};
    if (!track.empty()) {
      const std::vector<std::string> audioArguments =
          AudioMuxArguments({track, LastLine(ProbeAudioStream(track).out), static_cast<double>(manifests.back().end) / fps}, output);
      arguments.insert(arguments.end(), audioArguments.begin(), audioArguments.end());
    }
    arguments.insert(arguments.end(), {"-c:v", "copy", "-movflags", "+faststart", "-f", ContainerFormatOf(output),
                                       joined.TemporaryPath()});
    const ChildResult result = RunChild(arguments);
    std::remove(listPath.c_str());
    if (!result.started) {
      error = "ffmpeg is not installed, and join needs it: apt-get install ffmpeg";
      return false;
    }
    if (result.exitCode != 0) {
      error = "ffmpeg could not join the parts: " + LastLine(result.err);
      return false;
    }
    return joined.Commit(error);
  }

  std::string output;
  std::vector<std::string> parts;
  std::string audio;
  bool anyRenderer = false;
  bool quiet = false;
};

}  // namespace

std::unique_ptr<Command> MakeJoinCommand() { return std::make_unique<JoinCommand>(); }

}  // namespace cli

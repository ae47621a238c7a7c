#include "farm/Join.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>

#include "sys/MediaProbe.h"
#include "sys/OutputFile.h"
#include "output/VideoArguments.h"
#include "sys/ChildProcess.h"
#include "sys/Digest.h"
#include "sys/Messages.h"

namespace tool {

namespace fs = std::filesystem;

bool ReadParts(const std::vector<std::string>& parts, std::vector<SegmentManifest>& manifests, std::string& error) {
  for (const std::string& part : parts) {
    SegmentManifest manifest;
    if (!manifest.Read(SegmentManifest::PathFor(part), error)) return false;
    manifest.output = part;
    manifests.push_back(manifest);
  }
  return true;
}

bool CheckParts(std::vector<SegmentManifest>& manifests, bool anyRenderer, std::string& error) {
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

bool FindTrack(const SegmentManifest& manifest, const std::string& audio, std::string& track, std::string& error) {
  const nlohmann::ordered_json& music = manifest.settings.at("music");
  if (music.is_null()) return true;
  track = audio.empty() ? manifest.audio : audio;
  std::string sha256, ignored;
  uint64_t bytes = 0;
  if (track.empty() || !FileDigest(track, sha256, bytes, ignored) || sha256 != music.value("audioSha256", "")) {
    error = "the render's music is not at " + (track.empty() ? std::string("(no path)") : track) +
            " (or is another file); name it with --audio FILE";
    return false;
  }
  return true;
}

bool VerifyParts(const std::vector<SegmentManifest>& manifests, const std::string& output, std::string& error) {
  // The output must be none of the inputs, by path or by file.
  std::error_code ignored;
  const fs::path outputPath = fs::weakly_canonical(output, ignored);
  for (const SegmentManifest& manifest : manifests) {
    for (const std::string& input : {manifest.output, SegmentManifest::PathFor(manifest.output)}) {
      if (fs::weakly_canonical(input, ignored) == outputPath || fs::equivalent(input, output, ignored)) {
        error = output + " is " + input + ", an input of the join: name a new file";
        return false;
      }
    }
  }
  for (const SegmentManifest& manifest : manifests) {
    const std::string& part = manifest.output;
    for (char c : part)
      if (static_cast<unsigned char>(c) < 0x20) {
        error = "a part's name holds a control character: " + Printable(part);
        return false;
      }
    std::string sha256;
    uint64_t bytes = 0;
    if (!FileDigest(part, sha256, bytes, error)) return false;
    if (bytes != manifest.bytes || sha256 != manifest.sha256) {
      error = part + " is not the file its manifest describes (" + std::to_string(bytes) + " bytes, not " +
              std::to_string(manifest.bytes) + ", or other bytes): render the part again";
      return false;
    }
    // What the video holds, as ffprobe counts it.
    const ChildResult probe = RunChild({"ffprobe", "-v", "error", "-protocol_whitelist", "file", "-count_packets",
                                        "-select_streams", "v:0", "-show_entries",
                                        "stream=codec_name,width,height,nb_read_packets", "-of", "default=nw=1",
                                        MediaPath(part)});
    if (!probe.started) {
      error = NotInstalled("ffprobe", "join");
      return false;
    }
    const std::string expected = "codec_name=" + manifest.codec + "\nwidth=" + std::to_string(manifest.width) +
                                 "\nheight=" + std::to_string(manifest.height) +
                                 "\nnb_read_packets=" + std::to_string(manifest.end - manifest.first) + "\n";
    if (probe.exitCode != 0 || probe.out != expected) {
      error = part + " does not hold the " + std::to_string(manifest.end - manifest.first) + " frames of " +
              std::to_string(manifest.width) + "x" + std::to_string(manifest.height) + " " + manifest.codec +
              " its manifest names";
      return false;
    }
  }
  return true;
}

bool ConcatenateParts(const std::vector<SegmentManifest>& manifests, const std::string& track,
                    const std::string& output, std::string& error) {
  OutputFile joined;
  if (!joined.Open(output, error)) return false;
  // The concat demuxer's list, beside the output, new and gone when done.
  const std::string listPath = joined.TemporaryPath() + ".list";
  std::string list;
  for (const SegmentManifest& manifest : manifests) {
    std::string quoted;
    for (char c : MediaPath(manifest.output)) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    list += "file '" + quoted + "'\n";
  }
  const int listFile = open(listPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const bool listed = listFile >= 0 && write(listFile, list.data(), list.size()) == static_cast<ssize_t>(list.size());
  if (listFile >= 0) close(listFile);
  if (!listed) {
    if (listFile >= 0) std::remove(listPath.c_str());
    error = "cannot write the list of parts beside " + output;
    return false;
  }
  const double fps = manifests.front().settings.value("fps", 60.0);
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                        "-protocol_whitelist", "file,pipe", "-f", "concat", "-safe", "0",
                                        "-i", MediaPath(listPath)};
  if (!track.empty()) {
    const std::vector<std::string> audioArguments =
        AudioMuxArguments({track, LastLine(ProbeAudioStream(track).out), static_cast<double>(manifests.back().end) / fps}, output);
    arguments.insert(arguments.end(), audioArguments.begin(), audioArguments.end());
  }
  arguments.insert(arguments.end(), {"-c:v", "copy", "-movflags", "+faststart", "-f", ContainerFormatOf(output),
                                     MediaPath(joined.TemporaryPath())});
  const ChildResult result = RunChild(arguments);
  std::remove(listPath.c_str());
  if (!result.started) {
    error = NotInstalled("ffmpeg", "join");
    return false;
  }
  if (result.exitCode != 0) {
    error = "ffmpeg could not join the parts: " + LastLine(result.err);
    return false;
  }
  return joined.Commit(error);
}

}  // namespace tool

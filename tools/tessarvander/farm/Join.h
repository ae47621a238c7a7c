// Joining the parts of a render split with --segment K/N: their manifests
// checked against each other, then the videos concatenated as they are
// (ffmpeg's concat demuxer) with the render's music muxed in once.
#pragma once

#include <string>
#include <vector>

#include "farm/Segments.h"

namespace tool {

// Reads each part's manifest. False with one line.
bool ReadParts(const std::vector<std::string>& parts, std::vector<SegmentManifest>& manifests, std::string& error);

// The same settings, every part from 1 to N once, each part's frames starting
// where the one before ended, and (unless `anyRenderer`) the same renderer.
// Sorts the parts by number.
bool CheckParts(std::vector<SegmentManifest>& manifests, bool anyRenderer, std::string& error);

// The render's music: `audio`, or the path the first part was rendered with;
// either way, the very file the parts reacted to. Empty when it had none.
bool FindTrack(const SegmentManifest& manifest, const std::string& audio, std::string& track, std::string& error);

// The parts themselves against their manifests: the bytes (size and
// SHA-256), then the codec, size and frame count ffprobe finds; and the
// output none of the inputs.
bool VerifyParts(const std::vector<SegmentManifest>& manifests, const std::string& output, std::string& error);

// Writes the joined video to `output`, which appears only when complete.
bool ConcatenateParts(const std::vector<SegmentManifest>& manifests, const std::string& track,
                      const std::string& output, std::string& error);

}  // namespace tool

// A render split into parts for several machines: --segment K/N renders the
// K-th of N equal parts of the frame range, starting from the state the whole
// render has at that frame, and writes a manifest beside its output that
// `tessarvander join` checks before it puts the parts together.
//
// OUTPUT.segment.json:
//   {"segment": 2, "of": 3, "first": 100, "end": 200, "frames": 300,
//    "output": "part2.mp4", "renderer": "llvmpipe (LLVM 15.0.6, 256 bits)", "audio": "track.wav",
//    "firstFrame": "9c0f…", "lastFrame": "51d2…", "bytes": 48213, "sha256": "e3b0…",
//    "width": 640, "height": 360, "codec": "h264", "settings": {...}}
//
// "settings" holds everything that decides the picture and the video (the
// plugin, size, frame rate, parameters, take, audio, encoder), so that parts
// of different renders cannot be joined.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "output/FrameSink.h"
#include "formats/FrameLimits.h"
#include "sys/Fingerprint.h"

namespace tool {

struct SegmentSpec {
  long index = 0;  // from 1
  long count = 0;
};

// The part a scheduler gave this task, for --segment auto: a Slurm job
// array's SLURM_ARRAY_TASK_ID within SLURM_ARRAY_TASK_MIN and _MAX (or
// _COUNT), or a Kubernetes Indexed Job's JOB_COMPLETION_INDEX (from 0) with
// TESSARVANDER_PARTS. `lookup` reads a variable (null when unset). False
// with one line when none is set or the index falls outside the parts.
bool SegmentFromScheduler(const char* (*lookup)(const char*), SegmentSpec& segment, std::string& error);

// The most parts a render may be split into.
constexpr long kMaxSegments = 100000;
// The largest manifest read.
constexpr size_t kMaxManifestBytes = 1 << 20;

// "K/N" with 1 <= K <= N <= kMaxSegments. False with one line naming what is
// wrong.
bool ParseSegment(const std::string& text, SegmentSpec& segment, std::string& error);
// The frames [first, end) of the segment in a render of `frames` frames.
void SegmentRange(const SegmentSpec& segment, long frames, long& first, long& end);

struct SegmentManifest {
  SegmentSpec segment;
  long first = 0;
  long end = 0;
  long frames = 0;
  std::string output;  // the segment's output file name, beside the manifest
  std::string renderer;
  std::string audio;  // the music's path on the machine that rendered the part
  std::string firstFrame;
  std::string lastFrame;
  // The part as it was written: its bytes sealed by SHA-256, and what its
  // video holds.
  uint64_t bytes = 0;
  std::string sha256;
  long width = 0;
  long height = 0;
  std::string codec;
  nlohmann::ordered_json settings;

  static std::string PathFor(const std::string& output) { return output + ".segment.json"; }
  bool Write(const std::string& path, std::string& error) const;
  bool Read(const std::string& path, std::string& error);
  // The same from a manifest's text; `where` starts every message.
  bool Parse(const std::string& text, const std::string& where, std::string& error);
};

// Passes frames on to another sink and fingerprints the first and the last.
class FingerprintingSink : public FrameSink {
 public:
  FingerprintingSink(FrameSink& sink, int width, int height) : sink(sink), bytes(size_t(width) * height * 4) {}
  bool Write(const uint8_t* rgba, long frameIndex, std::string& error) override;
  bool Finish(std::string& error) override { return sink.Finish(error); }
  std::string Describe() const override { return sink.Describe(); }
  const std::string& First() const { return first; }
  const std::string& Last() const { return last; }

 private:
  FrameSink& sink;
  size_t bytes;
  std::string first;
  std::string last;
};

}  // namespace tool

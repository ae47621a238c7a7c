#include "farm/Segments.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "formats/JsonReader.h"
#include "sys/OutputFile.h"
#include "sys/BoundedFile.h"
#include "sys/Fingerprint.h"

namespace tool {

bool ParseSegment(const std::string& text, SegmentSpec& segment, std::string& error) {
  const size_t slash = text.find('/');
  const auto whole = [](const std::string& digits, long& value) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
      return false;
    value = std::stol(digits);
    return true;
  };
  if (slash == std::string::npos || !whole(text.substr(0, slash), segment.index) ||
      !whole(text.substr(slash + 1), segment.count)) {
    error = "--segment: \"" + text + "\" is not of the form K/N, as 2/4 for the second of four parts";
    return false;
  }
  if (segment.count < 1 || segment.index < 1 || segment.index > segment.count) {
    error = "--segment: " + text + " names no part: K counts from 1 to N";
    return false;
  }
  if (segment.count > kMaxSegments) {
    error = "--segment: at most " + std::to_string(kMaxSegments) + " parts";
    return false;
  }
  return true;
}

bool SegmentFromScheduler(const char* (*lookup)(const char*), SegmentSpec& segment, std::string& error) {
  // A whole number from a variable, or false with the variable named.
  const auto number = [&](const char* name, long& value) {
    const char* text = lookup(name);
    const std::string digits = text ? text : "";
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
      error = std::string("--segment auto: ") + name + (text ? " is not a whole number" : " is not set");
      return false;
    }
    value = std::stol(digits);
    return true;
  };
  long index = 0, first = 0, last = 0, count = 0;
  if (lookup("SLURM_ARRAY_TASK_ID")) {
    if (!number("SLURM_ARRAY_TASK_ID", index) || !number("SLURM_ARRAY_TASK_MIN", first)) return false;
    if (lookup("SLURM_ARRAY_TASK_MAX")) {
      if (!number("SLURM_ARRAY_TASK_MAX", last)) return false;
      count = last - first + 1;
    } else if (!number("SLURM_ARRAY_TASK_COUNT", count)) {
      return false;
    }
    segment.index = index - first + 1;
    segment.count = count;
  } else if (lookup("JOB_COMPLETION_INDEX")) {
    if (!number("JOB_COMPLETION_INDEX", index) || !number("TESSARVANDER_PARTS", count)) return false;
    segment.index = index + 1;
    segment.count = count;
  } else {
    error = "--segment auto: no scheduler gave this task a part (SLURM_ARRAY_TASK_ID, or JOB_COMPLETION_INDEX with "
            "TESSARVANDER_PARTS)";
    return false;
  }
  if (segment.count < 1 || segment.count > kMaxSegments || segment.index < 1 || segment.index > segment.count) {
    error = "--segment auto: task " + std::to_string(index) + " names no part of " + std::to_string(segment.count);
    return false;
  }
  return true;
}

void SegmentRange(const SegmentSpec& segment, long frames, long& first, long& end) {
  first = frames * (segment.index - 1) / segment.count;
  end = frames * segment.index / segment.count;
}

bool SegmentManifest::Write(const std::string& path, std::string& error) const {
  nlohmann::ordered_json document;
  document["segment"] = segment.index;
  document["of"] = segment.count;
  document["first"] = first;
  document["end"] = end;
  document["frames"] = frames;
  document["output"] = output;
  document["renderer"] = renderer;
  document["audio"] = audio;
  document["firstFrame"] = firstFrame;
  document["lastFrame"] = lastFrame;
  document["bytes"] = bytes;
  document["sha256"] = sha256;
  document["width"] = width;
  document["height"] = height;
  document["codec"] = codec;
  document["settings"] = settings;
  return WriteWholeFile(path, document.dump(2) + "\n", error);
}

bool SegmentManifest::Read(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadBoundedFile(path, kMaxManifestBytes, "manifest", text, error)) {
    if (error.find("No such file") != std::string::npos)
      error = "no segment manifest at " + path + " (render the part with --segment K/N)";
    return false;
  }
  return Parse(text, "manifest " + path, error);
}

bool SegmentManifest::Parse(const std::string& text, const std::string& where, std::string& error) {
  nlohmann::json document;
  if (!ParseJson(text, where, document, error)) return false;
  long bytesRead = 0;
  const bool read =
      document.is_object() && JsonWhole(document, "of", 1, kMaxSegments, where, segment.count, error) &&
      JsonWhole(document, "segment", 1, segment.count, where, segment.index, error) &&
      JsonWhole(document, "frames", 1, kMaxFrames, where, frames, error) &&
      JsonWhole(document, "first", 0, frames - 1, where, first, error) &&
      JsonWhole(document, "end", first + 1, frames, where, end, error) &&
      JsonText(document, "output", where, output, error) && JsonText(document, "renderer", where, renderer, error) &&
      JsonText(document, "firstFrame", where, firstFrame, error) &&
      JsonText(document, "lastFrame", where, lastFrame, error) &&
      JsonWhole(document, "bytes", 0, 1L << 50, where, bytesRead, error) &&
      JsonText(document, "sha256", where, sha256, error) &&
      JsonWhole(document, "width", 0, 1L << 30, where, width, error) &&
      JsonWhole(document, "height", 0, 1L << 30, where, height, error) &&
      JsonText(document, "codec", where, codec, error);
  if (!read) {
    if (!document.is_object()) error = where + ": not a segment manifest";
    return false;
  }
  bytes = static_cast<uint64_t>(bytesRead);
  audio.clear();
  if (document.contains("audio") && !JsonText(document, "audio", where, audio, error)) return false;
  if (!document.contains("settings") || !document["settings"].is_object()) {
    error = where + ": key \"settings\" must be an object";
    return false;
  }
  settings = nlohmann::ordered_json::parse(document["settings"].dump());
  return true;
}

bool FingerprintingSink::Write(const uint8_t* rgba, long frameIndex, std::string& error) {
  last = Fingerprint(rgba, bytes);
  if (first.empty()) first = last;
  return sink.Write(rgba, frameIndex, error);
}

}  // namespace tool

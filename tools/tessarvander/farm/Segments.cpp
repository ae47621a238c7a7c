#include "farm/Segments.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "output/OutputFile.h"
#include "sys/Fingerprint.h"

namespace cli {

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
  document["settings"] = settings;
  return WriteWholeFile(path, document.dump(2) + "\n", error);
}

bool SegmentManifest::Read(const std::string& path, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "no segment manifest at " + path + " (render the part with --segment K/N)";
    return false;
  }
  try {
    const nlohmann::ordered_json document = nlohmann::ordered_json::parse(file);
    segment.index = document.at("segment").get<long>();
    segment.count = document.at("of").get<long>();
    first = document.at("first").get<long>();
    end = document.at("end").get<long>();
    frames = document.at("frames").get<long>();
    output = document.at("output").get<std::string>();
    renderer = document.at("renderer").get<std::string>();
    audio = document.value("audio", "");
    firstFrame = document.at("firstFrame").get<std::string>();
    lastFrame = document.at("lastFrame").get<std::string>();
    settings = document.at("settings");
  } catch (const nlohmann::json::exception& problem) {
    error = path + " is not a segment manifest: " + problem.what();
    return false;
  }
  return true;
}

bool FingerprintingSink::Write(const uint8_t* rgba, long frameIndex, std::string& error) {
  last = Fingerprint(rgba, bytes);
  if (first.empty()) first = last;
  return sink.Write(rgba, frameIndex, error);
}

}  // namespace cli

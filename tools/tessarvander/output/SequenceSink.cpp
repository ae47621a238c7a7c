#include "output/SequenceSink.h"

#include "output/OutputKind.h"

namespace tool {

bool PngSequenceSink::Start(const std::string& namePattern, int w, int h, long first, const PngOptions& pngOptions,
                            std::string& error) {
  pattern = namePattern;
  width = w;
  height = h;
  firstNumber = first;
  options = pngOptions;
  std::string name;
  if (!SequenceName(pattern, first, name)) {
    error = pattern + ": the pattern needs exactly one frame number field such as %05d";
    return false;
  }
  // Fail now, not after the first frame, when the folder is not writable.
  OutputFile probe;
  return probe.Open(name, error);
}

bool PngSequenceSink::Write(const uint8_t* rgba, long frameIndex, std::string& error) {
  std::string name;
  SequenceName(pattern, firstNumber + frameIndex, name);
  OutputFile frame;
  if (!frame.Open(name, error) || !WritePng(frame.TemporaryPath(), rgba, width, height, options, error)) return false;
  files.push_back(std::move(frame));
  return true;
}

bool PngSequenceSink::Finish(std::string& error) { return CommitAll(files, error); }

std::string PngSequenceSink::Describe() const {
  return std::to_string(files.size()) + " frames " + pattern + " (" + std::to_string(width) + "x" +
         std::to_string(height) + ")";
}

}  // namespace tool

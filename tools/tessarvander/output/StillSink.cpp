#include "output/StillSink.h"

namespace tool {

bool PngStillSink::Start(const std::string& path, int w, int h, const PngOptions& pngOptions, std::string& error,
                         OutputFile::Existing existing) {
  width = w;
  height = h;
  options = pngOptions;
  return file.Open(path, error, existing);
}

bool PngStillSink::Write(const uint8_t* rgba, long, std::string& error) {
  written = WritePng(file.TemporaryPath(), rgba, width, height, options, error);
  return written;
}

bool PngStillSink::Finish(std::string& error) {
  if (!written) {
    error = "no frame reached " + file.FinalPath();
    return false;
  }
  return file.Commit(error);
}

std::string PngStillSink::Describe() const {
  return file.FinalPath() + " (" + std::to_string(width) + "x" + std::to_string(height) + ")";
}

}  // namespace tool

// One PNG still.
#pragma once

#include "output/FrameSink.h"
#include "sys/OutputFile.h"
#include "output/PngWriter.h"

namespace tool {

class PngStillSink : public FrameSink {
 public:
  bool Start(const std::string& path, int width, int height, const PngOptions& options, std::string& error,
             OutputFile::Existing existing = OutputFile::Existing::Replace);
  bool Write(const uint8_t* rgba, long frameIndex, std::string& error) override;
  bool Finish(std::string& error) override;
  std::string Describe() const override;

 private:
  OutputFile file;
  int width = 0;
  int height = 0;
  PngOptions options;
  bool written = false;
};

}  // namespace tool

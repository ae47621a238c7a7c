// A numbered PNG sequence, one file per frame.
#pragma once

#include <vector>

#include "output/FrameSink.h"
#include "sys/OutputFile.h"
#include "output/PngWriter.h"

namespace tool {

class PngSequenceSink : public FrameSink {
 public:
  // `pattern` holds one %d, %0Nd or %Nd for the frame number, counted from
  // `firstNumber`.
  bool Start(const std::string& pattern, int width, int height, long firstNumber, const PngOptions& options,
             std::string& error);
  bool Write(const uint8_t* rgba, long frameIndex, std::string& error) override;
  bool Finish(std::string& error) override;
  std::string Describe() const override;

 private:
  std::string pattern;
  int width = 0;
  int height = 0;
  long firstNumber = 0;
  PngOptions options;
  std::vector<OutputFile> files;
};

}  // namespace tool

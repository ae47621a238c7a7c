// The sink an output path asks for, started: a still, a sequence or a video.
#pragma once

#include <memory>
#include <string>

#include "output/FrameSink.h"
#include "output/OutputKind.h"
#include "output/PngWriter.h"
#include "output/VideoArguments.h"

namespace tool {

struct SinkSettings {
  int width = 0;
  int height = 0;
  long firstNumber = 0;  // of a sequence's first file
  double framesPerSecond = 60.0;
  PngOptions png;
  VideoSettings video;
};

// Null with one line when the output cannot be started.
std::unique_ptr<FrameSink> OpenSink(OutputKind kind, const std::string& path, const SinkSettings& settings,
                                    std::string& error);

}  // namespace tool

#include "output/OpenSink.h"

#include "output/SequenceSink.h"
#include "output/StillSink.h"
#include "output/VideoSink.h"

namespace tool {

std::unique_ptr<FrameSink> OpenSink(OutputKind kind, const std::string& path, const SinkSettings& settings,
                                    std::string& error) {
  switch (kind) {
    case OutputKind::Still: {
      auto sink = std::make_unique<PngStillSink>();
      if (!sink->Start(path, settings.width, settings.height, settings.png, error)) return nullptr;
      return sink;
    }
    case OutputKind::Sequence: {
      auto sink = std::make_unique<PngSequenceSink>();
      if (!sink->Start(path, settings.width, settings.height, settings.firstNumber, settings.png, error))
        return nullptr;
      return sink;
    }
    case OutputKind::Video: {
      auto sink = std::make_unique<VideoSink>();
      if (!sink->Start(path, settings.width, settings.height, settings.framesPerSecond, settings.video, error))
        return nullptr;
      return sink;
    }
  }
  return nullptr;
}

}  // namespace tool

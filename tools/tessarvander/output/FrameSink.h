// Where rendered frames go: one PNG still, a numbered PNG sequence, or a
// video made by the ffmpeg program. Every sink writes under temporary names
// and puts its files in place only in Finish; destroying a sink that was not
// finished removes everything it wrote.
//
// Write is called from the read-back pipeline's writer thread, one frame at a
// time, in frame order; Start and Finish from the main thread.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // `rgba` holds width * height pixels, bottom row first (as GL reads them).
  virtual bool Write(const uint8_t* rgba, long frameIndex, std::string& error) = 0;
  virtual bool Finish(std::string& error) = 0;
  // What was written, for the closing message.
  virtual std::string Describe() const = 0;
};

}  // namespace tool

// The output as a PipeWire video source node (play --pipewire NAME), for
// OBS's PipeWire source, recorders and other visual tools on Linux. The
// stream lives on PipeWire's own thread; the frame loop reads the picture
// back and hands it over only while a consumer is linked, so a stream that
// nobody takes costs the show nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/FrameTarget.h"

namespace tool {

class PipeWireOutput {
 public:
  PipeWireOutput();
  ~PipeWireOutput();
  PipeWireOutput(const PipeWireOutput&) = delete;
  PipeWireOutput& operator=(const PipeWireOutput&) = delete;

  // Publishes a node named `name` offering width x height RGBA frames at
  // `framesPerSecond`. False with one line when there is no PipeWire daemon
  // to connect to.
  bool Start(const std::string& name, int width, int height, double framesPerSecond, std::string& error);
  int Width() const { return width; }
  int Height() const { return height; }
  // True while a consumer is linked and takes frames.
  bool Streaming() const;
  // A frame of width x height RGBA pixels, bottom row first (as GL reads
  // them); sent with the next cycle. Never blocks on the consumer.
  void Send(const std::vector<uint8_t>& rgba);
  // The picture, while a consumer takes it and it has the stream's size:
  // read back when `fresh` (drawn since the last call), else sent again as
  // it was read last.
  void SendPicture(const hostkit::FrameTarget& picture, bool fresh);

  struct Stream;  // PipeWire's side, in the source file

 private:
  std::unique_ptr<Stream> stream;
  int width = 0, height = 0;
  std::vector<uint8_t> lastPicture;
};

}  // namespace tool

// Reads rendered frames back from GL and hands them to a FrameSink on a
// writer thread of its own, so that reading back and encoding overlap the
// drawing of the next frames.
//
// With depth N >= 2 it keeps a ring of N pixel-buffer objects: each frame is
// read into the next buffer without waiting, behind a fence; up to N - 1
// frames are in flight, and the oldest is mapped and given to the writer once
// its fence has passed. The writer reads straight from the mapped buffer (no
// copy), and the buffer is unmapped, on the GL thread, when the ring comes
// round to it again.
//
// Depth 0 is the naive pipeline, kept for comparison: a blocking glReadPixels
// into memory, then the sink, on the calling thread.
//
// Submit and Finish are called on the GL thread.
#pragma once

#include <GL/glew.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/FrameTarget.h"
#include "output/FrameSink.h"

namespace tool {

class ReadbackPipeline {
 public:
  ReadbackPipeline(FrameSink& sink, int width, int height, int depth);
  ~ReadbackPipeline();
  ReadbackPipeline(const ReadbackPipeline&) = delete;
  ReadbackPipeline& operator=(const ReadbackPipeline&) = delete;

  // Queues the picture in `target` (of the pipeline's size). When every
  // buffer is still with the writer, waits for it, at most `patience`
  // seconds (0: as long as it takes): a live show waits a moment for an
  // encoder that lags, never for one that is stuck. Failed when the writer
  // has failed (the reason is in Error()), or is stuck.
  enum class Submitted { Queued, Stuck, Failed };
  Submitted Submit(const hostkit::FrameTarget& target, long frameIndex, double patience);
  bool Submit(const hostkit::FrameTarget& target, long frameIndex) {
    return Submit(target, frameIndex, 0.0) == Submitted::Queued;
  }
  // Waits for every queued frame to be written.
  bool Finish();
  const std::string& Error() const { return error; }

 private:
  enum class SlotState { Free, Reading, Writing, Written };
  struct Slot {
    GLuint buffer = 0;
    GLsync fence = nullptr;
    long frameIndex = 0;
    const uint8_t* mapped = nullptr;
    SlotState state = SlotState::Free;
  };

  void WriterLoop();
  bool HandOldestToWriter();
  void Reclaim(Slot& slot);
  bool WriterFailed();

  FrameSink& sink;
  const int width;
  const int height;
  const size_t frameBytes;
  std::vector<Slot> slots;
  std::deque<size_t> reading;  // slots read into, oldest first, not yet handed over
  size_t next = 0;
  std::vector<uint8_t> naiveFrame;

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<size_t> toWrite;  // handed to the writer, in frame order
  bool stopping = false;
  bool failed = false;
  std::string error;
  std::thread writer;
};

}  // namespace tool

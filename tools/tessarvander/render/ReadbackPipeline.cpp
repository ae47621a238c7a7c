#include "render/ReadbackPipeline.h"

#include <chrono>

namespace tool {
namespace {
constexpr GLuint64 kFenceWaitNanoseconds = 1000000000;  // one second, repeated
}

ReadbackPipeline::ReadbackPipeline(FrameSink& sink, int width, int height, int depth)
    : sink(sink), width(width), height(height), frameBytes(static_cast<size_t>(width) * height * 4) {
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (depth < 2) {
    naiveFrame.resize(frameBytes);
    return;
  }
  slots.resize(static_cast<size_t>(depth));
  for (Slot& slot : slots) {
    glGenBuffers(1, &slot.buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer);
    glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(frameBytes), nullptr, GL_STREAM_READ);
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  writer = std::thread([this] { WriterLoop(); });
}

ReadbackPipeline::~ReadbackPipeline() {
  if (writer.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    writer.join();
  }
  for (Slot& slot : slots) {
    if (slot.fence) glDeleteSync(slot.fence);
    if (slot.mapped) Reclaim(slot);
    glDeleteBuffers(1, &slot.buffer);
  }
}

bool ReadbackPipeline::WriterFailed() {
  std::lock_guard<std::mutex> lock(mutex);
  return failed;
}

ReadbackPipeline::Submitted ReadbackPipeline::Submit(const hostkit::FrameTarget& target, long frameIndex,
                                                     double patience) {
  glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
  if (slots.empty()) {
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, naiveFrame.data());
    if (sink.Write(naiveFrame.data(), frameIndex, error)) return Submitted::Queued;
    failed = true;
    return Submitted::Failed;
  }

  Slot& slot = slots[next];
  {
    std::unique_lock<std::mutex> lock(mutex);
    const auto free = [&] { return slot.state != SlotState::Writing; };
    if (patience <= 0.0) changed.wait(lock, free);
    else if (!changed.wait_for(lock, std::chrono::duration<double>(patience), free)) return Submitted::Stuck;
  }
  if (slot.state == SlotState::Written) Reclaim(slot);
  if (WriterFailed()) return Submitted::Failed;

  glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  slot.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  slot.frameIndex = frameIndex;
  slot.state = SlotState::Reading;
  reading.push_back(next);
  next = (next + 1) % slots.size();

  // Keep all but one slot reading; the oldest goes to the writer.
  while (reading.size() > slots.size() - 1)
    if (!HandOldestToWriter()) return Submitted::Failed;
  return Submitted::Queued;
}

bool ReadbackPipeline::HandOldestToWriter() {
  const size_t index = reading.front();
  reading.pop_front();
  Slot& slot = slots[index];
  while (glClientWaitSync(slot.fence, GL_SYNC_FLUSH_COMMANDS_BIT, kFenceWaitNanoseconds) == GL_TIMEOUT_EXPIRED) {
  }
  glDeleteSync(slot.fence);
  slot.fence = nullptr;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer);
  slot.mapped = static_cast<const uint8_t*>(
      glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(frameBytes), GL_MAP_READ_BIT));
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  std::lock_guard<std::mutex> lock(mutex);
  if (!slot.mapped) {
    failed = true;
    error = "GL: cannot map a read-back buffer";
    slot.state = SlotState::Free;
    return false;
  }
  slot.state = SlotState::Writing;
  toWrite.push_back(index);
  changed.notify_all();
  return true;
}

void ReadbackPipeline::Reclaim(Slot& slot) {
  glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer);
  glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  slot.mapped = nullptr;
  slot.state = SlotState::Free;
}

void ReadbackPipeline::WriterLoop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (true) {
    changed.wait(lock, [&] { return stopping || !toWrite.empty(); });
    if (toWrite.empty()) return;
    Slot& slot = slots[toWrite.front()];
    toWrite.pop_front();
    const bool skip = failed;
    lock.unlock();
    std::string writeError;
    const bool written = skip || sink.Write(slot.mapped, slot.frameIndex, writeError);
    lock.lock();
    if (!written) {
      failed = true;
      error = writeError;
    }
    slot.state = SlotState::Written;
    changed.notify_all();
  }
}

bool ReadbackPipeline::Finish() {
  if (slots.empty()) return !failed;
  while (!reading.empty())
    if (!HandOldestToWriter()) break;
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] {
      for (const Slot& slot : slots)
        if (slot.state == SlotState::Writing) return false;
      return true;
    });
  }
  for (Slot& slot : slots)
    if (slot.state == SlotState::Written) Reclaim(slot);
  return !WriterFailed();
}

}  // namespace tool

// The sound of a live session (`play --audio-in` with a take), recorded
// beside the take as the session runs: a WAV file of 32-bit float samples,
// mono, at the capture's rate, whose first sample goes with the take's
// first frame. It is written as the take is (RecordingFile: never replaced,
// PATH.recording until the session ends, or unnamed for the session's own
// takes): whole blocks, each with one checked write, by a writer thread of
// its own. The header's sizes are brought up to date about once a second,
// so a file cut short by a crash reads to its last second with any reader,
// and to its last block with one told to ignore the header's length (as
// render --take does).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/RecordingFile.h"

namespace tool {

class WorkerThread;

// Where a take's sound is: "set.take.wav" beside "set.take", and beside a
// take cut short ("set.take.recording"), "set.take.wav.recording".
std::string TakeSoundPath(const std::string& takePath);

class SoundJournal {
 public:
  static constexpr size_t kBlockSamples = 4096;
  // What may wait for the disk: about a minute of sound at 48 kHz.
  static constexpr size_t kMaxWaitingBytes = 12u << 20;

  SoundJournal();
  ~SoundJournal();
  SoundJournal(const SoundJournal&) = delete;
  SoundJournal& operator=(const SoundJournal&) = delete;

  // At PATH (PATH.recording while it runs), or unnamed in `folder`. False
  // with one line.
  bool Open(const std::string& path, const std::string& folder, int sampleRate, std::string& error);
  bool Recording() const { return file != nullptr; }
  int SampleRate() const { return rate; }
  // The next samples of the sound; whole blocks go to the writer.
  void Append(const float* samples, size_t count);
  // Samples appended so far.
  size_t Samples() const { return appended; }
  // Samples [first, end) as a new file at `path`, by the writer after what
  // is handed before; how it went comes with the news.
  void WriteTake(const std::string& path, size_t first, size_t end);
  // Writes what is left and puts a named file in place, waiting for the
  // disk up to `patience`; false with one line.
  bool Close(std::string& error, double patience = 10.0);
  bool Settle(double patience);
  std::string Failure() const;
  std::vector<RecordingFile::News> TakeNews();

 private:
  struct File;
  void Hand(std::vector<float> block);

  int rate = 48000;
  std::shared_ptr<File> file;  // shared with the writer's jobs
  std::unique_ptr<WorkerThread> writer;
  std::vector<float> block;
  size_t appended = 0;
};

}  // namespace tool

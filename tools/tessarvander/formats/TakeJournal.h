// A live session's take, written as the session runs (Takes.h has the
// format): every change with the frame it took effect at, appended as the
// frame ends. The lines are built on the caller's thread (the frame loop)
// and written by a writer thread of the journal's own, so the show never
// waits for the disk. Whole lines are written with one checked call: a
// crash, a kill or a full disk leaves whole lines and the "upto" of the
// last frames written, never half a line. The first write that fails, or a
// writer that falls behind its bound (a frozen or stalled disk), stops the
// journal at its last whole line; the take then holds the frames up to the
// last "upto" the disk took, and the player says so once. The show goes on.
//
// With a path, the journal is PATH.recording, new (anything at PATH or
// PATH.recording, a dangling link included, is refused: a take is never
// replaced), and is put in place as PATH when the session ends, through the
// descriptor the journal holds: a recording moved or removed during the
// show still becomes the take. Without a path, it is an unnamed file in the
// out folder that only the session's own takes (T) read: the session's
// history lives on disk, never in memory, however long the show.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "formats/RecordingFile.h"
#include "formats/Takes.h"

namespace tool {

class WorkerThread;

class TakeJournal {
 public:
  // Frames between two "upto" lines: at 60 a second, a crash loses at most
  // half a second.
  static constexpr long kUptoEvery = 30;
  // What may wait for the disk: minutes of a busy show's lines.
  static constexpr size_t kMaxWaitingBytes = 16u << 20;

  TakeJournal();
  ~TakeJournal();
  TakeJournal(const TakeJournal&) = delete;
  TakeJournal& operator=(const TakeJournal&) = delete;

  bool Open(const std::string& path, const std::string& folder, double framesPerSecond,
            const std::vector<ParameterValue>& start, const ParameterNames& names, std::string& error);
  bool Recording() const { return file != nullptr; }
  bool Named() const { return !path.empty(); }
  void Set(long frame, uint32_t index, float value);
  void SetSecond(long frame, uint32_t index, float value);
  void Pause(long frame, bool paused);
  void Level(long frame, float level);
  void Mix(long frame, float mix, Blend blend);
  void Renew(long frame, long dissolveFrames);
  // Frames before `frames` are done: their changes go to the writer.
  void FrameDone(long frames);
  // The take of frames [first, end) of the session, copied from what is
  // written as a new file at `take`, by the writer after everything before
  // it; how it went comes back with the news.
  void WriteTake(const std::string& take, long first, long end);
  // The session's frames end at `frames`; a named take is put in place.
  // Waits for the disk up to `patience`; false with one line saying where
  // the take is and what it holds when it cannot finish.
  bool Close(long frames, std::string& error, double patience = 10.0);
  // Waits until the writer has written everything handed to it, up to
  // `patience` seconds.
  bool Settle(double patience);

  const std::string& Path() const { return path; }
  // The first write that failed ("the disk is full"), or empty.
  std::string Failure() const;
  // The frames the file holds for sure: up to its last "upto" written.
  long RecordedUpTo() const;
  // What the writer has to say since the last call, a line each: takes
  // saved or refused, each gigabyte the recording passes.
  using News = RecordingFile::News;
  std::vector<News> TakeNews();

 private:
  struct File;
  void Hand(std::string text, long upto);

  std::string path;
  const ParameterNames* names = nullptr;
  double framesPerSecond = 60.0;
  std::vector<ParameterValue> start;
  std::shared_ptr<File> file;  // shared with the writer's jobs
  std::unique_ptr<WorkerThread> writer;
  std::map<long, TakeChange> pending;
  long lastUpto = 0;
};

}  // namespace tool

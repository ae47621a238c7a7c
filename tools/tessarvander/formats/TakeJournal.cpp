#include "formats/TakeJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "formats/RecordingFile.h"
#include "sys/Messages.h"
#include "sys/OutputFile.h"
#include "sys/WorkerThread.h"

namespace tool {

// What the journal and its writer share: the recording, its header, the
// frames it holds for sure, and whether the writer fell behind.
struct TakeJournal::File {
  RecordingFile recording{"take", "--take"};
  std::string header;
  std::atomic<long> recordedUpTo{0};   // frames
  std::atomic<bool> behind{false};     // the writer fell behind: nothing more is handed to it

  // The take of frames [first, end) as a new file: `takeHeader` (the
  // session's with the take's first frame), every line written since, its
  // end.
  bool CopyTake(const std::string& take, const std::string& takeHeader, long end, std::string& error) const {
    return recording.CopyInto(take, takeHeader, static_cast<long>(header.size()), recording.Written(),
                              "{\"frames\":" + std::to_string(end) + "}\n", error);
  }
};

TakeJournal::TakeJournal() = default;
TakeJournal::~TakeJournal() = default;

bool TakeJournal::Open(const std::string& takePath, const std::string& folder, double fps,
                       const std::vector<ParameterValue>& startValues, const ParameterNames& takeNames,
                       std::string& error) {
  path = takePath;
  names = &takeNames;
  framesPerSecond = fps;
  start = startValues;
  auto opened = std::make_shared<File>();
  if (!opened->recording.Open(path, folder, error)) return false;
  opened->header = TakeHeaderLine(framesPerSecond, 0, start, takeNames);
  if (!opened->recording.Append(opened->header)) {
    // A recording that could not start is not left to block the name.
    if (Named()) unlink(opened->recording.RecordingPath().c_str());
    error = "--take: " + opened->recording.Failure();
    return false;
  }
  file = std::move(opened);
  writer = std::make_unique<WorkerThread>(4096, kMaxWaitingBytes);
  return true;
}

void TakeJournal::Set(long frame, uint32_t index, float value) {
  if (file) PutValue(pending[frame].values, index, value);
}

void TakeJournal::SetSecond(long frame, uint32_t index, float value) {
  if (file) PutValue(pending[frame].secondDeck, index, value);
}

void TakeJournal::Mix(long frame, float mix, Blend blend) {
  if (!file) return;
  pending[frame].mix = mix;
  pending[frame].blend = static_cast<int>(blend);
}

void TakeJournal::Pause(long frame, bool paused) {
  if (file) pending[frame].pause = paused ? 1 : 0;
}

void TakeJournal::Renew(long frame, long dissolveFrames) {
  if (file) pending[frame].renew = dissolveFrames;
}

void TakeJournal::Level(long frame, float level) {
  if (file) pending[frame].level = level;
}

// The lines to the writer; one it cannot take stops the journal there, at
// the last whole line it has.
void TakeJournal::Hand(std::string text, long upto) {
  if (file->behind) return;
  const size_t bytes = text.size();
  const bool handed = writer->Offer(
      [file = file, text = std::move(text), upto] {
        if (file->recording.Append(text) && upto > 0) file->recordedUpTo = upto;
      },
      bytes);
  if (!handed) file->behind = true;
}

void TakeJournal::FrameDone(long frames) {
  if (!file || file->behind) return;
  std::string lines;
  while (!pending.empty() && pending.begin()->first < frames) {
    lines += TakeChangeLine(pending.begin()->first, pending.begin()->second, *names);
    pending.erase(pending.begin());
  }
  const bool upto = frames - lastUpto >= kUptoEvery;
  if (upto) lines += "{\"upto\":" + std::to_string(frames) + "}\n", lastUpto = frames;
  if (!lines.empty()) Hand(std::move(lines), upto ? frames : 0);
}

void TakeJournal::WriteTake(const std::string& take, long first, long end) {
  if (!file) return;
  if (!Failure().empty()) return file->recording.Say(true, "take: the session's history could not be written (" + Failure() + ")");
  if (end <= first) return file->recording.Say(true, "take: the take holds no frame yet");
  FrameDone(end);
  const std::string header = TakeHeaderLine(framesPerSecond, first, start, *names);
  const bool handed = writer->Offer(
      [file = file, take, header, first, end] {
        std::string error;
        if (file->recording.Failed()) return;
        if (!file->CopyTake(take, header, end, error)) return file->recording.Say(true, "take: " + error);
        file->recording.Say(false, "saved take " + Printable(take, 300) + " (frames " + std::to_string(first) + " to " +
                             std::to_string(end) + "); render it with: tessarvander render --take " +
                             Printable(take, 300) + " -o take.mp4");
      },
      take.size() + header.size());
  if (!handed) file->recording.Say(true, "take: the disk is behind; " + Printable(take, 300) + " was not written");
}

bool TakeJournal::Settle(double patience) {
  return !writer || writer->Idle(std::chrono::milliseconds(static_cast<long>(patience * 1000.0)));
}

bool TakeJournal::Close(long frames, std::string& error, double patience) {
  if (!file) return true;
  // A change asked for as the show ended never reached a frame: the take
  // holds what was shown.
  pending.erase(pending.lower_bound(frames), pending.end());
  FrameDone(frames);
  auto closed = std::make_shared<std::string>();
  const bool named = Named();
  const bool handed = !file->behind && writer->Offer(
      [file = file, frames, named, closed] {
        if (!file->recording.Append("{\"frames\":" + std::to_string(frames) + "}\n") || !file->recording.Sync()) {
          *closed = "";
          return;
        }
        file->recordedUpTo = frames;
        if (named && !file->recording.Place(file->header, static_cast<long>(file->header.size()), *closed) &&
            closed->empty())
          *closed = "the take could not be put in place";
        else if (named && closed->empty()) *closed = "placed";
      },
      64);
  const bool settled = Settle(patience);
  if (!named) return true;
  const std::string holds = "; the take is in " + Printable(file->recording.RecordingPath(), 300) + " and holds frames up to " +
                            std::to_string(RecordedUpTo());
  if (!settled) {
    error = "take: the disk has not taken the take's last lines within " + std::to_string(static_cast<int>(patience)) +
            " s" + holds;
    return false;
  }
  if (!handed || !Failure().empty()) {
    error = "take: " + (Failure().empty() ? std::string("the disk did not keep up with the show") : Failure()) + holds;
    return false;
  }
  if (*closed != "placed") {
    error = closed->rfind("take: ", 0) == 0 ? *closed : "take: " + *closed + holds;
    return false;
  }
  return true;
}

std::string TakeJournal::Failure() const {
  if (!file) return "";
  const std::string failure = file->recording.Failure();
  if (!failure.empty()) return failure;
  return file->behind ? "the disk did not keep up with the show" : "";
}

long TakeJournal::RecordedUpTo() const { return file ? file->recordedUpTo.load() : 0; }

std::vector<TakeJournal::News> TakeJournal::TakeNews() {
  return file ? file->recording.TakeNews() : std::vector<News>();
}

}  // namespace tool

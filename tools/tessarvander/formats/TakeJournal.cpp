#include "formats/TakeJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "sys/Messages.h"
#include "sys/OutputFile.h"
#include "sys/WorkerThread.h"

namespace tool {

// What the journal and its writer share: the recording's descriptor, what
// was written, what failed, and what the writer has to say.
struct TakeJournal::File {
  int fd = -1;
  std::string path, recordingPath;
  size_t headerBytes = 0;
  std::atomic<long> written{0};        // bytes
  std::atomic<long> recordedUpTo{0};   // frames
  std::atomic<bool> behind{false};     // the writer fell behind: nothing more is handed to it
  mutable std::mutex mutex;
  std::string failure;                 // the first write that failed
  std::vector<News> news;

  ~File() {
    if (fd >= 0) close(fd);
  }
  void Say(bool problem, std::string line) {
    std::lock_guard<std::mutex> hold(mutex);
    news.push_back({problem, std::move(line)});
  }
  bool Failed() const {
    std::lock_guard<std::mutex> hold(mutex);
    return !failure.empty();
  }

  // One checked write of whole lines; on the first failure the journal
  // stops writing.
  bool Append(const std::string& text) {
    if (Failed()) return false;
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t put = write(fd, text.data() + done, text.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        std::lock_guard<std::mutex> hold(mutex);
        failure = errno == ENOSPC ? std::string("the disk is full") : std::string(std::strerror(put < 0 ? errno : EIO));
        return false;
      }
      done += static_cast<size_t>(put);
    }
    const long before = written.fetch_add(static_cast<long>(text.size()));
    const long gigabyte = 1L << 30;
    if ((before + static_cast<long>(text.size())) / gigabyte > before / gigabyte)
      Say(false, "take: " + std::to_string((before + static_cast<long>(text.size())) / gigabyte) +
                     " GB written (frames up to " + std::to_string(recordedUpTo.load()) + ")");
    return true;
  }

  // The take of frames [first, end) as a new file: the session's header
  // with the take's first frame, every line written since, its end.
  bool CopyTake(const std::string& take, const std::string& header, long end, std::string& error) const {
    OutputFile out;
    if (!out.Open(take, error, OutputFile::Existing::Keep)) return false;
    const int to = open(out.TemporaryPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (to < 0) return error = "cannot write " + Printable(take, 300) + ": " + std::strerror(errno), false;
    std::string text = header;
    bool ok = true;
    std::vector<char> buffer(1 << 20);
    for (long at = static_cast<long>(headerBytes), until = written.load(); ok && at < until;) {
      const ssize_t got = pread(fd, buffer.data(), std::min<long>(static_cast<long>(buffer.size()), until - at), at);
      if (got <= 0) {
        ok = false;
        break;
      }
      text.append(buffer.data(), static_cast<size_t>(got));
      at += got;
      if (text.size() >= buffer.size()) {
        ok = ::write(to, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        text.clear();
      }
    }
    if (end >= 0) text += "{\"frames\":" + std::to_string(end) + "}\n";
    ok = ok && ::write(to, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int writeErrno = errno;
    ok = close(to) == 0 && ok;
    if (!ok) return error = "cannot write " + Printable(take, 300) + ": " + std::strerror(writeErrno), false;
    return out.Commit(error);
  }

  // The recording becomes the take at `path`: linked there when its name
  // is still the file this journal holds, else copied from the descriptor.
  bool Place(std::string& error) {
    struct stat ours {}, named {};
    const bool same = fstat(fd, &ours) == 0 && lstat(recordingPath.c_str(), &named) == 0 &&
                      ours.st_ino == named.st_ino && ours.st_dev == named.st_dev;
    if (same) {
      // Never over a file that appeared meanwhile.
      if (link(recordingPath.c_str(), path.c_str()) != 0) {
        error = "take: cannot put " + Printable(path, 300) + " in place (" + std::strerror(errno) + "); the take is in " +
                Printable(recordingPath, 300);
        return false;
      }
      unlink(recordingPath.c_str());
      return true;
    }
    std::string header(headerBytes, '\0');
    if (pread(fd, header.data(), headerBytes, 0) != static_cast<ssize_t>(headerBytes) || !CopyTake(path, header, -1, error)) {
      error = "take: " + Printable(recordingPath, 300) + " was moved or removed during the show, and the take could not "
              "be written from the journal: " + error;
      return false;
    }
    Say(false, "take: " + Printable(recordingPath, 300) +
                   " was moved or removed during the show; the take was written from the journal the player held");
    return true;
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
  opened->path = path;
  if (Named()) {
    opened->recordingPath = path + ".recording";
    // Anything at the path, a link to nowhere included.
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
      error = "--take: " + Printable(path, 300) + " is there already, and a take is never replaced: give another name";
      return false;
    }
    // New, or refused: a file left there is a crashed session's take.
    opened->fd = open(opened->recordingPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (opened->fd < 0) {
      error = "--take: cannot record " + Printable(opened->recordingPath, 300) + ": " + std::strerror(errno) +
              (errno == EEXIST ? " (a take of a session that ended early: render it with --take, or remove it)" : "");
      return false;
    }
  } else {
    const std::string where = folder.empty() ? "." : folder;
    opened->fd = open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (opened->fd < 0) {
      error = "cannot keep the session's history in " + Printable(where, 300) + ": " + std::strerror(errno);
      return false;
    }
  }
  const std::string header = TakeHeaderLine(framesPerSecond, 0, start, takeNames);
  opened->headerBytes = header.size();
  if (!opened->Append(header)) {
    // A recording that could not start is not left to block the name.
    if (Named()) unlink(opened->recordingPath.c_str());
    error = "--take: " + opened->failure;
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
        if (file->Append(text) && upto > 0) file->recordedUpTo = upto;
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
  if (!Failure().empty()) return file->Say(true, "take: the session's history could not be written (" + Failure() + ")");
  if (end <= first) return file->Say(true, "take: the take holds no frame yet");
  FrameDone(end);
  const std::string header = TakeHeaderLine(framesPerSecond, first, start, *names);
  const bool handed = writer->Offer(
      [file = file, take, header, first, end] {
        std::string error;
        if (file->Failed()) return;
        if (!file->CopyTake(take, header, end, error)) return file->Say(true, "take: " + error);
        file->Say(false, "saved take " + Printable(take, 300) + " (frames " + std::to_string(first) + " to " +
                             std::to_string(end) + "); render it with: tessarvander render --take " +
                             Printable(take, 300) + " -o take.mp4");
      },
      take.size() + header.size());
  if (!handed) file->Say(true, "take: the disk is behind; " + Printable(take, 300) + " was not written");
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
        if (!file->Append("{\"frames\":" + std::to_string(frames) + "}\n") || fsync(file->fd) != 0) {
          *closed = file->Failed() ? "" : std::strerror(errno);
          return;
        }
        file->recordedUpTo = frames;
        if (named && !file->Place(*closed) && closed->empty()) *closed = "the take could not be put in place";
        else if (named && closed->empty()) *closed = "placed";
      },
      64);
  const bool settled = Settle(patience);
  if (!named) return true;
  const std::string holds = "; the take is in " + Printable(file->recordingPath, 300) + " and holds frames up to " +
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
  std::lock_guard<std::mutex> hold(file->mutex);
  if (!file->failure.empty()) return file->failure;
  return file->behind ? "the disk did not keep up with the show" : "";
}

long TakeJournal::RecordedUpTo() const { return file ? file->recordedUpTo.load() : 0; }

std::vector<TakeJournal::News> TakeJournal::TakeNews() {
  std::vector<News> taken;
  if (!file) return taken;
  std::lock_guard<std::mutex> hold(file->mutex);
  taken.swap(file->news);
  return taken;
}

}  // namespace tool

#include "formats/RecordingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sys/Messages.h"
#include "sys/OutputFile.h"

namespace tool {

RecordingFile::~RecordingFile() {
  if (fd >= 0) close(fd);
}

bool RecordingFile::Open(const std::string& wanted, const std::string& folder, std::string& error) {
  path = wanted;
  if (Named()) {
    recordingPath = path + ".recording";
    // Anything at the path, a link to nowhere included.
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
      error = option + ": " + Printable(path, 300) + " is there already, and a " + what +
              " is never replaced: give another name";
      return false;
    }
    // New, or refused: a file left there is a crashed session's.
    fd = open(recordingPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      error = option + ": cannot record " + Printable(recordingPath, 300) + ": " + std::strerror(errno) +
              (errno == EEXIST ? " (the " + what + " of a session that ended early: render it, or remove it)" : "");
      return false;
    }
    return true;
  }
  const std::string where = folder.empty() ? "." : folder;
  fd = open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot keep the session's " + what + " in " + Printable(where, 300) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RecordingFile::Fail(const std::string& why) {
  std::lock_guard<std::mutex> hold(mutex);
  if (failure.empty()) failure = why;
}

bool RecordingFile::Append(const char* bytes, size_t size) {
  if (Failed()) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t put = write(fd, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      Fail(errno == ENOSPC ? std::string("the disk is full") : std::string(std::strerror(put < 0 ? errno : EIO)));
      return false;
    }
    done += static_cast<size_t>(put);
  }
  const long before = written.fetch_add(static_cast<long>(size));
  constexpr long kGigabyte = 1L << 30;
  const long after = before + static_cast<long>(size);
  if (after / kGigabyte > before / kGigabyte) Say(false, what + ": " + std::to_string(after / kGigabyte) + " GB written");
  return true;
}

bool RecordingFile::Overwrite(long at, const char* bytes, size_t size) {
  if (Failed()) return false;
  if (pwrite(fd, bytes, size, at) != static_cast<ssize_t>(size)) {
    Fail(std::strerror(errno));
    return false;
  }
  return true;
}

bool RecordingFile::Sync() {
  if (fsync(fd) == 0) return true;
  Fail(std::strerror(errno));
  return false;
}

bool RecordingFile::CopyInto(const std::string& target, const std::string& prefix, long from, long until,
                             const std::string& suffix, std::string& error) const {
  OutputFile out;
  if (!out.Open(target, error, OutputFile::Existing::Keep)) return false;
  const int to = open(out.TemporaryPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (to < 0) return error = "cannot write " + Printable(target, 300) + ": " + std::strerror(errno), false;
  std::string text = prefix;
  bool ok = true;
  std::vector<char> buffer(1 << 20);
  for (long at = from; ok && at < until;) {
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
  text += suffix;
  ok = ok && ::write(to, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int writeErrno = errno;
  ok = close(to) == 0 && ok;
  if (!ok) return error = "cannot write " + Printable(target, 300) + ": " + std::strerror(writeErrno), false;
  return out.Commit(error);
}

bool RecordingFile::Place(const std::string& prefix, long from, std::string& error) {
  struct stat ours {}, named {};
  const bool same = fstat(fd, &ours) == 0 && lstat(recordingPath.c_str(), &named) == 0 &&
                    ours.st_ino == named.st_ino && ours.st_dev == named.st_dev;
  if (same) {
    // Never over a file that appeared meanwhile.
    if (link(recordingPath.c_str(), path.c_str()) != 0) {
      error = what + ": cannot put " + Printable(path, 300) + " in place (" + std::strerror(errno) + "); the " + what + " is in " +
              Printable(recordingPath, 300);
      return false;
    }
    unlink(recordingPath.c_str());
    return true;
  }
  if (!CopyInto(path, prefix, from, written.load(), "", error)) {
    error = what + ": " + Printable(recordingPath, 300) + " was moved or removed during the show, and could not be " +
            "written from what the player held: " + error;
    return false;
  }
  Say(false, what + ": " + Printable(recordingPath, 300) +
                 " was moved or removed during the show; it was written from what the player held");
  return true;
}

void RecordingFile::Say(bool problem, std::string line) {
  std::lock_guard<std::mutex> hold(mutex);
  news.push_back({problem, std::move(line)});
}

std::vector<RecordingFile::News> RecordingFile::TakeNews() {
  std::vector<News> taken;
  std::lock_guard<std::mutex> hold(mutex);
  taken.swap(news);
  return taken;
}

bool RecordingFile::Failed() const {
  std::lock_guard<std::mutex> hold(mutex);
  return !failure.empty();
}

std::string RecordingFile::Failure() const {
  std::lock_guard<std::mutex> hold(mutex);
  return failure;
}

}  // namespace tool

// A file a live session records as it runs (the take's journal, the take's
// sound), written by a writer thread and never replaced: PATH.recording,
// new, while the session runs (a file left there by a session that ended
// early is refused), put in place as PATH when it ends through the
// descriptor it holds, so a recording moved or removed during the show
// still becomes the file; or, without a path, an unnamed file in the out
// folder that only the session's own takes read. Every write is checked
// and whole; the first that fails stops the recording there, and what went
// wrong and what the writer has to say come back as news for the performer.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tool {

class RecordingFile {
 public:
  struct News {
    bool problem = false;
    std::string line;
  };

  // `what` names the file in what is said ("take", "the take's sound");
  // `option` the command-line option an error names ("--take").
  RecordingFile(std::string what, std::string option) : what(std::move(what)), option(std::move(option)) {}
  ~RecordingFile();
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;

  // At PATH.recording, or unnamed in `folder` when `path` is empty. False
  // with one line.
  bool Open(const std::string& path, const std::string& folder, std::string& error);
  bool Named() const { return !path.empty(); }
  const std::string& Path() const { return path; }
  const std::string& RecordingPath() const { return recordingPath; }

  // On the writer: one checked write of whole records at the end; false
  // from the first failure on. Each gigabyte passed is said.
  bool Append(const char* bytes, size_t size);
  bool Append(const std::string& bytes) { return Append(bytes.data(), bytes.size()); }
  // Bytes written over earlier ones (a header's sizes), checked.
  bool Overwrite(long at, const char* bytes, size_t size);
  bool Sync();
  long Written() const { return written.load(); }

  // A new file at `target` (never over one): `prefix`, the recording's
  // bytes [from, until), `suffix`. False with one line.
  bool CopyInto(const std::string& target, const std::string& prefix, long from, long until,
                const std::string& suffix, std::string& error) const;
  // The recording becomes PATH: linked there when its name is still this
  // file, else written from the descriptor (`prefix` and the bytes from
  // `from` on). False with one line saying where the recording is.
  bool Place(const std::string& prefix, long from, std::string& error);

  void Say(bool problem, std::string line);
  std::vector<News> TakeNews();
  bool Failed() const;
  std::string Failure() const;
  void Fail(const std::string& why);

 private:
  const std::string what, option;
  std::string path, recordingPath;
  int fd = -1;
  std::atomic<long> written{0};
  mutable std::mutex mutex;
  std::string failure;
  std::vector<News> news;
};

}  // namespace tool

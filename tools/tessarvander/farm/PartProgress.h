// How far a part of a farmed render has come, as the part tells `farm
// status`: a small JSON file beside its log (flight.farm/part-2.status),
// replaced whole about once a second (written under a temporary name and
// renamed), so a reader on any node sees the last whole state.
#pragma once

#include <chrono>
#include <string>

namespace tool {

struct PartProgress {
  std::string state = "running";  // "running", "done" or "failed"
  long done = 0, total = 0;       // frames
  double perSecond = 0.0;
  std::string node;               // where it runs
  std::string requeuedFrom;       // the node a run of it before this one was on
  double updated = 0.0;           // Unix seconds

  bool Write(const std::string& path, std::string& error) const;
  // False (with one line) when the file is not there or not a part's progress.
  bool Read(const std::string& path, std::string& error);
  // The same from a file's text; `path` names it in the messages.
  bool Parse(const std::string& text, const std::string& path, std::string& error);
};

// The writer a part's render keeps: it says where it runs, and whether an
// earlier run of the same part ended unfinished on another node (Slurm
// requeued it), then its frames at most once a second, and how it ended.
class PartProgressFile {
 public:
  // False with one line when the file cannot be written.
  bool Begin(const std::string& path, long total, std::string& error);
  void Update(long done);
  void End(bool succeeded);

 private:
  void Write();

  std::string path;
  PartProgress progress;
  std::chrono::steady_clock::time_point started, written;
  bool active = false;
};

}  // namespace tool

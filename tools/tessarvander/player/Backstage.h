// What the show writes to disk, off the frame loop: stills, the bank of
// looks, the MIDI map. Each job runs on a writer thread of its own and its
// outcome comes back as a line, said at the next pass of the loop; a disk
// that does not keep up (frozen, full, a hung share) refuses new jobs and
// says so, and the show goes on.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "player/Console.h"

namespace tool {

class WorkerThread;

class Backstage {
 public:
  // A job's outcome, a line for the performer.
  struct Outcome {
    bool problem = false;
    std::string line;
  };

  Backstage();
  ~Backstage();
  Backstage(const Backstage&) = delete;
  Backstage& operator=(const Backstage&) = delete;

  // Runs `job` off the frame loop; `bytes` is what it holds (a still's
  // pixels). When the writer is too far behind, the job is dropped and
  // `what` is said to be lost.
  void Write(std::function<Outcome()> job, size_t bytes, const std::string& what);
  // Says every outcome since the last call.
  void Say(Console& console);
  // Waits until every job handed over has run, up to `seconds`.
  bool Settle(double seconds);

 private:
  struct Outcomes {
    std::mutex mutex;
    std::vector<Outcome> waiting;
  };
  std::shared_ptr<Outcomes> outcomes;  // shared with the jobs
  std::unique_ptr<WorkerThread> writer;
};

}  // namespace tool

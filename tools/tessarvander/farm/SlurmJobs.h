// A render spread over a Slurm cluster: one job array with a task per part
// (each runs `render --segment auto`), and a join job that runs only when
// every part succeeded (afterok). The files it writes are in FarmRecord.h.
//
// sbatch is run as a program (no shell), within a deadline; the scripts it
// runs quote every argument, so no text from the command line is ever read
// as shell code; its answer is checked as a job id before it is recorded.
#pragma once

#include <string>
#include <vector>

#include "farm/FarmRecord.h"

namespace tool {

struct SlurmRequest {
  long parts = 0;
  std::vector<long> only;            // resubmit these parts alone (and the join)
  std::string partition;             // sbatch --partition, when given
  std::string time;                  // sbatch --time, when given
  std::vector<std::string> render;   // render's options, -o OUTPUT among them
  std::string tool;                  // this program, by absolute path
  std::string folder;                // where the jobs start (the current folder)
};

class SlurmJobs {
 public:
  // Checks the request: N parts from 1 to kMaxSegments, one -o naming a
  // video, no --segment of its own, parts to resubmit within N. False with
  // one line.
  bool Plan(const SlurmRequest& request, std::string& error);
  const FarmFiles& Files() const { return files; }

  std::string PartsScript() const;
  std::string JoinScript() const;
  // sbatch's arguments for the array (the script's path last) and the join.
  std::vector<std::string> PartsSubmission(const std::string& script) const;
  std::vector<std::string> JoinSubmission(const std::string& script, const std::string& partsJob) const;

  // Writes the scripts, submits both and records the jobs. False with one
  // line (sbatch missing, refusing or not answering, a file that cannot be
  // written); a join refused after the parts were accepted cancels them, or
  // names them when they cannot be.
  bool Submit(std::string& partsJob, std::string& joinJob, std::string& error);

 private:
  SlurmRequest request;
  FarmFiles files;
  std::vector<std::string> renderArguments;  // without -o
  std::string arrayText;                      // "1-3", or "2" for a resubmission
  std::string marker;                         // its file name, new for each submission
};

// Cancels the parts still queued or running and the join, by the job ids
// of the record; says what it cancelled in `said`. False with one line.
bool CancelFarm(const std::string& output, std::string& said, std::string& error);

}  // namespace tool

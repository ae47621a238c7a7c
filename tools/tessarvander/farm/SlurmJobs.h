// A render spread over a Slurm cluster: one job array with a task per part
// (each runs `render --segment auto`), and a join job that runs only when
// every part succeeded (afterok). Parts, logs and the scripts go beside the
// output, on storage the nodes share:
//
//   flight.mp4                 the joined video, when all is done
//   flight.part-2.mp4          part 2, and its flight.part-2.mp4.segment.json
//   flight.farm/parts.sh       the array's script; join.sh the join's
//   flight.farm/part-2.log     what part 2 printed; join.log the join's
//   flight.farm/part-2.status  how far part 2 has come (PartProgress.h)
//   flight.farm/jobs.json      the job of each part and of the join, for
//                              `farm status` and `farm cancel`
//   .tessarvander-farm-HEX     a marker every part looks for first: a node
//                              that does not see the output's folder fails
//                              at once, and says so; the join removes it
//
// sbatch is run as a program (no shell); the scripts it runs quote every
// argument, so no text from the command line is ever read as shell code.
#pragma once

#include <map>
#include <string>
#include <vector>

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

// The names of a farmed render's files, from its output.
struct FarmFiles {
  explicit FarmFiles(const std::string& output = "");
  std::string output;  // as given
  std::string work;    // OUTPUT's stem + ".farm"
  std::string Part(long part) const;
  std::string PartLog(long part) const { return work + "/part-" + std::to_string(part) + ".log"; }
  std::string PartStatus(long part) const { return work + "/part-" + std::to_string(part) + ".status"; }
  // The marker of that name, in the output's folder.
  std::string Marker(const std::string& name) const;
  std::string JoinLog() const { return work + "/join.log"; }
  std::string Record() const { return work + "/jobs.json"; }
};

// What was submitted, as jobs.json holds it.
struct FarmRecord {
  long parts = 0;
  std::map<long, std::string> partJobs;  // part -> "1234_2"
  std::string joinJob;
  std::string marker;  // the marker's file name
  bool Read(const std::string& path, std::string& error);
  bool Write(const std::string& path, std::string& error) const;
};

// The text between single quotes that sh reads back as exactly `text`.
std::string ShellQuoted(const std::string& text);
// A command line as it would be typed: every argument that is not a plain
// word quoted as above, so pasting it runs exactly these arguments.
std::string ShellCommand(const std::vector<std::string>& arguments);

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
  // line (sbatch missing or refusing, a file that cannot be written).
  bool Submit(std::string& partsJob, std::string& joinJob, std::string& error);

 private:
  SlurmRequest request;
  FarmFiles files;
  std::vector<std::string> renderArguments;  // without -o
  std::string arrayText;                      // "1-3", or "2" for a resubmission
  std::string marker;                         // its file name, new for each submission
};

// Each part's state and the join's, from the manifests, the parts' progress
// and squeue: "done", "waiting", "running", "failed (see LOG)" or the line a
// part left, or "unknown" when squeue cannot say (its message in `unknown`).
// Each part's line says its frames, rate and node as far as they are known.
struct FarmState {
  std::vector<std::pair<long, std::string>> parts;
  std::string join;
  std::string unknown;
  enum class Outcome { Done, Failed, Going, Unknown } outcome = Outcome::Going;
  long framesDone = 0, framesTotal = 0;  // of the parts that told
  double perSecond = 0.0;                // of the parts running now
  // "45 % of 900 frames, 28.4 a second, about 1 min 10 s left", or "".
  std::string Whole() const;
};
bool ReadFarmState(const std::string& output, FarmState& state, std::string& error);

// Cancels the parts still queued or running and the join, by the job ids
// of the record; says what it cancelled in `said`. False with one line.
bool CancelFarm(const std::string& output, std::string& said, std::string& error);

}  // namespace tool

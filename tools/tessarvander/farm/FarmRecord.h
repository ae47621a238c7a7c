// A farmed render's files and the record of its jobs. Parts, logs and the
// scripts go beside the output, on storage the nodes share:
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
// Job ids go to squeue and scancel: the record's are checked as such before
// any is used, and so is sbatch's answer before it is recorded.
#pragma once

#include <map>
#include <string>

namespace tool {

// The names of a farmed render's files, from its output.
struct FarmFiles {
  explicit FarmFiles(const std::string& output = "");
  std::string output;  // as given
  std::string work;    // OUTPUT's stem + ".farm"
  std::string Part(long part) const;
  // A part's name around its number: "dir/flight.part-" and ".mp4".
  std::string PartNamePrefix() const;
  std::string PartNameSuffix() const;
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
  // The same from a file's text; `path` names it in the messages.
  bool Parse(const std::string& text, const std::string& path, std::string& error);
  bool Write(const std::string& path, std::string& error) const;
};

// A Slurm job id: digits, and a task after "_" ("1234", "1234_2").
bool IsJobId(const std::string& job);
// The job id in sbatch --parsable's answer ("1234" or "1234;cluster"), or
// empty when the answer is no such thing.
std::string SubmittedJobId(const std::string& answer);

// A new marker's name, random; empty when no random bytes can be had.
std::string NewMarkerName();

}  // namespace tool

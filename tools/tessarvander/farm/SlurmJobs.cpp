#include "farm/SlurmJobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "farm/Segments.h"
#include "output/OutputKind.h"
#include "sys/ChildProcess.h"
#include "sys/Messages.h"
#include "sys/OutputFile.h"
#include "sys/ShellQuote.h"

namespace tool {
namespace {

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Why a scheduler's command did not give an answer to believe, in one line.
std::string SchedulerFailure(const ChildResult& result) {
  if (result.timedOut) return "no answer within " + std::to_string(static_cast<int>(kSchedulerLimits.seconds)) + " s";
  if (result.interrupted) return "interrupted";
  if (result.truncated) return "an answer longer than any it gives";
  const std::string said = LastLine(result.err).empty() ? LastLine(result.out) : LastLine(result.err);
  if (result.exitCode == 0) return "it answered \"" + Printable(said, 120) + "\", which is no job id";
  return Printable(said, 300);
}

}  // namespace

bool SlurmJobs::Plan(const SlurmRequest& given, std::string& error) {
  request = given;
  if (request.parts < 1 || request.parts > kMaxSegments) {
    error = "farm slurm: --parts takes 1 to " + std::to_string(kMaxSegments);
    return false;
  }
  std::string output;
  renderArguments.clear();
  for (size_t i = 0; i < request.render.size(); ++i) {
    const std::string& argument = request.render[i];
    if (argument == "--segment" || argument.rfind("--segment=", 0) == 0) {
      error = "farm slurm: the parts are its to choose; give render no --segment";
      return false;
    }
    if (argument == "-o" || argument == "--output") {
      if (i + 1 == request.render.size() || !output.empty()) {
        error = "farm slurm: give render one -o OUTPUT";
        return false;
      }
      output = request.render[++i];
      continue;
    }
    renderArguments.push_back(argument);
  }
  if (request.render.empty() || request.render.front() != "render") {
    error = "farm slurm: after --, the render to spread: -- render -o OUTPUT [options]";
    return false;
  }
  renderArguments.erase(renderArguments.begin());
  OutputKind kind;
  if (output.empty() || !OutputKindOf(output, kind, error) || kind != OutputKind::Video) {
    error = "farm slurm: render's -o must name a video (.mp4, .mov or .mkv) to join the parts into";
    return false;
  }
  files = FarmFiles(output);
  marker = NewMarkerName();
  if (marker.empty()) {
    error = "farm slurm: no random name for the marker";
    return false;
  }
  arrayText = "1-" + std::to_string(request.parts);
  if (!request.only.empty()) {
    arrayText.clear();
    for (long part : request.only) {
      if (part < 1 || part > request.parts) {
        error = "farm slurm: --only " + std::to_string(part) + " names no part of " + std::to_string(request.parts);
        return false;
      }
      arrayText += (arrayText.empty() ? "" : ",") + std::to_string(part);
    }
  }
  return true;
}

std::string SlurmJobs::PartsScript() const {
  // The whole array reads its part from Slurm; a resubmission of some parts
  // names the part, since its array no longer spans them all.
  const std::string part =
      ShellQuoted(files.PartNamePrefix()) + "\"$SLURM_ARRAY_TASK_ID\"" + ShellQuoted(files.PartNameSuffix());
  const std::string work = ShellQuoted(files.work + "/part-") + "\"$SLURM_ARRAY_TASK_ID\"";
  std::string script =
      "#!/bin/sh\n"
      "# A part of a render spread by 'tessarvander farm slurm' (names stay out of comments: a newline in one\n"
      "# would end the comment). A node that does not see the output's folder says so, in Slurm's record\n"
      "# of the job as well, since it cannot write the log there.\n"
      "if [ ! -e " + ShellQuoted(files.Marker(marker)) + " ]; then\n"
      "  line=\"$(hostname)\"" + ShellQuoted(" does not see " + files.output +
                                          "'s folder (it must be on a filesystem every node shares)") + "\n"
      "  echo \"$line\" >&2\n"
      "  scontrol update JobId=\"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\" Comment=\"$line\" >/dev/null 2>&1\n"
      "  exit 1\n"
      "fi\n"
      "exec >>" + work + "'.log' 2>&1\n"
      "exec " + ShellQuoted(request.tool) + " render --segment " +
      (request.only.empty() ? std::string("auto")
                            : "\"$SLURM_ARRAY_TASK_ID\"/" + std::to_string(request.parts)) +
      " --progress-file " + work + "'.status' -o " + part;
  for (const std::string& argument : renderArguments) script += " " + ShellQuoted(argument);
  return script + "\n";
}

std::string SlurmJobs::JoinScript() const {
  std::string script = std::string("#!/bin/sh\n# The join of the parts, once every part has succeeded; then the marker goes.\n") +
                       ShellQuoted(request.tool) + " join " + ShellQuoted(files.output);
  for (long part = 1; part <= request.parts; ++part) script += " " + ShellQuoted(files.Part(part));
  return script + " || exit $?\nrm -f " + ShellQuoted(files.Marker(marker)) + "\n";
}

std::vector<std::string> SlurmJobs::PartsSubmission(const std::string& script) const {
  std::vector<std::string> arguments = {"sbatch", "--parsable", "--job-name=tessarvander-parts",
                                        "--array=" + arrayText, "--output=/dev/null",
                                        "--chdir=" + request.folder};
  if (!request.partition.empty()) arguments.push_back("--partition=" + request.partition);
  if (!request.time.empty()) arguments.push_back("--time=" + request.time);
  arguments.push_back(script);
  return arguments;
}

std::vector<std::string> SlurmJobs::JoinSubmission(const std::string& script, const std::string& partsJob) const {
  std::vector<std::string> arguments = {"sbatch", "--parsable", "--job-name=tessarvander-join",
                                        "--dependency=afterok:" + partsJob, "--output=" + files.JoinLog(),
                                        "--chdir=" + request.folder};
  if (!request.partition.empty()) arguments.push_back("--partition=" + request.partition);
  if (!request.time.empty()) arguments.push_back("--time=" + request.time);
  arguments.push_back(script);
  return arguments;
}

bool SlurmJobs::Submit(std::string& partsJob, std::string& joinJob, std::string& error) {
  if (mkdir(files.work.c_str(), 0755) != 0 && errno != EEXIST) {
    error = "farm slurm: cannot make " + Printable(files.work, 300);
    return false;
  }
  FarmRecord record;
  if (!request.only.empty() && !record.Read(files.Record(), error)) return false;
  // Every part looks for the marker first; the parts submitted again start
  // their progress afresh.
  if (!WriteWholeFile(files.Marker(marker), "every node of a farmed render must see this folder\n", error)) return false;
  if (!record.marker.empty()) unlink(files.Marker(record.marker).c_str());
  for (long part : request.only) unlink(files.PartStatus(part).c_str());
  const std::string partsScript = files.work + "/parts.sh", joinScript = files.work + "/join.sh";
  if (!WriteWholeFile(partsScript, PartsScript(), error) || !WriteWholeFile(joinScript, JoinScript(), error))
    return false;
  const ChildResult parts = RunChild(PartsSubmission(partsScript), "", "", kSchedulerLimits);
  if (!parts.started) return error = NotInstalled("sbatch", "farm slurm"), false;
  partsJob = SubmittedJobId(parts.out);
  if (!parts.Finished() || parts.exitCode != 0 || partsJob.empty())
    return error = "farm slurm: sbatch refused the parts: " + SchedulerFailure(parts), false;
  const ChildResult join = RunChild(JoinSubmission(joinScript, partsJob), "", "", kSchedulerLimits);
  joinJob = SubmittedJobId(join.out);
  if (!join.Finished() || join.exitCode != 0 || joinJob.empty()) {
    // Parts without a join would render for nothing: they go.
    const ChildResult cancelled = RunChild({"scancel", partsJob}, "", "", kSchedulerLimits);
    error = "farm slurm: sbatch refused the join: " + SchedulerFailure(join) +
            (cancelled.Finished() && cancelled.exitCode == 0
                 ? "; the parts (job " + partsJob + ") were cancelled"
                 : "; the parts (job " + partsJob + ") could not be cancelled: scancel " + partsJob);
    return false;
  }
  // A join left waiting on parts that failed would never run: it goes.
  if (!record.joinJob.empty()) RunChild({"scancel", record.joinJob}, "", "", kSchedulerLimits);
  record.parts = request.parts;
  if (request.only.empty())
    for (long part = 1; part <= request.parts; ++part) record.partJobs[part] = partsJob + "_" + std::to_string(part);
  for (long part : request.only) record.partJobs[part] = partsJob + "_" + std::to_string(part);
  record.joinJob = joinJob;
  record.marker = marker;
  return record.Write(files.Record(), error);
}

bool CancelFarm(const std::string& output, std::string& said, std::string& error) {
  const FarmFiles files(output);
  FarmRecord record;
  if (!record.Read(files.Record(), error)) return false;
  // The arrays of the parts not done (a resubmission makes another), then the join.
  std::vector<std::string> arrays;
  for (const auto& [part, job] : record.partJobs) {
    if (IsFile(files.Part(part)) && IsFile(files.Part(part) + ".segment.json")) continue;
    const std::string array = job.substr(0, job.find('_'));
    if (std::find(arrays.begin(), arrays.end(), array) == arrays.end()) arrays.push_back(array);
  }
  std::vector<std::string> command = {"scancel"};
  command.insert(command.end(), arrays.begin(), arrays.end());
  command.push_back(record.joinJob);
  const ChildResult cancelled = RunChild(command, "", "", kSchedulerLimits);
  if (!cancelled.started) return error = NotInstalled("scancel", "farm cancel"), false;
  if (!cancelled.Finished() || cancelled.exitCode != 0)
    return error = "farm cancel: scancel: " + SchedulerFailure(cancelled), false;
  if (!record.marker.empty()) unlink(files.Marker(record.marker).c_str());
  std::string parts;
  for (const std::string& array : arrays) parts += (parts.empty() ? "" : ", ") + array;
  said = (arrays.empty() ? "no part was left to cancel" : "cancelled the parts (job " + parts + ")") +
         " and the join (job " + record.joinJob + ")";
  return true;
}

}  // namespace tool

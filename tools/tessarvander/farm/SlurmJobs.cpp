#include "farm/SlurmJobs.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "formats/JsonReader.h"
#include "farm/Segments.h"
#include "output/OutputFile.h"
#include "output/OutputKind.h"
#include "sys/BoundedFile.h"
#include "sys/ChildProcess.h"
#include "sys/Messages.h"

namespace tool {
namespace {

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A job id as sbatch --parsable prints it: "1234" or "1234;cluster".
std::string JobId(const std::string& printed) {
  std::string id = LastLine(printed);
  return id.substr(0, id.find(';'));
}

// What squeue says of a job still known to it: "RUNNING", "PENDING
// DependencyNeverSatisfied"; empty once it has left the queue.
// What squeue says of a job: "PENDING Dependency", "RUNNING None", or empty
// when it has left the queue. False, with squeue's own words in `why`, when
// squeue cannot say (no controller answers, squeue missing).
bool QueueState(const std::string& job, std::string& state, std::string& why) {
  state.clear();
  if (!why.empty()) return false;  // squeue could not say before: it is not asked again
  if (job.empty()) return true;
  const ChildResult queued = RunChild({"squeue", "-h", "--jobs=" + job, "-o", "%T %r"});
  if (!queued.started || queued.exitCode != 0) {
    // A job that has left the queue long ago is "Invalid job id": gone, not unknown.
    if (queued.err.find("Invalid job id") != std::string::npos) return true;
    why = queued.started ? "squeue: " + LastLine(queued.err) : NotInstalled("squeue", "farm status");
    return false;
  }
  state = LastLine(queued.out);
  return true;
}

// "dir/flight.part-" and ".mp4": a part's name around its number.
void PartNameAround(const std::string& output, std::string& before, std::string& after) {
  const size_t slash = output.rfind('/');
  const size_t dot = output.rfind('.');
  const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  before = (extension ? output.substr(0, dot) : output) + ".part-";
  after = extension ? output.substr(dot) : "";
}

}  // namespace

FarmFiles::FarmFiles(const std::string& given) : output(given) {
  std::string before, after;
  PartNameAround(given, before, after);
  work = before.substr(0, before.size() - std::string(".part-").size()) + ".farm";
}

std::string FarmFiles::Part(long part) const {
  std::string before, after;
  PartNameAround(output, before, after);
  return before + std::to_string(part) + after;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool FarmRecord::Read(const std::string& path, std::string& error) {
  nlohmann::json document;
  std::string format;
  if (!ReadJsonFile(path, 1 << 20, "farm record", document, error)) return false;
  if (!document.is_object() || !JsonText(document, "format", path, format, error) || format != "tessarvander-farm") {
    error = path + ": not a farm record of this program";
    return false;
  }
  if (!JsonWhole(document, "parts", 1, kMaxSegments, path, parts, error) ||
      !JsonText(document, "joinJob", path, joinJob, error))
    return false;
  // Job ids go to squeue and scancel: digits, and a task after _, only.
  const auto isJob = [](const std::string& job) {
    const size_t bar = job.find('_');
    const std::string id = job.substr(0, bar), task = bar == std::string::npos ? "1" : job.substr(bar + 1);
    const auto digits = [](const std::string& text) {
      return !text.empty() && text.size() <= 12 && text.find_first_not_of("0123456789") == std::string::npos;
    };
    return digits(id) && digits(task);
  };
  if (!document.contains("partJobs") || !document["partJobs"].is_object()) {
    error = path + ": key \"partJobs\" must be an object of part numbers and job ids";
    return false;
  }
  partJobs.clear();
  for (const auto& [part, job] : document["partJobs"].items()) {
    const long number = part.size() <= 6 && part.find_first_not_of("0123456789") == std::string::npos && !part.empty()
                            ? std::stol(part)
                            : 0;
    if (number < 1 || number > parts || !job.is_string() || !isJob(job.get<std::string>())) {
      error = path + ": key \"partJobs\" / \"" + Printable(part, 40) + "\" must be a part from 1 to " +
              std::to_string(parts) + " with a Slurm job id";
      return false;
    }
    partJobs[number] = job.get<std::string>();
  }
  if (!isJob(joinJob)) {
    error = path + ": key \"joinJob\" must be a Slurm job id";
    return false;
  }
  return true;
}

bool FarmRecord::Write(const std::string& path, std::string& error) const {
  nlohmann::ordered_json document;
  document["format"] = "tessarvander-farm";
  document["parts"] = parts;
  document["partJobs"] = nlohmann::ordered_json::object();
  for (const auto& [part, job] : partJobs) document["partJobs"][std::to_string(part)] = job;
  document["joinJob"] = joinJob;
  return WriteWholeFile(path, document.dump(2) + "\n", error);
}

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
  std::string before, after;
  PartNameAround(files.output, before, after);
  const std::string part = ShellQuoted(before) + "\"$SLURM_ARRAY_TASK_ID\"" + ShellQuoted(after);
  std::string script =
      "#!/bin/sh\n"
      "# A part of a render spread by 'tessarvander farm slurm' (names stay out of comments: a newline in one\n"
      "# would end the comment).\n"
      "exec " + ShellQuoted(request.tool) + " render --segment " +
      (request.only.empty() ? std::string("auto")
                            : "\"$SLURM_ARRAY_TASK_ID\"/" + std::to_string(request.parts)) +
      " -o " + part;
  for (const std::string& argument : renderArguments) script += " " + ShellQuoted(argument);
  return script + "\n";
}

std::string SlurmJobs::JoinScript() const {
  std::string script = std::string("#!/bin/sh\n# The join of the parts, once every part has succeeded.\n") +
                       "exec " + ShellQuoted(request.tool) + " join " + ShellQuoted(files.output);
  for (long part = 1; part <= request.parts; ++part) script += " " + ShellQuoted(files.Part(part));
  return script + "\n";
}

std::vector<std::string> SlurmJobs::PartsSubmission(const std::string& script) const {
  std::vector<std::string> arguments = {"sbatch", "--parsable", "--job-name=tessarvander-parts",
                                        "--array=" + arrayText, "--output=" + files.work + "/part-%a.log",
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
    error = "farm slurm: cannot make " + files.work;
    return false;
  }
  FarmRecord record;
  std::string ignored;
  if (!request.only.empty() && !record.Read(files.Record(), error)) return false;
  const std::string partsScript = files.work + "/parts.sh", joinScript = files.work + "/join.sh";
  if (!WriteWholeFile(partsScript, PartsScript(), error) || !WriteWholeFile(joinScript, JoinScript(), error))
    return false;
  const ChildResult parts = RunChild(PartsSubmission(partsScript));
  if (!parts.started) return error = NotInstalled("sbatch", "farm slurm"), false;
  if (parts.exitCode != 0) return error = "farm slurm: sbatch refused the parts: " + LastLine(parts.err), false;
  partsJob = JobId(parts.out);
  const ChildResult join = RunChild(JoinSubmission(joinScript, partsJob));
  if (join.exitCode != 0) return error = "farm slurm: sbatch refused the join: " + LastLine(join.err), false;
  joinJob = JobId(join.out);
  // A join left waiting on parts that failed would never run: it goes.
  if (!record.joinJob.empty()) RunChild({"scancel", record.joinJob});
  record.parts = request.parts;
  if (request.only.empty())
    for (long part = 1; part <= request.parts; ++part) record.partJobs[part] = partsJob + "_" + std::to_string(part);
  for (long part : request.only) record.partJobs[part] = partsJob + "_" + std::to_string(part);
  record.joinJob = joinJob;
  return record.Write(files.Record(), error);
}

bool ReadFarmState(const std::string& output, FarmState& state, std::string& error) {
  const FarmFiles files(output);
  FarmRecord record;
  if (!record.Read(files.Record(), error)) return false;
  bool failed = false;
  for (long part = 1; part <= record.parts; ++part) {
    std::string said, queued;
    if (IsFile(files.Part(part)) && IsFile(files.Part(part) + ".segment.json")) said = "done";
    else if (!QueueState(record.partJobs[part], queued, state.unknown)) said = "unknown";
    else if (queued.rfind("PENDING", 0) == 0) said = "waiting";
    else if (!queued.empty()) said = "running";
    else said = "failed (see " + files.PartLog(part) + ")", failed = true;
    state.parts.push_back({part, said});
  }
  std::string queued;
  if (IsFile(output)) state.join = "done";
  else if (failed) state.join = "will not run: a part failed";
  else if (!QueueState(record.joinJob, queued, state.unknown)) state.join = "unknown";
  else if (queued.find("DependencyNeverSatisfied") != std::string::npos) state.join = "will not run: a part failed";
  else if (queued.rfind("PENDING", 0) == 0) state.join = "waiting for the parts";
  else if (!queued.empty()) state.join = "running";
  else state.join = "failed (see " + files.JoinLog() + ")";
  return true;
}

std::string ShellCommand(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    const bool plain = !argument.empty() && argument.find_first_not_of(
                                                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=.,:/@%") ==
                                                std::string::npos;
    line += (line.empty() ? "" : " ") + (plain ? argument : ShellQuoted(argument));
  }
  return line;
}

}  // namespace tool

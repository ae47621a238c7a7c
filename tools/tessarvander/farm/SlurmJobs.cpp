#include "farm/SlurmJobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "formats/JsonReader.h"
#include "farm/PartProgress.h"
#include "farm/Segments.h"
#include "sys/OutputFile.h"
#include "output/OutputKind.h"
#include "sys/BoundedFile.h"
#include "sys/ChildProcess.h"
#include "sys/Digest.h"
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

// What squeue says of a job: its state ("PENDING", "RUNNING", "FAILED"
// while it is still remembered), the reason, its nodes and its comment; all
// empty once it has left the queue. False, with squeue's own words in
// `why`, when squeue cannot say (no controller answers, squeue missing).
struct Queued {
  std::string state, reason, nodes, comment;
};

bool QueueState(const std::string& job, Queued& queued, std::string& why) {
  queued = Queued();
  if (!why.empty()) return false;  // squeue could not say before: it is not asked again
  if (job.empty()) return true;
  const ChildResult asked = RunChild({"squeue", "-h", "--states=all", "--jobs=" + job, "-o", "%T|%r|%N|%k"});
  if (!asked.started || asked.exitCode != 0) {
    // A job that has left the queue long ago is "Invalid job id": gone, not unknown.
    if (asked.err.find("Invalid job id") != std::string::npos) return true;
    why = asked.started ? "squeue: " + LastLine(asked.err) : NotInstalled("squeue", "farm status");
    return false;
  }
  std::string line = LastLine(asked.out);
  std::string* fields[] = {&queued.state, &queued.reason, &queued.nodes};
  for (std::string* field : fields) {
    const size_t bar = line.find('|');
    *field = line.substr(0, bar);
    line = bar == std::string::npos ? "" : line.substr(bar + 1);
  }
  queued.comment = line == "(null)" ? "" : line;
  return true;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "2 min 10 s", "45 s", "1 h 05 min".
std::string Duration(double seconds) {
  const long whole = std::lround(seconds);
  char text[48];
  if (whole >= 3600) std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole % 3600 / 60);
  else if (whole >= 60) std::snprintf(text, sizeof text, "%ld min %ld s", whole / 60, whole % 60);
  else std::snprintf(text, sizeof text, "%ld s", whole);
  return text;
}

constexpr const char* kRecordFormat = "tessarvander-farm";

// A marker's name: the prefix and 32 hexadecimal digits, nothing else.
constexpr const char* kMarkerPrefix = ".tessarvander-farm-";
bool IsMarkerName(const std::string& name) {
  const std::string prefix = kMarkerPrefix;
  return name.size() == prefix.size() + 32 && StartsWith(name, kMarkerPrefix) &&
         name.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
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

std::string FarmFiles::Marker(const std::string& name) const { return FolderOf(output) + "/" + name; }

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
  if (!ReadJsonFile(path, 1 << 20, "farm record", document, error) ||
      !JsonFormat(document, kRecordFormat, 0, "farm record of this program", path, error))
    return false;
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
  marker.clear();
  if (document.contains("marker") && (!JsonText(document, "marker", path, marker, error) || !IsMarkerName(marker))) {
    error = path + ": key \"marker\" must be a marker's name";
    return false;
  }
  return true;
}

bool FarmRecord::Write(const std::string& path, std::string& error) const {
  nlohmann::ordered_json document;
  document["format"] = kRecordFormat;
  document["parts"] = parts;
  document["partJobs"] = nlohmann::ordered_json::object();
  for (const auto& [part, job] : partJobs) document["partJobs"][std::to_string(part)] = job;
  document["joinJob"] = joinJob;
  if (!marker.empty()) document["marker"] = marker;
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
  const std::string random = RandomHex(16);
  if (random.empty()) {
    error = "farm slurm: no random name for the marker";
    return false;
  }
  marker = kMarkerPrefix + random;
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
    error = "farm slurm: cannot make " + files.work;
    return false;
  }
  FarmRecord record;
  std::string ignored;
  if (!request.only.empty() && !record.Read(files.Record(), error)) return false;
  // Every part looks for the marker first; the parts submitted again start
  // their progress afresh.
  if (!WriteWholeFile(files.Marker(marker), "every node of a farmed render must see this folder\n", error)) return false;
  if (!record.marker.empty()) unlink(files.Marker(record.marker).c_str());
  for (long part : request.only) unlink(files.PartStatus(part).c_str());
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
  record.marker = marker;
  return record.Write(files.Record(), error);
}

namespace {

// One part's line, and its share of the whole.
std::string PartLine(const FarmFiles& files, long part, const std::string& job, FarmState& state, bool& failed) {
  PartProgress told;
  std::string ignored;
  const bool progress = told.Read(files.PartStatus(part), ignored);
  const std::string where = progress && !told.node.empty() ? ", on " + Printable(told.node, 64) : "";
  const std::string requeued = progress && !told.requeuedFrom.empty() ? " (requeued from " + Printable(told.requeuedFrom, 64) + ")" : "";
  if (progress) state.framesTotal += told.total;
  Queued queued;
  if (IsFile(files.Part(part)) && IsFile(files.Part(part) + ".segment.json")) {
    state.framesDone += progress ? told.total : 0;
    return "done" + (progress ? ", " + std::to_string(told.total) + " frames" + where + requeued : std::string());
  }
  if (!QueueState(job, queued, state.unknown)) return "unknown";
  if (StartsWith(queued.state, "PENDING") || StartsWith(queued.state, "REQUEUE")) {
    // A part that has run before and waits again was requeued.
    return "waiting" + (progress ? " (requeued from " + Printable(told.node, 64) + ")" : std::string());
  }
  if (StartsWith(queued.state, "RUNNING") || StartsWith(queued.state, "CONFIGURING") ||
      StartsWith(queued.state, "COMPLETING") || StartsWith(queued.state, "SUSPENDED")) {
    if (!progress || told.state != "running")
      return "running" + (queued.nodes.empty() ? std::string() : ", on " + Printable(queued.nodes, 64));
    state.framesDone += told.done;
    state.perSecond += told.perSecond;
    char line[160];
    std::snprintf(line, sizeof line, "running, %ld of %ld frames (%.0f %%), %.1f a second", told.done, told.total,
                  told.total > 0 ? 100.0 * static_cast<double>(told.done) / static_cast<double>(told.total) : 0.0,
                  told.perSecond);
    return line + where + requeued;
  }
  failed = true;
  if (StartsWith(queued.state, "CANCELLED")) return "cancelled";
  if (!queued.comment.empty()) return "failed: " + Printable(queued.comment, 200);
  return "failed (see " + files.PartLog(part) + ")";
}

}  // namespace

std::string FarmState::Whole() const {
  if (framesTotal <= 0) return "";
  char line[160];
  std::snprintf(line, sizeof line, "%.0f %% of %ld frames", 100.0 * static_cast<double>(framesDone) / framesTotal,
                framesTotal);
  std::string whole = line;
  if (perSecond > 0.0 && framesDone < framesTotal) {
    std::snprintf(line, sizeof line, ", %.1f a second, about ", perSecond);
    whole += line + Duration(static_cast<double>(framesTotal - framesDone) / perSecond) + " left";
  }
  return whole;
}

bool ReadFarmState(const std::string& output, FarmState& state, std::string& error) {
  const FarmFiles files(output);
  FarmRecord record;
  if (!record.Read(files.Record(), error)) return false;
  bool failed = false;
  for (long part = 1; part <= record.parts; ++part)
    state.parts.push_back({part, PartLine(files, part, record.partJobs[part], state, failed)});
  Queued queued;
  if (IsFile(output)) state.join = "done";
  else if (failed) state.join = "will not run: a part failed";
  else if (!QueueState(record.joinJob, queued, state.unknown)) state.join = "unknown";
  else if (queued.reason.find("DependencyNeverSatisfied") != std::string::npos) state.join = "will not run: a part failed";
  else if (StartsWith(queued.state, "PENDING")) state.join = "waiting for the parts";
  else if (StartsWith(queued.state, "RUNNING") || StartsWith(queued.state, "COMPLETING")) state.join = "running";
  else if (StartsWith(queued.state, "CANCELLED")) state.join = "cancelled";
  else state.join = "failed (see " + files.JoinLog() + ")";
  using Outcome = FarmState::Outcome;
  if (state.join == "done") state.outcome = Outcome::Done;
  else if (failed || StartsWith(state.join, "will not") || StartsWith(state.join, "failed") || state.join == "cancelled")
    state.outcome = Outcome::Failed;
  else if (!state.unknown.empty()) state.outcome = Outcome::Unknown;
  else state.outcome = Outcome::Going;
  return true;
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
  const ChildResult cancelled = RunChild(command);
  if (!cancelled.started) return error = NotInstalled("scancel", "farm cancel"), false;
  if (cancelled.exitCode != 0) return error = "farm cancel: scancel: " + LastLine(cancelled.err), false;
  if (!record.marker.empty()) unlink(files.Marker(record.marker).c_str());
  std::string parts;
  for (const std::string& array : arrays) parts += (parts.empty() ? "" : ", ") + array;
  said = (arrays.empty() ? "no part was left to cancel" : "cancelled the parts (job " + parts + ")") +
         " and the join (job " + record.joinJob + ")";
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

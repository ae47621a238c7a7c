#include "farm/FarmState.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "farm/FarmRecord.h"
#include "farm/PartProgress.h"
#include "sys/ChildProcess.h"
#include "sys/Messages.h"

namespace tool {
namespace {

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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

// What squeue says of a job: its state ("PENDING", "RUNNING", "FAILED"
// while it is still remembered), the reason, its nodes and its comment. A
// job absent from the answer has left the queue.
struct Queued {
  std::string state, reason, nodes, comment;
};

// Every job of the record as squeue knows it, by id ("1234_2" for a task
// of an array), in one call. False, with why in `why`, when squeue cannot
// say: it is missing, no controller answers, it does not answer in time,
// or it says more than a queue of this record could.
bool AskQueue(const FarmRecord& record, std::map<std::string, Queued>& queue, std::string& why) {
  std::set<std::string> jobs;
  for (const auto& [part, job] : record.partJobs) jobs.insert(job.substr(0, job.find('_')));
  if (!record.joinJob.empty()) jobs.insert(record.joinJob);
  if (jobs.empty()) return true;
  std::string list;
  for (const std::string& job : jobs) list += (list.empty() ? "" : ",") + job;
  const ChildResult asked =
      RunChild({"squeue", "-h", "-r", "--states=all", "--jobs=" + list, "-o", "%i|%T|%r|%N|%k"}, "", "", kSchedulerLimits);
  if (!asked.started) return why = NotInstalled("squeue", "farm status"), false;
  if (asked.interrupted) return why = "squeue: interrupted", false;
  if (asked.timedOut) return why = "squeue did not answer within " + std::to_string(std::lround(kSchedulerLimits.seconds)) + " s", false;
  if (asked.truncated) return why = "squeue said more than a farm's queue can hold", false;
  if (asked.exitCode != 0) {
    // Jobs that left the queue long ago are "Invalid job id": gone, not unknown.
    if (asked.err.find("Invalid job id") != std::string::npos) return true;
    return why = "squeue: " + Printable(LastLine(asked.err), 300), false;
  }
  for (size_t start = 0; start < asked.out.size();) {
    const size_t newline = std::min(asked.out.find('\n', start), asked.out.size());
    std::string line = asked.out.substr(start, newline - start);
    start = newline + 1;
    const size_t bar = line.find('|');
    const std::string id = line.substr(0, bar);
    if (bar == std::string::npos || !IsJobId(id)) continue;
    Queued& queued = queue[id];
    line = line.substr(bar + 1);
    for (std::string* field : {&queued.state, &queued.reason, &queued.nodes}) {
      const size_t next = line.find('|');
      *field = Printable(line.substr(0, next), 200);
      line = next == std::string::npos ? "" : line.substr(next + 1);
    }
    queued.comment = line == "(null)" ? "" : Printable(line, 200);
  }
  return true;
}

const Queued* Find(const std::map<std::string, Queued>& queue, const std::string& job) {
  const auto found = queue.find(job);
  static const Queued gone;
  return found == queue.end() ? &gone : &found->second;
}

bool Pending(const Queued& queued) { return StartsWith(queued.state, "PENDING") || StartsWith(queued.state, "REQUEUE"); }
bool Running(const Queued& queued) {
  return StartsWith(queued.state, "RUNNING") || StartsWith(queued.state, "CONFIGURING") ||
         StartsWith(queued.state, "COMPLETING") || StartsWith(queued.state, "SUSPENDED");
}

// One part's state from its files and the queue (null when the queue
// cannot say); its frames added to the whole.
PartState ReadPart(const FarmFiles& files, long part, const std::string& job, const std::map<std::string, Queued>* queue,
                   FarmState& state) {
  PartState read;
  read.part = part;
  read.log = files.PartLog(part);
  PartProgress told;
  std::string ignored;
  read.told = told.Read(files.PartStatus(part), ignored);
  if (read.told) {
    read.done = told.done, read.total = told.total, read.perSecond = told.perSecond;
    read.node = told.node, read.requeuedFrom = told.requeuedFrom;
    state.framesTotal += told.total;
  }
  if (IsFile(files.Part(part)) && IsFile(files.Part(part) + ".segment.json")) {
    read.status = PartStatus::Done;
    read.done = read.total;
    state.framesDone += read.total;
    return read;
  }
  if (!queue) return read;  // unknown
  const Queued& queued = *Find(*queue, job);
  if (Pending(queued)) {
    read.status = PartStatus::Waiting;
  } else if (Running(queued)) {
    read.status = PartStatus::Running;
    if (!read.told || told.state != "running") {
      read.told = false;
      read.node = queued.nodes;
    } else {
      state.framesDone += told.done;
      state.perSecond += told.perSecond;
    }
  } else {
    read.status = StartsWith(queued.state, "CANCELLED") ? PartStatus::Cancelled : PartStatus::Failed;
    read.failure = queued.comment;
  }
  return read;
}

}  // namespace

std::string PartState::Text() const {
  const std::string where = !node.empty() ? ", on " + node : "";
  const std::string requeued = !requeuedFrom.empty() ? " (requeued from " + requeuedFrom + ")" : "";
  switch (status) {
    case PartStatus::Done:
      return "done" + (told ? ", " + std::to_string(total) + " frames" + where + requeued : std::string());
    case PartStatus::Waiting:
      // A part that has run before and waits again was requeued.
      return "waiting" + (told ? " (requeued from " + node + ")" : std::string());
    case PartStatus::Running: {
      if (!told) return "running" + where;
      char line[160];
      std::snprintf(line, sizeof line, "running, %ld of %ld frames (%.0f %%), %.1f a second", done, total,
                    total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0.0, perSecond);
      return line + where + requeued;
    }
    case PartStatus::Cancelled: return "cancelled";
    case PartStatus::Failed: return failure.empty() ? "failed (see " + Printable(log, 300) + ")" : "failed: " + failure;
    case PartStatus::Unknown: return "unknown";
  }
  return "unknown";
}

FarmState::Outcome FarmState::Result() const {
  if (join == JoinStatus::Done) return Outcome::Done;
  for (const PartState& part : parts)
    if (part.status == PartStatus::Failed || part.status == PartStatus::Cancelled) return Outcome::Failed;
  if (join == JoinStatus::WillNotRun || join == JoinStatus::Failed || join == JoinStatus::Cancelled)
    return Outcome::Failed;
  return unknown.empty() ? Outcome::Going : Outcome::Unknown;
}

std::string FarmState::JoinText() const {
  switch (join) {
    case JoinStatus::Done: return "done";
    case JoinStatus::WillNotRun: return "will not run: a part failed";
    case JoinStatus::Waiting: return "waiting for the parts";
    case JoinStatus::Running: return "running";
    case JoinStatus::Cancelled: return "cancelled";
    case JoinStatus::Failed: return "failed (see " + Printable(joinLog, 300) + ")";
    case JoinStatus::Unknown: return "unknown";
  }
  return "unknown";
}

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
  std::map<std::string, Queued> queue;
  const bool asked = AskQueue(record, queue, state.unknown);
  bool failed = false;
  for (long part = 1; part <= record.parts; ++part) {
    state.parts.push_back(ReadPart(files, part, record.partJobs[part], asked ? &queue : nullptr, state));
    failed = failed || state.parts.back().status == PartStatus::Failed ||
             state.parts.back().status == PartStatus::Cancelled;
  }
  state.joinLog = files.JoinLog();
  const Queued& join = *Find(queue, record.joinJob);
  if (IsFile(output)) state.join = JoinStatus::Done;
  else if (failed) state.join = JoinStatus::WillNotRun;
  else if (!asked) state.join = JoinStatus::Unknown;
  else if (join.reason.find("DependencyNeverSatisfied") != std::string::npos) state.join = JoinStatus::WillNotRun;
  else if (StartsWith(join.state, "PENDING")) state.join = JoinStatus::Waiting;
  else if (StartsWith(join.state, "RUNNING") || StartsWith(join.state, "COMPLETING")) state.join = JoinStatus::Running;
  else if (StartsWith(join.state, "CANCELLED")) state.join = JoinStatus::Cancelled;
  else state.join = JoinStatus::Failed;
  return true;
}

}  // namespace tool

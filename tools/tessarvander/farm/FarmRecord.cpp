#include "farm/FarmRecord.h"

#include <nlohmann/json.hpp>

#include "farm/Segments.h"
#include "formats/JsonReader.h"
#include "sys/BoundedFile.h"
#include "sys/Digest.h"
#include "sys/Messages.h"
#include "sys/OutputFile.h"

namespace tool {
namespace {

constexpr const char* kRecordFormat = "tessarvander-farm";

// A marker's name: the prefix and 32 hexadecimal digits, nothing else.
constexpr const char* kMarkerPrefix = ".tessarvander-farm-";
bool IsMarkerName(const std::string& name) {
  const std::string prefix = kMarkerPrefix;
  return name.size() == prefix.size() + 32 && name.rfind(prefix, 0) == 0 &&
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

bool Digits(const std::string& text) {
  return !text.empty() && text.size() <= 12 && text.find_first_not_of("0123456789") == std::string::npos;
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

std::string FarmFiles::PartNamePrefix() const {
  std::string before, after;
  PartNameAround(output, before, after);
  return before;
}

std::string FarmFiles::PartNameSuffix() const {
  std::string before, after;
  PartNameAround(output, before, after);
  return after;
}

bool IsJobId(const std::string& job) {
  const size_t bar = job.find('_');
  return Digits(job.substr(0, bar)) && (bar == std::string::npos || Digits(job.substr(bar + 1)));
}

std::string SubmittedJobId(const std::string& answer) {
  // One line: the id, and the cluster after a semicolon.
  const size_t end = answer.find_last_not_of(" \r\n");
  const std::string line = end == std::string::npos ? "" : answer.substr(0, end + 1);
  if (line.find('\n') != std::string::npos) return "";
  const std::string id = line.substr(0, line.find(';'));
  return Digits(id) ? id : "";
}

std::string NewMarkerName() {
  const std::string random = RandomHex(16);
  return random.empty() ? "" : kMarkerPrefix + random;
}

bool FarmRecord::Read(const std::string& path, std::string& error) {
  std::string text;
  return ReadBoundedFile(path, 1 << 20, "farm record", text, error) && Parse(text, path, error);
}

bool FarmRecord::Parse(const std::string& text, const std::string& path, std::string& error) {
  nlohmann::json document;
  if (!ParseJson(text, "farm record " + path, document, error) ||
      !JsonFormat(document, kRecordFormat, 0, "farm record of this program", path, error))
    return false;
  if (!JsonWhole(document, "parts", 1, kMaxSegments, path, parts, error) ||
      !JsonText(document, "joinJob", path, joinJob, error))
    return false;
  if (!document.contains("partJobs") || !document["partJobs"].is_object()) {
    error = path + ": key \"partJobs\" must be an object of part numbers and job ids";
    return false;
  }
  partJobs.clear();
  for (const auto& [part, job] : document["partJobs"].items()) {
    const long number = part.size() <= 6 && part.find_first_not_of("0123456789") == std::string::npos && !part.empty()
                            ? std::stol(part)
                            : 0;
    if (number < 1 || number > parts || !job.is_string() || !IsJobId(job.get<std::string>())) {
      error = path + ": key \"partJobs\" / \"" + Printable(part, 40) + "\" must be a part from 1 to " +
              std::to_string(parts) + " with a Slurm job id";
      return false;
    }
    partJobs[number] = job.get<std::string>();
  }
  if (!IsJobId(joinJob)) {
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

}  // namespace tool

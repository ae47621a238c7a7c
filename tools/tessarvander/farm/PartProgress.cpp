#include "farm/PartProgress.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "formats/JsonReader.h"
#include "sys/BoundedFile.h"
#include "sys/OutputFile.h"

namespace tool {
namespace {

constexpr const char* kFormat = "tessarvander-part-progress";
constexpr size_t kMaxProgressBytes = 4096;
constexpr double kWriteEverySeconds = 1.0;
constexpr long kMostFrames = 1L << 40;

std::string ThisNode() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

double UnixSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A node's name as a status shows it: printable, short.
bool PlainNode(const std::string& node) {
  if (node.size() > 64) return false;
  for (char c : node)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

}  // namespace

bool PartProgress::Write(const std::string& path, std::string& error) const {
  nlohmann::ordered_json document;
  document["format"] = kFormat;
  document["state"] = state;
  document["done"] = done;
  document["total"] = total;
  document["perSecond"] = perSecond;
  document["node"] = node;
  if (!requeuedFrom.empty()) document["requeuedFrom"] = requeuedFrom;
  document["updated"] = updated;
  return WriteWholeFile(path, document.dump() + "\n", error);
}

bool PartProgress::Read(const std::string& path, std::string& error) {
  std::string text;
  return ReadBoundedFile(path, kMaxProgressBytes, "part progress", text, error) && Parse(text, path, error);
}

bool PartProgress::Parse(const std::string& text, const std::string& path, std::string& error) {
  nlohmann::json document;
  if (!ParseJson(text, "part progress " + path, document, error) ||
      !JsonFormat(document, kFormat, 0, "part's progress", path, error))
    return false;
  if (!JsonText(document, "state", path, state, error) || !JsonWhole(document, "done", 0, kMostFrames, path, done, error) ||
      !JsonWhole(document, "total", 0, kMostFrames, path, total, error) ||
      !JsonNumber(document, "perSecond", 0.0, 1e9, path, perSecond, error) ||
      !JsonText(document, "node", path, node, error) || !JsonNumber(document, "updated", 0.0, 1e12, path, updated, error))
    return false;
  requeuedFrom.clear();
  if (document.contains("requeuedFrom") && !JsonText(document, "requeuedFrom", path, requeuedFrom, error)) return false;
  if ((state != "running" && state != "done" && state != "failed") || !PlainNode(node) || !PlainNode(requeuedFrom) ||
      done > total) {
    error = path + ": not a part's progress";
    return false;
  }
  return true;
}

bool PartProgressFile::Begin(const std::string& file, long total, std::string& error) {
  path = file;
  progress.node = ThisNode();
  // A run of this part before, unfinished: Slurm started it again here.
  PartProgress before;
  std::string ignored;
  if (before.Read(path, ignored) && before.state != "done") progress.requeuedFrom = before.node;
  progress.total = total;
  started = written = std::chrono::steady_clock::now();
  progress.updated = UnixSeconds();
  if (!progress.Write(path, error)) return false;
  active = true;
  return true;
}

void PartProgressFile::Update(long done) {
  if (!active) return;
  progress.done = done;
  const auto now = std::chrono::steady_clock::now();
  if (std::chrono::duration<double>(now - written).count() < kWriteEverySeconds) return;
  const double seconds = std::chrono::duration<double>(now - started).count();
  progress.perSecond = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  written = now;
  Write();
}

void PartProgressFile::End(bool succeeded) {
  if (!active) return;
  progress.state = succeeded ? "done" : "failed";
  if (succeeded) progress.done = progress.total;
  Write();
  active = false;
}

void PartProgressFile::Write() {
  progress.updated = UnixSeconds();
  std::string ignored;  // a status that cannot be written costs the status, not the part
  progress.Write(path, ignored);
}

}  // namespace tool

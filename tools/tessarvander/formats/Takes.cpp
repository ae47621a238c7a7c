#include "formats/Takes.h"

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "formats/JsonReader.h"
#include "output/OutputFile.h"
#include "sys/BoundedFile.h"
#include "formats/Presets.h"

namespace tool {
namespace {

constexpr int kTakeVersion = 1;

}  // namespace

bool LoadTake(const std::string& path, const ParameterNames& names, Take& take, std::string& error) {
  std::string text;
  return ReadBoundedFile(path, kMaxTakeBytes, "take", text, error) && ParseTake(text, path, names, take, error);
}

bool ParseTake(const std::string& text, const std::string& path, const ParameterNames& names, Take& take,
               std::string& error) {
  take = Take();
  long number = 0;
  bool sawHeader = false, sawEnd = false;
  long lastFrame = -1, recordedUpTo = -1;
  size_t start = 0;
  while (start < text.size()) {
    const size_t newline = text.find('\n', start);
    const std::string line = text.substr(start, newline == std::string::npos ? std::string::npos : newline - start);
    start = newline == std::string::npos ? text.size() : newline + 1;
    ++number;
    const std::string where = "take " + path + ", line " + std::to_string(number);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (sawEnd) {
      error = where + ": nothing may follow the \"frames\" line";
      return false;
    }
    nlohmann::json entry;
    if (!ParseJson(line, where, entry, error)) return false;
    if (!entry.is_object()) {
      error = where + ": each line must be a JSON object";
      return false;
    }
    if (!sawHeader) {
      long version = 0;
      if (!JsonWhole(entry, "take", kTakeVersion, kTakeVersion, where, version, error) ||
          !JsonNumber(entry, "fps", kMinFramesPerSecond, kMaxFramesPerSecond, where, take.framesPerSecond, error))
        return false;
      if (entry.contains("first") && !JsonWhole(entry, "first", 0, kMaxFrames - 1, where, take.first, error))
        return false;
      if (!ReadParameterValues(entry.value("parameters", nlohmann::json()), names, where + ": key \"parameters\"",
                               take.start, error))
        return false;
      sawHeader = true;
      continue;
    }
    if (entry.contains("frames") || entry.contains("upto")) {
      const bool end = entry.contains("frames");
      long frames = 0;
      if (!JsonWhole(entry, end ? "frames" : "upto", 0, kMaxFrames, where, frames, error)) return false;
      if (frames <= lastFrame || frames < recordedUpTo || (end && frames <= take.first)) {
        error = where + ": key \"" + (end ? "frames" : "upto") +
                "\" must be above \"first\" and every frame of a change";
        return false;
      }
      if (end) {
        take.frames = frames;
        sawEnd = true;
      } else {
        recordedUpTo = frames;
      }
      continue;
    }
    long frame = 0;
    if (!JsonWhole(entry, "frame", std::max(0L, std::max(lastFrame, recordedUpTo)), kMaxFrames - 1, where, frame,
                   error)) {
      error = where + ": key \"frame\" must be a whole number, not below the frame before it";
      return false;
    }
    lastFrame = frame;
    Take::Change& change = take.changes[lastFrame];
    if (entry.contains("set") && !ReadParameterValues(entry["set"], names, where + ": key \"set\"", change.values, error))
      return false;
    if (entry.contains("pause")) {
      if (!entry["pause"].is_boolean()) {
        error = where + ": key \"pause\" must be true or false";
        return false;
      }
      change.pause = entry["pause"].get<bool>() ? 1 : 0;
    }
    if (!entry.contains("set") && !entry.contains("pause")) {
      error = where + ": a change needs a key \"set\" or \"pause\"";
      return false;
    }
  }
  // A take whose session ended without closing it (a crash) holds the frames
  // recorded up to its last "upto" line.
  if (sawHeader && !sawEnd && recordedUpTo > take.first && recordedUpTo > lastFrame) {
    take.frames = recordedUpTo;
    take.changes.erase(take.changes.lower_bound(recordedUpTo), take.changes.end());
    sawEnd = true;
  }
  if (!sawHeader || !sawEnd) {
    error = "take " + path + ": " + (sawHeader ? "the last line must give \"frames\"" : "the file is empty");
    return false;
  }
  return true;
}

TakePlayer::TakePlayer(const Take& take) : take(take), values(take.start) {}

void TakePlayer::Advance(long frame) {
  const auto change = take.changes.find(frame);
  if (change == take.changes.end()) return;
  for (const ParameterValue& value : change->second.values) PutValue(values, value.index, value.value);
  if (change->second.pause >= 0) paused = change->second.pause == 1;
}

void SessionHistory::Begin(double fps, const std::vector<ParameterValue>& values) {
  framesPerSecond = fps;
  start = values;
  changes.clear();
}

void SessionHistory::Set(long frame, uint32_t index, float value) { PutValue(changes[frame].values, index, value); }

void SessionHistory::Pause(long frame, bool paused) { changes[frame].pause = paused ? 1 : 0; }

namespace {

nlohmann::ordered_json ValuesObject(const std::vector<ParameterValue>& values, const ParameterNames& names) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const ParameterValue& value : values) object[names.NameOf(value.index)] = value.value;
  return object;
}

std::string HeaderLine(double framesPerSecond, long first, const std::vector<ParameterValue>& start,
                       const ParameterNames& names) {
  nlohmann::ordered_json header;
  header["take"] = kTakeVersion;
  header["fps"] = framesPerSecond;
  header["first"] = first;
  header["parameters"] = ValuesObject(start, names);
  return header.dump() + "\n";
}

std::string ChangeLine(long frame, const Take::Change& change, const ParameterNames& names) {
  nlohmann::ordered_json entry;
  entry["frame"] = frame;
  if (!change.values.empty()) entry["set"] = ValuesObject(change.values, names);
  if (change.pause >= 0) entry["pause"] = change.pause == 1;
  return entry.dump() + "\n";
}

}  // namespace

bool SessionHistory::WriteTake(const std::string& path, long first, long end, const ParameterNames& names,
                               std::string& error) const {
  std::string text = HeaderLine(framesPerSecond, first, start, names);
  for (const auto& [frame, change] : changes) {
    if (frame >= end) break;
    text += ChangeLine(frame, change, names);
  }
  text += nlohmann::ordered_json{{"frames", end}}.dump() + "\n";
  return WriteWholeFile(path, text, error);
}

TakeJournal::~TakeJournal() {
  if (file) std::fclose(file);
}

bool TakeJournal::Open(const std::string& takePath, double framesPerSecond,
                       const std::vector<ParameterValue>& start, const ParameterNames& takeNames,
                       std::string& error) {
  path = takePath;
  names = &takeNames;
  recordingPath = path + ".recording";
  // New, or refused: a file left there is a crashed session's take.
  const int fd = open(recordingPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "--take: cannot record " + recordingPath + ": " + std::strerror(errno) +
            (errno == EEXIST ? " (a take of a session that ended early: render it with --take, or remove it)" : "");
    return false;
  }
  file = fdopen(fd, "w");
  std::fputs(HeaderLine(framesPerSecond, 0, start, takeNames).c_str(), file);
  std::fflush(file);
  lastFlush = std::chrono::steady_clock::now();
  return true;
}

void TakeJournal::Set(long frame, uint32_t index, float value) {
  if (file) PutValue(pending[frame].values, index, value);
}

void TakeJournal::Pause(long frame, bool paused) {
  if (file) pending[frame].pause = paused ? 1 : 0;
}

void TakeJournal::FrameDone(long frames) {
  if (!file) return;
  for (const auto& [frame, change] : pending) std::fputs(ChangeLine(frame, change, *names).c_str(), file);
  pending.clear();
  const auto now = std::chrono::steady_clock::now();
  if (now - lastFlush >= std::chrono::milliseconds(500)) {
    std::fprintf(file, "{\"upto\":%ld}\n", frames);
    std::fflush(file);
    lastFlush = now;
  }
}

bool TakeJournal::Close(long frames, std::string& error) {
  if (!file) return true;
  // A change asked for as the show ended never reached a frame: the take
  // holds what was shown.
  pending.erase(pending.lower_bound(frames), pending.end());
  FrameDone(frames);
  std::fprintf(file, "{\"frames\":%ld}\n", frames);
  const bool written = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
  std::fclose(file);
  file = nullptr;
  if (!written || std::rename(recordingPath.c_str(), path.c_str()) != 0) {
    error = "take: cannot put " + path + " in place (" + std::strerror(errno) + "); the take is in " + recordingPath;
    return false;
  }
  return true;
}

}  // namespace tool

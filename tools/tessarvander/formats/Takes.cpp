#include "formats/Takes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "formats/JsonReader.h"
#include "sys/OutputFile.h"
#include "sys/BoundedFile.h"
#include "sys/NameTable.h"
#include "formats/Presets.h"

namespace tool {
namespace {

constexpr int kTakeVersion = 1;

constexpr Named<Blend> kBlends[] = {{Blend::Dissolve, "dissolve"}, {Blend::Add, "add"}, {Blend::Luma, "luma"}};

// A JSON text that stops inside a string or an open object or array: a line
// cut short.
bool Unfinished(const std::string& text) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return inString || depth > 0;
}

}  // namespace

const char* BlendName(Blend blend) { return NameOf(kBlends, blend); }
bool ParseBlend(const std::string& name, Blend& blend) { return ValueNamed(kBlends, name, blend); }

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
    // A last line without its newline that is not JSON was cut short (a
    // crash, a full disk): it is dropped, and the take ends at its last "upto".
    if (newline == std::string::npos && Unfinished(line)) break;
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
    if (entry.contains("level")) {
      double level = 1.0;
      if (!JsonNumber(entry, "level", 0.0, 1.0, where, level, error)) return false;
      change.level = static_cast<float>(level);
    }
    if (entry.contains("set2") &&
        !ReadParameterValues(entry["set2"], names, where + ": key \"set2\"", change.secondDeck, error))
      return false;
    if (entry.contains("mix")) {
      double mix = 0.0;
      if (!JsonNumber(entry, "mix", 0.0, 1.0, where, mix, error)) return false;
      change.mix = static_cast<float>(mix);
    }
    if (entry.contains("blend")) {
      std::string name;
      Blend blend = Blend::Dissolve;
      if (!JsonText(entry, "blend", where, name, error)) return false;
      if (!ParseBlend(name, blend)) {
        error = where + ": key \"blend\" must be dissolve, add or luma";
        return false;
      }
      change.blend = static_cast<int>(blend);
    }
    take.twoDecks = take.twoDecks || entry.contains("set2") || entry.contains("mix");
    if (!entry.contains("set") && !entry.contains("pause") && !entry.contains("level") && !entry.contains("set2") &&
        !entry.contains("mix") && !entry.contains("blend")) {
      error = where + ": a change needs a key \"set\", \"pause\", \"level\", \"set2\", \"mix\" or \"blend\"";
      return false;
    }
  }
  // A take whose session ended without closing it (a crash) holds the frames
  // recorded up to its last "upto" line.
  if (sawHeader && !sawEnd && recordedUpTo > take.first) {
    take.frames = recordedUpTo;
    take.changes.erase(take.changes.lower_bound(recordedUpTo), take.changes.end());
    take.cutShort = true;
    sawEnd = true;
  }
  if (!sawHeader || !sawEnd) {
    error = "take " + path + ": " + (sawHeader ? "the last line must give \"frames\"" : "the file is empty");
    return false;
  }
  return true;
}

TakePlayer::TakePlayer(const Take& take) : take(take), values(take.start), secondDeck(take.start) {}

void TakePlayer::Advance(long frame) {
  const auto change = take.changes.find(frame);
  if (change == take.changes.end()) return;
  const Take::Change& here = change->second;
  for (const ParameterValue& value : here.values) PutValue(values, value.index, value.value);
  for (const ParameterValue& value : here.secondDeck) PutValue(secondDeck, value.index, value.value);
  if (here.pause >= 0) paused = here.pause == 1;
  if (here.level >= 0.0f) level = here.level;
  if (here.mix >= 0.0f) mix = here.mix;
  if (here.blend >= 0) blend = static_cast<Blend>(here.blend);
}

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
  if (change.level >= 0.0f) entry["level"] = change.level;
  if (!change.secondDeck.empty()) entry["set2"] = ValuesObject(change.secondDeck, names);
  if (change.mix >= 0.0f) entry["mix"] = change.mix;
  if (change.blend >= 0) entry["blend"] = BlendName(static_cast<Blend>(change.blend));
  return entry.dump() + "\n";
}

}  // namespace

TakeJournal::~TakeJournal() {
  if (fd >= 0) close(fd);
}

bool TakeJournal::Open(const std::string& takePath, const std::string& folder, double fps,
                       const std::vector<ParameterValue>& startValues, const ParameterNames& takeNames,
                       std::string& error) {
  path = takePath;
  names = &takeNames;
  framesPerSecond = fps;
  start = startValues;
  if (Named()) {
    recordingPath = path + ".recording";
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0) {
      error = "--take: " + path + " is there already, and a take is never replaced: give another name";
      return false;
    }
    // New, or refused: a file left there is a crashed session's take.
    fd = open(recordingPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      error = "--take: cannot record " + recordingPath + ": " + std::strerror(errno) +
              (errno == EEXIST ? " (a take of a session that ended early: render it with --take, or remove it)" : "");
      return false;
    }
  } else {
    fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = "cannot keep the session's history in " + (folder.empty() ? std::string(".") : folder) + ": " +
              std::strerror(errno);
      return false;
    }
  }
  const std::string header = HeaderLine(framesPerSecond, 0, start, takeNames);
  headerBytes = header.size();
  return Append(header) || (error = "--take: " + failure, false);
}

// One write of whole lines; on the first failure the journal stops and says why.
bool TakeJournal::Append(const std::string& text) {
  if (fd < 0 || !failure.empty()) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      failure = errno == ENOSPC ? std::string("the disk is full") : std::string(std::strerror(put < 0 ? errno : EIO));
      return false;
    }
    done += static_cast<size_t>(put);
    written += put;
  }
  return true;
}

void TakeJournal::Set(long frame, uint32_t index, float value) {
  if (fd >= 0) PutValue(pending[frame].values, index, value);
}

void TakeJournal::SetSecond(long frame, uint32_t index, float value) {
  if (fd >= 0) PutValue(pending[frame].secondDeck, index, value);
}

void TakeJournal::Mix(long frame, float mix, Blend blend) {
  if (fd < 0) return;
  pending[frame].mix = mix;
  pending[frame].blend = static_cast<int>(blend);
}

void TakeJournal::Pause(long frame, bool paused) {
  if (fd >= 0) pending[frame].pause = paused ? 1 : 0;
}

void TakeJournal::Level(long frame, float level) {
  if (fd >= 0) pending[frame].level = level;
}

void TakeJournal::FrameDone(long frames) {
  if (fd < 0 || !failure.empty()) return;
  lines.clear();
  while (!pending.empty() && pending.begin()->first < frames) {
    lines += ChangeLine(pending.begin()->first, pending.begin()->second, *names);
    pending.erase(pending.begin());
  }
  const bool upto = frames - lastUpto >= kUptoEvery;
  if (upto) lines += "{\"upto\":" + std::to_string(frames) + "}\n";
  if (lines.empty() || !Append(lines)) return;
  if (upto) lastUpto = recordedUpTo = frames;
}

bool TakeJournal::WriteTake(const std::string& take, long first, long end, std::string& error) {
  if (!failure.empty()) {
    error = "the session's history could not be written (" + failure + ")";
    return false;
  }
  if (end <= first) {
    error = "the take holds no frame yet";
    return false;
  }
  FrameDone(end);
  OutputFile file;
  if (!file.Open(take, error, OutputFile::Existing::Keep)) return false;
  const int out = open(file.TemporaryPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (out < 0) {
    error = "cannot write " + take + ": " + std::strerror(errno);
    return false;
  }
  // The session's header with the take's first frame, then every line
  // written since, then the take's end.
  std::string text = HeaderLine(framesPerSecond, first, start, *names);
  bool ok = true;
  std::vector<char> buffer(1 << 20);
  for (long at = static_cast<long>(headerBytes); ok && at < written;) {
    const ssize_t got = pread(fd, buffer.data(), std::min<long>(buffer.size(), written - at), at);
    if (got <= 0) {
      ok = false;
      break;
    }
    text.append(buffer.data(), static_cast<size_t>(got));
    at += got;
    if (text.size() >= buffer.size()) {
      ok = ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size());
      text.clear();
    }
  }
  text += "{\"frames\":" + std::to_string(end) + "}\n";
  ok = ok && ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int writeErrno = errno;
  ok = close(out) == 0 && ok;
  if (!ok) {
    error = "cannot write " + take + ": " + std::strerror(writeErrno);
    return false;
  }
  return file.Commit(error);
}

bool TakeJournal::Close(long frames, std::string& error) {
  if (fd < 0) return true;
  // A change asked for as the show ended never reached a frame: the take
  // holds what was shown.
  pending.erase(pending.lower_bound(frames), pending.end());
  FrameDone(frames);
  const bool closed = Append("{\"frames\":" + std::to_string(frames) + "}\n") && fsync(fd) == 0;
  close(fd);
  fd = -1;
  if (!Named()) return true;
  if (!closed) {
    error = "take: " + (failure.empty() ? std::string(std::strerror(errno)) : failure) + "; the take is in " +
            recordingPath + " and holds frames up to " + std::to_string(recordedUpTo);
    return false;
  }
  // Never over a file that appeared meanwhile.
  if (link(recordingPath.c_str(), path.c_str()) != 0) {
    error = "take: cannot put " + path + " in place (" + std::strerror(errno) + "); the take is in " + recordingPath;
    return false;
  }
  unlink(recordingPath.c_str());
  return true;
}

}  // namespace tool

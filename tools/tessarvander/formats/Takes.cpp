#include "formats/Takes.h"

#include "sys/Numbers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "formats/JsonReader.h"
#include "formats/Presets.h"
#include "sys/BoundedFile.h"
#include "sys/Messages.h"
#include "sys/NameTable.h"

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

// A take's lines, one at a time, from its file or its text: never more than
// a line held. A line longer than kMaxTakeLineBytes is read through and
// reported, not kept.
class TakeLines {
 public:
  explicit TakeLines(const Take& take) : text(take.path.empty() ? &take.text : nullptr) {
    if (!text) fd = open(take.path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  TakeLines(const std::string& path, const std::string* text) : text(text) {
    if (!text) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  ~TakeLines() {
    if (fd >= 0) close(fd);
  }
  bool Opened() const { return text || fd >= 0; }

  // The next line, without its newline; false at the end. `terminated`:
  // it ended with a newline; `tooLong`: it was longer than the bound.
  bool Next(std::string& line, bool& terminated, bool& tooLong) {
    line.clear();
    tooLong = false;
    for (;;) {
      if (at == buffered.size() && !Fill()) {
        terminated = false;
        return !line.empty() || tooLong;
      }
      const size_t newline = buffered.find('\n', at);
      const size_t end = newline == std::string::npos ? buffered.size() : newline;
      if (!tooLong) {
        line.append(buffered, at, end - at);
        if (line.size() > kMaxTakeLineBytes) tooLong = true, line.clear();
      }
      at = end;
      if (newline != std::string::npos) {
        ++at;
        terminated = true;
        return true;
      }
    }
  }

 private:
  bool Fill() {
    buffered.clear();
    at = 0;
    if (text) {
      if (textRead) return false;
      textRead = true;
      buffered = *text;
      return !buffered.empty();
    }
    buffered.resize(1 << 16);
    ssize_t got;
    do got = read(fd, buffered.data(), buffered.size());
    while (got < 0 && errno == EINTR);
    buffered.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return got > 0;
  }

  const std::string* text;
  bool textRead = false;
  int fd = -1;
  std::string buffered;
  size_t at = 0;
};

// One line of a take read: the header, an "upto", the end, or a change of
// a frame. Checks the line in its place among those before it.
class TakeLineReader {
 public:
  TakeLineReader(const std::string& path, const ParameterNames& names, Take& take) : path(path), names(names), take(take) {}

  enum class Kind { Blank, Header, Upto, End, Change, Cut };
  // False with the line's error.
  bool Read(const std::string& line, bool terminated, long& frame, TakeChange& change, Kind& kind,
            std::string& error) {
    ++number;
    const std::string where = "take " + path + ", line " + std::to_string(number);
    kind = Kind::Blank;
    if (line.find_first_not_of(" \t\r") == std::string::npos) return true;
    if (sawEnd) return error = where + ": nothing may follow the \"frames\" line", false;
    // A last line without its newline that is not JSON was cut short (a
    // crash, a full disk): it is dropped, and the take ends at its last "upto".
    if (!terminated && Unfinished(line)) return kind = Kind::Cut, true;
    nlohmann::json entry;
    if (!ParseJson(line, where, entry, error)) return false;
    if (!entry.is_object()) return error = where + ": each line must be a JSON object", false;
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
      return kind = Kind::Header, true;
    }
    if (entry.contains("frames") || entry.contains("upto")) {
      const bool end = entry.contains("frames");
      long frames = 0;
      if (!JsonWhole(entry, end ? "frames" : "upto", 0, kMaxFrames, where, frames, error)) return false;
      if (frames <= lastFrame || frames < recordedUpTo || (end && frames <= take.first))
        return error = where + ": key \"" + (end ? "frames" : "upto") +
                       "\" must be above \"first\" and every frame of a change",
               false;
      if (end) take.frames = frames, sawEnd = true;
      else recordedUpTo = frames;
      return kind = end ? Kind::End : Kind::Upto, true;
    }
    if (!JsonWhole(entry, "frame", std::max(0L, std::max(lastFrame, recordedUpTo)), kMaxFrames - 1, where, frame,
                   error))
      return error = where + ": key \"frame\" must be a whole number, not below the frame before it", false;
    lastFrame = frame;
    change = TakeChange();
    if (entry.contains("set") && !ReadParameterValues(entry["set"], names, where + ": key \"set\"", change.values, error))
      return false;
    if (entry.contains("pause")) {
      if (!entry["pause"].is_boolean()) return error = where + ": key \"pause\" must be true or false", false;
      change.pause = entry["pause"].get<bool>() ? 1 : 0;
    }
    double number = 0.0;
    if (entry.contains("level")) {
      if (!JsonNumber(entry, "level", 0.0, 1.0, where, number, error)) return false;
      change.level = static_cast<float>(number);
    }
    if (entry.contains("set2") &&
        !ReadParameterValues(entry["set2"], names, where + ": key \"set2\"", change.secondDeck, error))
      return false;
    if (entry.contains("mix")) {
      if (!JsonNumber(entry, "mix", 0.0, 1.0, where, number, error)) return false;
      change.mix = static_cast<float>(number);
    }
    if (entry.contains("blend")) {
      std::string name;
      Blend blend = Blend::Dissolve;
      if (!JsonText(entry, "blend", where, name, error)) return false;
      if (!ParseBlend(name, blend)) return error = where + ": key \"blend\" must be dissolve, add or luma", false;
      change.blend = static_cast<int>(blend);
    }
    if (entry.contains("renew") && !JsonWhole(entry, "renew", 1, kLongestRenewFrames, where, change.renew, error))
      return false;
    take.twoDecks = take.twoDecks || entry.contains("set2") || entry.contains("mix");
    if (!entry.contains("set") && !entry.contains("pause") && !entry.contains("level") && !entry.contains("set2") &&
        !entry.contains("mix") && !entry.contains("blend") && !entry.contains("renew"))
      return error = where +
                     ": a change needs a key \"set\", \"pause\", \"level\", \"set2\", \"mix\", \"blend\" or "
                     "\"renew\"",
             false;
    return kind = Kind::Change, true;
  }

  long Number() const { return number; }
  bool SawHeader() const { return sawHeader; }
  bool SawEnd() const { return sawEnd; }
  long RecordedUpTo() const { return recordedUpTo; }

 private:
  const std::string path;
  const ParameterNames& names;
  Take& take;
  long number = 0;
  bool sawHeader = false, sawEnd = false;
  long lastFrame = -1, recordedUpTo = -1;
};

namespace {

// Reads every line of the take once, checking each and keeping none.
bool ReadTakeLines(TakeLines& lines, const std::string& shownPath, const ParameterNames& names, Take& take,
                   std::string& error) {

  TakeLineReader reader(shownPath, names, take);
  std::string line;
  bool terminated = false, tooLong = false, anyComplete = false;
  long frame = 0;
  TakeChange change;
  TakeLineReader::Kind kind;
  // The changes counted when the last "upto" was read: all of those below it.
  long changesAtUpto = 0, lastChangeAtUpto = -1;
  while (lines.Next(line, terminated, tooLong)) {
    anyComplete = anyComplete || terminated;
    if (tooLong) {
      error = "take " + shownPath + (terminated || anyComplete
                                         ? ", line " + std::to_string(reader.Number() + 1) + ": longer than " +
                                               std::to_string(kMaxTakeLineBytes >> 20) + " MiB"
                                         : ": has no complete line");
      return false;
    }
    if (!reader.Read(line, terminated, frame, change, kind, error)) return false;
    if (kind == TakeLineReader::Kind::Cut) break;
    if (kind == TakeLineReader::Kind::Change && take.lastChange != frame) ++take.changeFrames, take.lastChange = frame;
    if (kind == TakeLineReader::Kind::Upto) changesAtUpto = take.changeFrames, lastChangeAtUpto = take.lastChange;
  }
  // A take whose session ended without closing it (a crash) holds the frames
  // recorded up to its last "upto" line.
  if (reader.SawHeader() && !reader.SawEnd() && reader.RecordedUpTo() > take.first) {
    take.frames = reader.RecordedUpTo();
    take.cutShort = true;
    take.changeFrames = changesAtUpto, take.lastChange = lastChangeAtUpto;
  } else if (!reader.SawHeader() || !reader.SawEnd()) {
    error = "take " + shownPath + ": " +
            (reader.SawHeader() ? "the last line must give \"frames\""
                                : anyComplete || reader.Number() > 0 ? "has no complete line" : "the file is empty");
    return false;
  }
  return true;
}

}  // namespace

const char* BlendName(Blend blend) { return NameOf(kBlends, blend); }

namespace {
constexpr Named<Transition> kTransitions[] = {{Transition::Dissolve, "dissolve"},
                                              {Transition::Add, "add"},
                                              {Transition::Luma, "luma"},
                                              {Transition::Morph, "morph"}};
}  // namespace

const char* TransitionName(Transition transition) { return NameOf(kTransitions, transition); }
bool ParseTransition(const std::string& name, Transition& transition) {
  return ValueNamed(kTransitions, name, transition);
}
bool ParseBlend(const std::string& name, Blend& blend) { return ValueNamed(kBlends, name, blend); }

bool LoadTake(const std::string& path, const ParameterNames& names, Take& take, std::string& error) {
  take = Take();
  if (!IsRegularFile(path)) {
    error = "take " + Printable(path, 300) + ": " + (PathExists(path) ? "not a regular file" : "cannot be read");
    return false;
  }
  take.path = path;
  TakeLines lines(path, nullptr);
  if (!lines.Opened()) {
    error = "take " + Printable(path, 300) + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  return ReadTakeLines(lines, Printable(path, 300), names, take, error);
}

bool ParseTake(const std::string& text, const std::string& path, const ParameterNames& names, Take& take,
               std::string& error) {
  take = Take();
  take.text = text;
  TakeLines lines(path, &take.text);
  return ReadTakeLines(lines, path, names, take, error);
}

TakePlayer::TakePlayer(const Take& take, const ParameterNames& names)
    : take(take),
      lines(std::make_unique<TakeLines>(take)),
      reader(std::make_unique<TakeLineReader>(take.path, names, header)),
      values(take.start),
      secondDeck(take.start) {}

TakePlayer::~TakePlayer() = default;

// The take was read whole before: its lines are read again as the frames
// reach them, one change ahead. A line that no longer reads (the file
// changed since) ends the take's changes there.
void TakePlayer::Advance(long frame) {
  renewal = -1;
  for (;;) {
    if (pendingFrame >= 0) {
      if (pendingFrame > frame) return;
      Apply(pending);
      pendingFrame = -1;
    }
    if (done) return;
    std::string line, error;
    bool terminated = false, tooLong = false;
    TakeLineReader::Kind kind = TakeLineReader::Kind::Blank;
    long at = 0;
    if (!lines->Next(line, terminated, tooLong) || tooLong || !reader->Read(line, terminated, at, pending, kind, error)) {
      done = true;
      continue;
    }
    if (kind == TakeLineReader::Kind::End || kind == TakeLineReader::Kind::Cut || (kind == TakeLineReader::Kind::Change && at >= take.frames))
      done = true;
    else if (kind == TakeLineReader::Kind::Change)
      pendingFrame = at;
  }
}

namespace {

// A float as the shortest decimal that reads back as the same float ("0.3"),
// held in a double that JSON then writes as briefly.
double Shortest(float value) { return std::strtod(ShortestText(value).c_str(), nullptr); }

nlohmann::ordered_json ValuesObject(const std::vector<ParameterValue>& values, const ParameterNames& names) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const ParameterValue& value : values) object[names.NameOf(value.index)] = Shortest(value.value);
  return object;
}

}  // namespace

std::string TakeHeaderLine(double framesPerSecond, long first, const std::vector<ParameterValue>& start,
                           const ParameterNames& names) {
  nlohmann::ordered_json header;
  header["take"] = kTakeVersion;
  header["fps"] = framesPerSecond;
  header["first"] = first;
  header["parameters"] = ValuesObject(start, names);
  return header.dump() + "\n";
}

std::string TakeChangeLine(long frame, const TakeChange& change, const ParameterNames& names) {
  nlohmann::ordered_json entry;
  entry["frame"] = frame;
  if (!change.values.empty()) entry["set"] = ValuesObject(change.values, names);
  if (change.pause >= 0) entry["pause"] = change.pause == 1;
  if (change.level >= 0.0f) entry["level"] = Shortest(change.level);
  if (!change.secondDeck.empty()) entry["set2"] = ValuesObject(change.secondDeck, names);
  if (change.mix >= 0.0f) entry["mix"] = Shortest(change.mix);
  if (change.blend >= 0) entry["blend"] = BlendName(static_cast<Blend>(change.blend));
  if (change.renew >= 0) entry["renew"] = change.renew;
  return entry.dump() + "\n";
}

void TakePlayer::Apply(const TakeChange& change) {
  for (const ParameterValue& value : change.values) PutValue(values, value.index, value.value);
  for (const ParameterValue& value : change.secondDeck) PutValue(secondDeck, value.index, value.value);
  if (change.pause >= 0) paused = change.pause == 1;
  if (change.level >= 0.0f) level = change.level;
  if (change.mix >= 0.0f) mix = change.mix;
  if (change.blend >= 0) blend = static_cast<Blend>(change.blend);
  if (change.renew >= 0) renewal = change.renew;
}

}  // namespace tool

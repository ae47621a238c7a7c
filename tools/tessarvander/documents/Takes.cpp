#include "documents/Takes.h"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "output/OutputFile.h"
#include "documents/Presets.h"

namespace cli {
namespace {

constexpr int kTakeVersion = 1;

}  // namespace

bool LoadTake(const std::string& path, const ParameterControls& names, Take& take, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "take " + path + ": cannot be read";
    return false;
  }
  take = Take();
  std::string line;
  long number = 0;
  bool sawHeader = false, sawEnd = false;
  long lastFrame = -1;
  while (std::getline(file, line)) {
    ++number;
    const std::string where = "take " + path + ", line " + std::to_string(number);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (sawEnd) {
      error = where + ": nothing may follow the \"frames\" line";
      return false;
    }
    nlohmann::json entry;
    try {
      entry = nlohmann::json::parse(line);
    } catch (const nlohmann::json::parse_error& parseError) {
      error = where + ", column " + std::to_string(parseError.byte) + ": not JSON";
      return false;
    }
    if (!entry.is_object()) {
      error = where + ": each line must be a JSON object";
      return false;
    }
    if (!sawHeader) {
      if (!entry.contains("take") || entry["take"] != kTakeVersion) {
        error = where + ": key \"take\" must be " + std::to_string(kTakeVersion) + " on the first line";
        return false;
      }
      if (!entry.contains("fps") || !entry["fps"].is_number() || !(entry["fps"].get<double>() > 0.0) ||
          entry["fps"].get<double>() > 1000.0) {
        error = where + ": key \"fps\" must be a number above 0 and at most 1000";
        return false;
      }
      take.framesPerSecond = entry["fps"].get<double>();
      if (entry.contains("first") && (!entry["first"].is_number_integer() || entry["first"].get<long>() < 0)) {
        error = where + ": key \"first\" must be a whole number, 0 or more";
        return false;
      }
      take.first = entry.value("first", 0L);
      if (!ReadParameterValues(entry.value("parameters", nlohmann::json()), names, where + ": key \"parameters\"", take.start,
                      error))
        return false;
      sawHeader = true;
      continue;
    }
    if (entry.contains("frames")) {
      if (!entry["frames"].is_number_integer() || entry["frames"].get<long>() <= take.first ||
          entry["frames"].get<long>() <= lastFrame) {
        error = where + ": key \"frames\" must be a whole number above \"first\" and every frame of a change";
        return false;
      }
      take.frames = entry["frames"].get<long>();
      sawEnd = true;
      continue;
    }
    if (!entry.contains("frame") || !entry["frame"].is_number_integer() || entry["frame"].get<long>() < lastFrame ||
        entry["frame"].get<long>() < 0) {
      error = where + ": key \"frame\" must be a whole number, not below the frame before it";
      return false;
    }
    lastFrame = entry["frame"].get<long>();
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
  for (const ParameterControls::Value& value : change->second.values) PutValue(values, value.index, value.value);
  if (change->second.pause >= 0) paused = change->second.pause == 1;
}

void SessionHistory::Begin(double fps, const std::vector<ParameterControls::Value>& values) {
  framesPerSecond = fps;
  start = values;
  changes.clear();
}

void SessionHistory::Set(long frame, uint32_t index, float value) { PutValue(changes[frame].values, index, value); }

void SessionHistory::Pause(long frame, bool paused) { changes[frame].pause = paused ? 1 : 0; }

bool SessionHistory::WriteTake(const std::string& path, long first, long end, const ParameterControls& names,
                               std::string& error) const {
  const auto valuesOf = [&](const std::vector<ParameterControls::Value>& values) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const ParameterControls::Value& value : values) object[names.NameOf(value.index)] = value.value;
    return object;
  };
  nlohmann::ordered_json header;
  header["take"] = kTakeVersion;
  header["fps"] = framesPerSecond;
  header["first"] = first;
  header["parameters"] = valuesOf(start);
  std::string text = header.dump() + "\n";
  for (const auto& [frame, change] : changes) {
    if (frame >= end) break;
    nlohmann::ordered_json entry;
    entry["frame"] = frame;
    if (!change.values.empty()) entry["set"] = valuesOf(change.values);
    if (change.pause >= 0) entry["pause"] = change.pause == 1;
    text += entry.dump() + "\n";
  }
  text += nlohmann::ordered_json{{"frames", end}}.dump() + "\n";
  return WriteWholeFile(path, text, error);
}

}  // namespace cli

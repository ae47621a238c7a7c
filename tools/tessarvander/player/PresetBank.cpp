#include "player/PresetBank.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "formats/Presets.h"

namespace tool {

std::string Unnumbered(const std::string& name) {
  const size_t digits = name.find_first_not_of("0123456789");
  const bool numbered = digits > 0 && digits != std::string::npos && (name[digits] == '-' || name[digits] == '_');
  return numbered ? name.substr(digits + 1) : name;
}

bool PresetBank::Load(const std::string& path, const ParameterNames& names, std::string& error) {
  folder = path;
  presets.clear();
  last = -1;
  DIR* directory = opendir(path.c_str());
  if (!directory) {
    error = "--bank: " + path + " is not a folder this program can read";
    return false;
  }
  std::vector<std::string> files;
  bool tooMany = false;
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".json") != 0 || name[0] == '.') continue;
    if (files.size() == kBankSlots) {
      tooMany = true;
      break;
    }
    files.push_back(name);
  }
  closedir(directory);
  if (tooMany) {
    error = "--bank: " + path + " holds more than " + std::to_string(kBankSlots) + " presets";
    return false;
  }
  std::sort(files.begin(), files.end());
  partial = 0;
  for (const std::string& file : files) {
    Preset preset;
    preset.name = file.substr(0, file.size() - 5);
    std::vector<ParameterValue> named;
    if (!LoadPreset(path + "/" + file, names, named, error)) return false;
    // A look sets every parameter when recalled: what the file leaves out
    // is the plugin's default, not whatever the show held before.
    preset.values = Complete(named, names);
    partial += named.size() < preset.values.size();
    presets.push_back(std::move(preset));
  }
  if (presets.empty()) {
    error = "--bank: " + path + " holds no presets (*.json)";
    return false;
  }
  while (presets.size() < kKeySlots) presets.push_back({"empty", {}});
  return true;
}

std::vector<ParameterValue> PresetBank::Complete(const std::vector<ParameterValue>& named, const ParameterNames& names) {
  std::vector<ParameterValue> look;
  for (const ParameterDescription& parameter : names.Parameters()) look.push_back({parameter.index, parameter.defaultValue});
  for (const ParameterValue& value : named)
    for (ParameterValue& each : look)
      if (each.index == value.index) each.value = value.value;
  return look;
}

std::string PresetBank::SlotName(const std::string& wanted, size_t index) {
  // It becomes a file's name when the bank is saved: letters, digits,
  // spaces and a few marks only, never a path, never hidden.
  std::string name;
  for (const char c : wanted) {
    if (name.size() >= kLongestName) break;
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || (c == '.' && !name.empty())) name += c;
    else if ((c == ' ' || c == '/') && !name.empty() && name.back() != ' ') name += ' ';
  }
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
  return name.empty() ? "slot " + std::to_string(index + 1) : name;
}

void PresetBank::Store(size_t index, const std::vector<ParameterValue>& values, const std::string& name) {
  if (index >= kBankSlots) return;
  while (presets.size() < std::max(index + 1, kKeySlots)) presets.push_back({"empty", {}});
  Preset& slot = presets[index];
  slot.name = SlotName(name, index);
  slot.values = values;
}

void PresetBank::Rename(size_t index, const std::string& name) {
  if (index < presets.size() && !presets[index].values.empty()) presets[index].name = SlotName(name, index);
}

bool PresetBank::Save(const std::string& parent, const ParameterNames& names, std::string& written,
                      std::string& error) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  const std::string base = (parent.empty() ? std::string(".") : parent) + "/tessarvander-bank-" + stamp;
  // A new folder, or the next free name: nothing is written over.
  written.clear();
  for (int attempt = 1; attempt <= 99 && written.empty(); ++attempt) {
    const std::string candidate = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    if (mkdir(candidate.c_str(), 0755) == 0) written = candidate;
    else if (errno != EEXIST) break;
  }
  if (written.empty()) {
    error = "bank: cannot make a folder beside " + base + " (" + std::strerror(errno) + ")";
    return false;
  }
  for (size_t index = 0; index < presets.size(); ++index) {
    if (presets[index].values.empty()) continue;
    // "03-ember": the slot's number first, so the folder loads in this order.
    const std::string& name = presets[index].name;
    char number[24];
    std::snprintf(number, sizeof number, "%02zu-", index + 1);
    const std::string file = written + "/" + number + Unnumbered(name) + ".json";
    if (!SavePreset(file, names, presets[index].values, error)) return false;
  }
  folder = written;
  return true;
}

size_t PresetBank::Next() const {
  for (size_t step = 1; step <= presets.size(); ++step) {
    const size_t index = (static_cast<size_t>(std::max(last, -1L) + 1) + step - 1) % presets.size();
    if (!Empty(index)) return index;
  }
  return 0;
}

size_t PresetBank::Previous() const {
  const size_t count = presets.size();
  const size_t from = last < 0 ? 0 : static_cast<size_t>(last);
  for (size_t step = 1; step <= count; ++step) {
    const size_t index = (from + count - step) % count;
    if (!Empty(index)) return index;
  }
  return 0;
}

}  // namespace tool

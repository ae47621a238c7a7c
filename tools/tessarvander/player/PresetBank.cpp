#include "player/PresetBank.h"

#include <dirent.h>

#include <algorithm>

#include "formats/Presets.h"

namespace tool {

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
    if (files.size() == kMostPresets) {
      tooMany = true;
      break;
    }
    files.push_back(name);
  }
  closedir(directory);
  if (tooMany) {
    error = "--bank: " + path + " holds more than " + std::to_string(kMostPresets) + " presets";
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    Preset preset;
    preset.name = file.substr(0, file.size() - 5);
    if (!LoadPreset(path + "/" + file, names, preset.values, error)) return false;
    presets.push_back(std::move(preset));
  }
  if (presets.empty()) {
    error = "--bank: " + path + " holds no presets (*.json)";
    return false;
  }
  return true;
}

}  // namespace tool

// libFuzzer target for the readers of the documents the tool is given:
// presets, takes (read, then played), segment manifests, beat lists,
// --react texts, MIDI maps, the farm's records and parts' progress,
// sbatch's answers and cue sheets (read, written and read back). The first byte chooses the reader,
// the rest is the document's text. Every input must end in an answer, true
// or false with one line, and nothing may escape the reader.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ParameterTable.h"
#include "formats/ParameterProfile.h"
#include "formats/BeatList.h"
#include "formats/CueSheet.h"
#include "formats/Presets.h"
#include "formats/Takes.h"
#include "farm/FarmRecord.h"
#include "farm/PartProgress.h"
#include "farm/Segments.h"
#include "music/Reactions.h"
#include "formats/MidiMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string error;
  bool read = false;
  switch (data[0] % 10) {
    case 0: {
      std::vector<tool::ParameterValue> values;
      read = tool::ParsePreset(text, "preset", tool::ParameterProfile::TableNames(), values, error);
      break;
    }
    case 1: {
      tool::Take take;
      read = tool::ParseTake(text, "take", tool::ParameterProfile::TableNames(), take, error);
      if (read && (take.frames <= take.first || take.frames > tool::kMaxFrames)) __builtin_trap();
      if (read && take.lastChange >= take.frames) __builtin_trap();
      if (read) {  // played as a render plays it, a bounded stretch of it
        tool::TakePlayer player(take, tool::ParameterProfile::TableNames());
        for (long frame = 0; frame < std::min(take.frames, 2000L); ++frame) {
          player.Advance(frame);
          if (player.Renewal() == 0 || player.Renewal() > tool::kLongestRenewFrames) __builtin_trap();
        }
        if (!(player.Level() >= 0.0f && player.Level() <= 1.0f && player.Mix() >= 0.0f && player.Mix() <= 1.0f))
          __builtin_trap();
      }
      break;
    }
    case 3: {
      std::vector<double> beats;
      read = tool::ParseBeatList(text, "beats", beats, error);
      for (size_t i = 0; read && i < beats.size(); ++i)
        if (!(beats[i] >= 0.0 && beats[i] <= tool::kLatestBeat) || (i > 0 && beats[i] <= beats[i - 1])) __builtin_trap();
      break;
    }
    case 4: {
      tool::Reaction reaction;
      read = tool::ParseReaction(text, tool::ParameterProfile::TableNames(), reaction, error);
      if (read && !(reaction.threshold >= 0.0 && reaction.threshold < 1.0 && reaction.curve > 0.0)) __builtin_trap();
      break;
    }
    case 5: {
      tool::MidiMap map(tool::ParameterProfile::TableNames());
      read = map.FromJson(text, "map", error);
      if (read && map.Mappings().size() > tool::MidiMap::kMaxMappings) __builtin_trap();
      if (!read && !map.Mappings().empty()) __builtin_trap();  // nothing half read is kept
      break;
    }
    case 6: {
      tool::FarmRecord record;
      read = record.Parse(text, "jobs.json", error);
      if (read && (record.parts < 1 || !tool::IsJobId(record.joinJob))) __builtin_trap();
      for (const auto& [part, job] : record.partJobs)
        if (read && (part < 1 || part > record.parts || !tool::IsJobId(job))) __builtin_trap();
      break;
    }
    case 7: {
      tool::PartProgress progress;
      read = progress.Parse(text, "part-1.status", error);
      if (read && !(progress.done >= 0 && progress.done <= progress.total)) __builtin_trap();
      break;
    }
    case 9: {
      tool::CueSheet sheet;
      read = tool::ParseCueSheet(text, "cues", tool::ParameterProfile::TableNames(), sheet, error);
      if (read && sheet.cues.size() > tool::kMaxCues) __builtin_trap();
      if (read) {  // what the writer makes of it reads back as the same cues
        tool::CueSheet again;
        std::string written = tool::CueSheetText(sheet, tool::ParameterProfile::TableNames()), why;
        if (!tool::ParseCueSheet(written, "again", tool::ParameterProfile::TableNames(), again, why) ||
            again.cues.size() != sheet.cues.size())
          __builtin_trap();
      }
      break;
    }
    case 8: {
      // sbatch's answer: a job id of digits, or nothing believed.
      const std::string job = tool::SubmittedJobId(text);
      if (job.find_first_not_of("0123456789") != std::string::npos) __builtin_trap();
      return 0;
    }
    default: {
      tool::SegmentManifest manifest;
      read = manifest.Parse(text, "manifest", error);
      if (read && !(manifest.first < manifest.end && manifest.end <= manifest.frames)) __builtin_trap();
      break;
    }
  }
  // A refusal is one line.
  if (!read && (error.empty() || error.find('\n') != std::string::npos)) __builtin_trap();
  return 0;
}

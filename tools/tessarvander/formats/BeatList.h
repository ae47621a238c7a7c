// A list of beat times, as other programs export them (a label track, a
// beat tracker's CSV): one time in seconds per line, the first field of the
// line; what follows it on the line (a label, an end time) is ignored.
// Blank lines and lines starting with # are skipped.
//
//   0.512
//   1.020, 2
//   1.531	1.531	beat
#pragma once

#include <string>
#include <vector>

namespace tool {

constexpr size_t kMaxBeatListBytes = 16 << 20;
constexpr size_t kMaxBeats = 1 << 20;
// The longest track a beat may fall in: a week, in seconds.
constexpr double kLatestBeat = 7 * 24 * 3600.0;

// False with one line naming the file's line and what is wrong: not a
// number, negative or beyond kLatestBeat, not later than the beat before,
// or more than kMaxBeats.
bool ParseBeatList(const std::string& text, const std::string& where, std::vector<double>& beats, std::string& error);
bool LoadBeatList(const std::string& path, std::vector<double>& beats, std::string& error);

}  // namespace tool

// Where a farmed render stands, as `farm status` shows it: each part's
// state (from its manifest, its progress file and the scheduler), the
// join's, and the whole render's share and time left. The states are typed;
// the text shown is made from them, and the outcome too.
//
// The scheduler is asked once for the whole record (one squeue call, within
// its deadline and output cap); when it cannot say, what is not done is
// "unknown", never "failed".
#pragma once

#include <string>
#include <vector>

namespace tool {

enum class PartStatus { Done, Waiting, Running, Failed, Cancelled, Unknown };

struct PartState {
  long part = 0;
  PartStatus status = PartStatus::Unknown;
  bool told = false;        // its progress file was read
  long done = 0, total = 0; // frames, as it told
  double perSecond = 0.0;
  std::string node;         // where it runs or ran, printable
  std::string requeuedFrom; // the node it was requeued from, printable
  std::string failure;      // the line it left in the scheduler's record, printable
  std::string log;          // its log's path
  // "done, 400 frames, on node2", "running, 120 of 400 frames (30 %), ...".
  std::string Text() const;
};

enum class JoinStatus { Done, WillNotRun, Waiting, Running, Cancelled, Failed, Unknown };

struct FarmState {
  std::vector<PartState> parts;
  JoinStatus join = JoinStatus::Unknown;
  std::string joinLog;
  std::string unknown;  // why the scheduler could not say, or empty
  long framesDone = 0, framesTotal = 0;  // of the parts that told
  double perSecond = 0.0;                // of the parts running now

  enum class Outcome { Done, Failed, Going, Unknown };
  Outcome Result() const;
  std::string JoinText() const;
  // "45 % of 900 frames, 28.4 a second, about 1 min 10 s left", or "".
  std::string Whole() const;
};

// Reads the record beside `output` and asks the scheduler. False with one
// line when the record cannot be read.
bool ReadFarmState(const std::string& output, FarmState& state, std::string& error);

}  // namespace tool

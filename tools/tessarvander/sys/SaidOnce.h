// Lines said once per kind, on a budget: what a flood of bad input makes
// the program say. Each kind (an address and a reason, say) is said the
// first time, for up to a bounded number of kinds; past them, one line says
// that the rest go without a line. Memory and lines stay bounded, whatever
// comes in. Safe from several threads.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace tool {

class SaidOnce {
 public:
  explicit SaidOnce(size_t kinds = 32) : kinds(kinds) {}
  // Whether a line of this kind is to be said now. `overflow` is set, once,
  // when the budget of kinds has just run out: that line is said instead.
  bool First(const std::string& kind, bool& overflow);

 private:
  const size_t kinds;
  std::mutex mutex;
  std::set<std::string> told;
  bool full = false;
};

}  // namespace tool

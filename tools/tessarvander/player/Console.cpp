#include "player/Console.h"

#include <cstdio>

#include "sys/Messages.h"
#include "sys/Terminal.h"

namespace tool {

void Console::Say(const std::string& line) {
  const std::string shown = Printable(line, 1000);
  if (!quiet) TerminalLine(false, shown);
  Keep(shown, false);
}

void Console::Problem(const std::string& line) {
  const std::string shown = Printable(line, 1000);
  Warn(shown);
  Keep(shown, true);
}

void Console::Keep(const std::string& text, bool problem) {
  recent.push_back({text, problem, clock.Now()});
  while (recent.size() > kKept) recent.pop_front();
  if (follower) follower(recent.back());
}

const Console::Line* Console::Fresh() const {
  if (recent.empty() || clock.Now() - recent.back().at > kFreshSeconds) return nullptr;
  return &recent.back();
}

}  // namespace tool

#include "player/Console.h"

#include <algorithm>
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

void Console::ToTerminal(const std::string& text) const {
  size_t from = 0;
  while (from <= text.size()) {
    const size_t end = std::min(text.find('\n', from), text.size());
    TerminalLine(false, text.substr(from, end - from));
    from = end + 1;
  }
}

}  // namespace tool

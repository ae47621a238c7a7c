// Lines for the terminal: the program's messages on standard error and
// what the player says on standard output. By default each is written at
// once. While a TerminalWriter lives (a show), lines are handed to its
// thread instead, so a terminal nobody reads (a pipe nobody drains, a slow
// ssh session) never holds up the caller: past the writer's bound lines are
// dropped and counted, and the count is said once the terminal takes lines
// again.
#pragma once

#include <memory>
#include <string>

namespace tool {

// One whole line (without its newline) to standard error or output.
void TerminalLine(bool error, const std::string& line);

class WorkerThread;

class TerminalWriter {
 public:
  // Lines waiting for the terminal at most: a few screens.
  static constexpr size_t kMaxLines = 1000;
  static constexpr size_t kMaxBytes = 256 * 1024;

  TerminalWriter();   // from now on, lines go to its thread
  ~TerminalWriter();  // lines are written at once again; what waits is written
  TerminalWriter(const TerminalWriter&) = delete;
  TerminalWriter& operator=(const TerminalWriter&) = delete;

 private:
  std::unique_ptr<WorkerThread> worker;
};

}  // namespace tool

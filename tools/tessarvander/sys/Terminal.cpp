#include "sys/Terminal.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "sys/WorkerThread.h"

namespace tool {
namespace {

std::mutex installing;
std::atomic<WorkerThread*> installed{nullptr};
std::atomic<long> dropped{0};

void Write(bool error, const std::string& line) {
  FILE* stream = error ? stderr : stdout;
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void TerminalLine(bool error, const std::string& line) {
  std::lock_guard<std::mutex> hold(installing);
  WorkerThread* worker = installed.load();
  if (!worker) return Write(error, line);
  const bool offered = worker->Offer(
      [error, line] {
        if (const long lost = dropped.exchange(0); lost > 0)
          Write(true, "tessarvander: " + std::to_string(lost) + " lines were dropped: the terminal did not keep up");
        Write(error, line);
      },
      line.size() + 64);
  if (!offered) ++dropped;
}

TerminalWriter::TerminalWriter() : worker(std::make_unique<WorkerThread>(kMaxLines, kMaxBytes)) {
  std::lock_guard<std::mutex> hold(installing);
  installed = worker.get();
}

TerminalWriter::~TerminalWriter() {
  {
    std::lock_guard<std::mutex> hold(installing);
    installed = nullptr;
  }
  worker.reset();  // writes what waits, or leaves a stuck terminal to it
  if (const long lost = dropped.exchange(0); lost > 0)
    Write(true, "tessarvander: " + std::to_string(lost) + " lines were dropped: the terminal did not keep up");
}

}  // namespace tool

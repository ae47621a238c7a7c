// A thread that runs jobs handed to it, one after another, for a thread
// that must never wait (the frame loop): writing a take's lines, a still, a
// file asked for on stage, lines for the terminal. Offer never blocks: a job
// beyond the limit of jobs or bytes waiting is refused and counted, so the
// one who offered it can say once what was lost, and the show goes on
// whatever the disk or the terminal does.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "sys/Handoff.h"

namespace tool {

class WorkerThread {
 public:
  WorkerThread(size_t maxJobs, size_t maxBytes);
  // Runs what was offered, then ends; a job stuck in the system (a frozen
  // filesystem) is left to finish on its own.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Queues a job that counts `bytes` against the limit; false when it does
  // not fit. Never waits.
  bool Offer(std::function<void()> job, size_t bytes);
  // Waits until every job offered so far has run, up to `patience`; false
  // when some have not.
  bool Idle(std::chrono::milliseconds patience);
  // The jobs refused since the last call.
  size_t TakeRefused() { return shared->jobs.TakeRefused(); }

  // For the tests: every worker holds its jobs, as a frozen filesystem or a
  // terminal nobody reads would hold them, until released.
  static void HoldForTests(bool hold);

 private:
  // What the thread works on, held by it too, so that a thread left to
  // finish a stuck job outlives this object safely.
  struct Shared {
    Shared(size_t maxJobs, size_t maxBytes) : jobs(maxJobs, maxBytes) {}
    Handoff<std::function<void()>> jobs;
    std::atomic<long> offered{0}, done{0};
  };
  static void Run(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared;
  std::thread thread;
};

}  // namespace tool

#include "sys/WorkerThread.h"

namespace tool {
namespace {

std::atomic<bool> held{false};

}  // namespace

void WorkerThread::HoldForTests(bool hold) { held = hold; }

WorkerThread::WorkerThread(size_t maxJobs, size_t maxBytes)
    : shared(std::make_shared<Shared>(maxJobs, maxBytes)), thread(Run, shared) {}

WorkerThread::~WorkerThread() {
  shared->jobs.Close();
  // A job blocked in the system past a few seconds keeps the thread: it
  // runs to its end after this object is gone, so every job holds what it
  // needs by value.
  if (Idle(std::chrono::seconds(5))) thread.join();
  else thread.detach();
}

bool WorkerThread::Offer(std::function<void()> job, size_t bytes) {
  if (!shared->jobs.Offer(std::move(job), bytes)) return false;
  ++shared->offered;
  return true;
}

bool WorkerThread::Idle(std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  const long wanted = shared->offered.load();
  while (shared->done.load() < wanted) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void WorkerThread::Run(std::shared_ptr<Shared> shared) {
  std::deque<std::function<void()>> taken;
  while (shared->jobs.Take(taken, std::chrono::milliseconds(200)) || !taken.empty()) {
    for (std::function<void()>& job : taken) {
      while (held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      job();
      ++shared->done;
    }
    taken.clear();
  }
}

}  // namespace tool

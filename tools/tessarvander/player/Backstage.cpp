#include "player/Backstage.h"

#include <chrono>

#include "sys/WorkerThread.h"

namespace tool {
namespace {

// A few stills of a large output at once; the rest wait for the disk.
constexpr size_t kMostJobs = 16;
constexpr size_t kMostBytes = 256u << 20;

}  // namespace

Backstage::Backstage()
    : outcomes(std::make_shared<Outcomes>()), writer(std::make_unique<WorkerThread>(kMostJobs, kMostBytes)) {}

Backstage::~Backstage() = default;

void Backstage::Write(std::function<Outcome()> job, size_t bytes, const std::string& what) {
  const bool handed = writer->Offer(
      [outcomes = outcomes, job = std::move(job)] {
        Outcome outcome = job();
        std::lock_guard<std::mutex> hold(outcomes->mutex);
        outcomes->waiting.push_back(std::move(outcome));
      },
      bytes);
  if (handed) return;
  std::lock_guard<std::mutex> hold(outcomes->mutex);
  outcomes->waiting.push_back({true, what + " was not written: the disk has not taken what came before"});
}

void Backstage::Say(Console& console) {
  std::vector<Outcome> said;
  {
    std::lock_guard<std::mutex> hold(outcomes->mutex);
    said.swap(outcomes->waiting);
  }
  for (const Outcome& outcome : said) {
    if (outcome.line.empty()) continue;  // done, nothing to say
    if (outcome.problem) console.Problem(outcome.line);
    else console.Say(outcome.line);
  }
}

bool Backstage::Settle(double seconds) {
  return writer->Idle(std::chrono::milliseconds(static_cast<long>(seconds * 1000.0)));
}

}  // namespace tool

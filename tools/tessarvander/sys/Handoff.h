// A bounded hand-off from a thread that must never wait (the frame loop) to
// one that may (a writer, a socket's thread). Offer never blocks: an item
// that would pass the limit of items or bytes is refused and counted, so
// that the writer can say once what was lost. The taker waits on a
// condition, or, when it already waits in poll() on sockets, on WakeFd().
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

namespace tool {

template <typename Item>
class Handoff {
 public:
  Handoff(size_t maxItems, size_t maxBytes) : maxItems(maxItems), maxBytes(maxBytes) {}
  ~Handoff() {
    if (wakeFd >= 0) close(wakeFd);
  }
  Handoff(const Handoff&) = delete;
  Handoff& operator=(const Handoff&) = delete;

  // Queues the item, which counts `bytes` against the limit; false, and
  // counted as refused, when it does not fit or the hand-off is closed.
  bool Offer(Item item, size_t bytes) {
    {
      std::lock_guard<std::mutex> hold(mutex);
      if (closed || items.size() >= maxItems || heldBytes + bytes > maxBytes) {
        ++refused;
        return false;
      }
      items.emplace_back(std::move(item), bytes);
      heldBytes += bytes;
    }
    ready.notify_one();
    if (wakeFd >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t ignored = write(wakeFd, &one, sizeof one);  // non-blocking
    }
    return true;
  }

  // Moves everything offered into `taken`, oldest first, waiting up to
  // `patience` for the first item. False once closed and empty.
  bool Take(std::deque<Item>& taken, std::chrono::milliseconds patience) {
    std::unique_lock<std::mutex> hold(mutex);
    ready.wait_for(hold, patience, [this] { return closed || !items.empty(); });
    if (wakeFd >= 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t ignored = read(wakeFd, &count, sizeof count);
    }
    for (auto& [item, bytes] : items) taken.push_back(std::move(item));
    items.clear();
    heldBytes = 0;
    return !closed || !taken.empty();
  }

  // No more items: the taker's wait ends.
  void Close() {
    {
      std::lock_guard<std::mutex> hold(mutex);
      closed = true;
    }
    ready.notify_all();
  }

  // A descriptor that becomes readable when an item is offered, for a taker
  // that waits in poll(); Take clears it. Made on the first call.
  int WakeFd() {
    std::lock_guard<std::mutex> hold(mutex);
    if (wakeFd < 0) wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return wakeFd;
  }

  // The items refused since the last call.
  size_t TakeRefused() {
    std::lock_guard<std::mutex> hold(mutex);
    return std::exchange(refused, 0);
  }

 private:
  const size_t maxItems, maxBytes;
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::pair<Item, size_t>> items;
  size_t heldBytes = 0;
  size_t refused = 0;
  bool closed = false;
  int wakeFd = -1;
};

}  // namespace tool

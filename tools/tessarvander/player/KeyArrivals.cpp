#include "player/KeyArrivals.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "sys/SteadyClock.h"

namespace tool {

KeyArrivals::~KeyArrivals() {
  if (listener.joinable()) {
    const char stop = 0;
    (void)!write(wake[1], &stop, 1);
    listener.join();
  }
  if (display) XCloseDisplay(static_cast<Display*>(display));
  for (int end : wake)
    if (end >= 0) close(end);
}

bool KeyArrivals::Start(const char* displayName, unsigned long window) {
  if (!displayName || window == 0) return false;
  Display* opened = XOpenDisplay(displayName);
  display = opened;
  if (!opened || pipe2(wake, O_CLOEXEC) != 0) return false;
  // A held key repeats as presses alone, as GLFW sees it, not as pairs of
  // releases and presses.
  XkbSetDetectableAutoRepeat(opened, True, nullptr);
  XSelectInput(opened, window, KeyPressMask | KeyReleaseMask);
  XFlush(opened);
  listener = std::thread([this] { Listen(); });
  return true;
}

void KeyArrivals::Listen() {
  // Signals (Ctrl-C) are the frame loop's: one that broke into Xlib's read
  // here would be taken for a lost server, which ends the process.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  auto* connection = static_cast<Display*>(display);
  pollfd watched[2] = {{ConnectionNumber(connection), POLLIN, 0}, {wake[0], POLLIN, 0}};
  bool down[256] = {};
  for (;;) {
    while (XPending(connection) > 0) {
      XEvent event;
      XNextEvent(connection, &event);
      if (event.type != KeyPress && event.type != KeyRelease) continue;
      const int keycode = static_cast<int>(event.xkey.keycode) & 0xff;
      const bool pressed = event.type == KeyPress;
      // A press of a key held down is its repeat: GLFW's callback claims
      // none for it.
      if (pressed && down[keycode]) continue;
      down[keycode] = pressed;
      Keep(keycode, pressed, event.xkey.time);
    }
    if (poll(watched, 2, -1) < 0 && errno != EINTR) return;
    if (watched[1].revents) return;
    if (watched[0].revents & (POLLERR | POLLHUP)) return;
  }
}

void KeyArrivals::Keep(int keycode, bool pressed, unsigned long serverMilliseconds) {
  const double now = SteadySeconds();
  std::lock_guard<std::mutex> lock(mutex);
  if (offsetKnown && serverMilliseconds + 0x80000000ul < lastServerMilliseconds) wraps += 4294967.296;
  lastServerMilliseconds = serverMilliseconds;
  const double server = wraps + static_cast<double>(serverMilliseconds) / 1000.0;
  if (!offsetKnown || now - server < offset) offset = now - server, offsetKnown = true;
  arrivals.push_back({keycode, pressed, server + offset});
  while (!arrivals.empty() && arrivals.front().at < now - kKeptSeconds) arrivals.pop_front();
}

double KeyArrivals::Claim(int keycode, bool pressed, double fallback) {
  std::lock_guard<std::mutex> lock(mutex);
  for (auto arrival = arrivals.begin(); arrival != arrivals.end(); ++arrival) {
    if (arrival->keycode != keycode || arrival->pressed != pressed) continue;
    const double at = arrival->at;
    arrivals.erase(arrival);
    // Never later than the callback that claims it.
    return at >= fallback - kKeptSeconds && at <= fallback ? at : fallback;
  }
  return fallback;
}

}  // namespace tool

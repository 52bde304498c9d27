// GUI responsiveness probe from outside the program: sends the window manager's
// _NET_WM_PING to a top-level window every interval and times the answer. Qt answers
// the ping on its GUI thread, so the round trip is how long the window's event loop
// takes to notice an input event while it works.
//
// Usage: wm_ping_probe <window id> <seconds> [interval ms] [timeout ms]
// Prints: count, lost, median, p99 and max round trip in ms.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Waits for the ping with this timestamp to come back on the root window.
bool WaitPong(Display* dpy, Window root, Atom protocols, Atom ping, unsigned long stamp, double deadline) {
  const int fd = ConnectionNumber(dpy);
  while (NowMs() < deadline) {
    while (XPending(dpy) > 0) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == ClientMessage && ev.xclient.window == root && ev.xclient.message_type == protocols &&
          static_cast<Atom>(ev.xclient.data.l[0]) == ping &&
          static_cast<unsigned long>(ev.xclient.data.l[1]) == stamp)
        return true;
    }
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, std::max(1, static_cast<int>(deadline - NowMs())));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <window id> <seconds> [interval ms] [timeout ms]\n", argv[0]);
    return 2;
  }
  const Window win = std::strtoul(argv[1], nullptr, 0);
  const double seconds = std::atof(argv[2]);
  const int intervalMs = argc > 3 ? std::atoi(argv[3]) : 100;
  const int timeoutMs = argc > 4 ? std::atoi(argv[4]) : 2000;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "cannot open display\n");
    return 1;
  }
  const Window root = DefaultRootWindow(dpy);
  const Atom protocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
  const Atom ping = XInternAtom(dpy, "_NET_WM_PING", False);
  // Qt sends the answer to the root window for StructureNotify and SubstructureRedirect
  // listeners; the probe is no window manager, so it takes the first.
  XSelectInput(dpy, root, StructureNotifyMask);

  std::vector<double> rtt;
  int lost = 0;
  const double end = NowMs() + seconds * 1000.0;
  unsigned long stamp = 1;
  while (NowMs() < end) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = win;
    ev.xclient.message_type = protocols;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(ping);
    ev.xclient.data.l[1] = static_cast<long>(++stamp);
    ev.xclient.data.l[2] = static_cast<long>(win);
    const double t0 = NowMs();
    XSendEvent(dpy, win, False, NoEventMask, &ev);
    XFlush(dpy);
    if (WaitPong(dpy, root, protocols, ping, stamp, t0 + timeoutMs))
      rtt.push_back(NowMs() - t0);
    else
      ++lost;
    std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
  }
  XCloseDisplay(dpy);
  if (rtt.empty()) {
    std::printf("pings=0 lost=%d\n", lost);
    return 1;
  }
  std::sort(rtt.begin(), rtt.end());
  const auto at = [&](double q) {
    return rtt[std::min(rtt.size() - 1, static_cast<size_t>(q * rtt.size()))];
  };
  std::printf("pings=%zu lost=%d median_ms=%.2f p99_ms=%.2f max_ms=%.2f\n", rtt.size(), lost, at(0.5),
              at(0.99), rtt.back());
  return lost == 0 ? 0 : 1;
}

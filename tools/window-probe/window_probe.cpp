// window-probe: how long a program's windows keep the user waiting. Every interval it asks one
// window of the program (found by its process id) for a reply with the window manager's ping
// (_NET_WM_PING), which the program answers from its event loop, and records how long the reply
// took. A reply that takes long is a frozen window. Runs until the program's windows are gone or
// the time is up, then prints the figures.
//
// Usage: window-probe --pid PID [--interval-ms 100] [--seconds N] [--log FILE]
//   --log FILE  one line per ping: the moment it was sent (seconds of the monotonic clock, as
//               std::chrono::steady_clock counts them in any program here), reply time in ms
// Output (stdout): "pings N", "longest reply MS ms at S s", "replies over 250 ms K".

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  long pid = 0;
  int intervalMs = 100;
  double seconds = 0; // 0: until the windows are gone
  std::string log;
};

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--pid") options.pid = std::strtol(value, nullptr, 10);
    else if (name == "--interval-ms") options.intervalMs = std::atoi(value);
    else if (name == "--seconds") options.seconds = std::atof(value);
    else if (name == "--log") options.log = value;
  }
  if (options.pid <= 0 || options.intervalMs <= 0) {
    std::fprintf(stderr, "usage: window-probe --pid PID [--interval-ms 100] [--seconds N] [--log FILE]\n");
    std::exit(2);
  }
  return options;
}

std::optional<long> WindowPid(Display* display, Window window, Atom pidAtom) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::optional<long> pid;
  if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
          Success &&
      data && count == 1 && format == 32) {
    pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
  }
  if (data) XFree(data);
  return pid;
}

// The program's top-level windows that take pings; mapped ones first.
std::vector<Window> ProgramWindows(Display* display, long pid) {
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
  const Atom pingAtom = XInternAtom(display, "_NET_WM_PING", False);
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned int count = 0;
  std::vector<Window> mapped, unmapped;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return {};
  for (unsigned int i = 0; i < count; ++i) {
    if (WindowPid(display, children[i], pidAtom) != pid) continue;
    Atom* protocols = nullptr;
    int protocolCount = 0;
    bool pings = false;
    if (XGetWMProtocols(display, children[i], &protocols, &protocolCount)) {
      for (int p = 0; p < protocolCount; ++p) pings = pings || protocols[p] == pingAtom;
      XFree(protocols);
    }
    if (!pings) continue;
    XWindowAttributes attributes;
    const bool isMapped = XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable;
    (isMapped ? mapped : unmapped).push_back(children[i]);
  }
  if (children) XFree(children);
  mapped.insert(mapped.end(), unmapped.begin(), unmapped.end());
  return mapped;
}

bool ProcessAlive(long pid) { return access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0; }

} // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "window-probe: cannot open the display\n");
    return 1;
  }
  // Caught errors (a window that went away between look-up and ping) are not fatal.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  const Window root = DefaultRootWindow(display);
  // The program answers on the root window with the structure-notify mask.
  XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  std::FILE* log = options.log.empty() ? nullptr : std::fopen(options.log.c_str(), "w");

  const Clock::time_point start = Clock::now();
  const auto since = [&](Clock::time_point t) { return std::chrono::duration<double>(t - start).count(); };
  long serial = 0;
  long pings = 0, slow = 0;
  double longestMs = 0, longestAt = 0;
  for (;;) {
    if (options.seconds > 0 && since(Clock::now()) >= options.seconds) break;
    if (!ProcessAlive(options.pid)) break;
    const std::vector<Window> windows = ProgramWindows(display, options.pid);
    if (windows.empty()) {
      // Not up yet, or gone: look again shortly.
      poll(nullptr, 0, options.intervalMs);
      continue;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = windows.front();
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(ping);
    event.xclient.data.l[1] = ++serial; // the timestamp field carries the ping's number
    event.xclient.data.l[2] = static_cast<long>(windows.front());
    const Clock::time_point sent = Clock::now();
    XSendEvent(display, windows.front(), False, NoEventMask, &event);
    XFlush(display);

    // Wait for this ping's answer on the root window; the program may also end meanwhile.
    bool answered = false;
    while (!answered && ProcessAlive(options.pid)) {
      while (!answered && XPending(display)) {
        XEvent reply;
        XNextEvent(display, &reply);
        answered = reply.type == ClientMessage && reply.xclient.message_type == protocols &&
                   static_cast<Atom>(reply.xclient.data.l[0]) == ping && reply.xclient.data.l[1] == serial;
      }
      if (answered) break;
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      poll(&fd, 1, 50);
      // A window destroyed before it answered never will: ask another.
      if (std::chrono::duration<double>(Clock::now() - sent).count() > 1.0 &&
          ProgramWindows(display, options.pid).empty()) {
        break;
      }
    }
    if (!answered) continue;
    const Clock::time_point back = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(back - sent).count();
    ++pings;
    if (ms > 250) ++slow;
    if (ms > longestMs) {
      longestMs = ms;
      longestAt = since(sent);
    }
    if (log) {
      std::fprintf(log, "%.3f %.1f\n", std::chrono::duration<double>(sent.time_since_epoch()).count(), ms);
    }
    const auto next = sent + std::chrono::milliseconds(options.intervalMs);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    if (wait > 0) poll(nullptr, 0, static_cast<int>(wait));
  }
  if (log) std::fclose(log);
  std::printf("pings %ld\nlongest reply %.0f ms at %.1f s\nreplies over 250 ms %ld\n", pings, longestMs, longestAt,
              slow);
  XCloseDisplay(display);
  return 0;
}

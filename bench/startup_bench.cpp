// Start-up benchmark: how long from starting a program until its window's first frame is on
// screen with its text drawn, and how much resident memory it holds at that moment. Kavoni is
// compared with a floor window; the two alternate, and medians are reported.
//
// usage: startup_bench [--wine] KAVONI FLOOR [PAIRS]   (needs an X display)
//
// With --wine both are Windows programs, started through Wine; the memory is then the Wine
// process's own, beside a wineserver that the caller keeps running for all the runs, and whose
// process the environment's KAVONI_BENCH_SERVER_PID names, if it is to count in the CPU time.
//
// Beside the wall-clock time, each run's CPU time until that moment is taken: the program's
// threads', and the server's while it ran. Other work on the machine stretches the first far
// more than the second, so the CPU time tells more on a busy machine.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "window/layout.h"

namespace {

using Clock = std::chrono::steady_clock;

// The "Make Sprite" button's rectangle in both windows, in pixels at the 96 DPI of the
// benchmark's X server; its caption is the text whose arrival marks a drawn frame.
constexpr kavoni::layout::PixelRect kButton =
    kavoni::layout::ToPixels(kavoni::layout::kCommand1Control.rect);
constexpr int kButtonLeft = kButton.left, kButtonTop = kButton.top, kButtonWidth = kButton.width,
              kButtonHeight = kButton.height;
// Caption glyphs are near-black on a light grey face. A window not yet drawn shows the X
// server's black, so a drawn caption means a mostly light button with some dark pixels on it.
constexpr int kDarkLuminance = 96;
constexpr int kLightLuminance = 160;
constexpr int kMinTextPixels = 40;
constexpr auto kGiveUpAfter = std::chrono::seconds(20);

struct Sample {
  double milliseconds;
  long rss_kib;
  double cpu_milliseconds;
};

int IgnoreXErrors(Display*, XErrorEvent*) {
  return 0;
}

std::optional<pid_t> WindowPid(Display* display, Window window) {
  static const Atom pid_atom = XInternAtom(display, "_NET_WM_PID", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) != Success ||
      data == nullptr) {
    return std::nullopt;
  }
  std::optional<pid_t> pid;
  if (count == 1 && format == 32) {
    pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
  }
  XFree(data);
  return pid;
}

// The program's viewable window with its title, among the root's children or, where a window
// manager has put it in a frame, one level further down.
std::optional<Window> FindViewableWindow(Display* display, pid_t pid, Window parent, int depth) {
  Window root_return, parent_return;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, parent, &root_return, &parent_return, &children, &count)) {
    return std::nullopt;
  }
  std::optional<Window> found;
  for (unsigned int i = 0; i < count && !found; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes) ||
        attributes.map_state != IsViewable) {
      continue;
    }
    if (WindowPid(display, children[i]) == pid) {
      found = children[i];
    } else if (depth > 0) {
      found = FindViewableWindow(display, pid, children[i], depth - 1);
    }
  }
  if (children != nullptr) {
    XFree(children);
  }
  return found;
}

bool ButtonTextDrawn(Display* display, Window window) {
  XImage* image = XGetImage(display, window, kButtonLeft, kButtonTop, kButtonWidth, kButtonHeight,
                            AllPlanes, ZPixmap);
  if (image == nullptr) {
    return false;
  }
  int dark = 0;
  int light = 0;
  for (int y = 0; y < kButtonHeight; ++y) {
    for (int x = 0; x < kButtonWidth; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      const int r = static_cast<int>((pixel >> 16) & 0xff);
      const int g = static_cast<int>((pixel >> 8) & 0xff);
      const int b = static_cast<int>(pixel & 0xff);
      const int luminance = (r * 299 + g * 587 + b * 114) / 1000;
      if (luminance < kDarkLuminance) {
        ++dark;
      } else if (luminance > kLightLuminance) {
        ++light;
      }
    }
  }
  XDestroyImage(image);
  return dark >= kMinTextPixels && light * 2 >= kButtonWidth * kButtonHeight;
}

long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

// The CPU time that all threads of `pid` have had so far, from the scheduler's own count.
double CpuMilliseconds(pid_t pid) {
  if (pid <= 0) {
    return 0;
  }
  double nanoseconds = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    double on_cpu = 0;
    if (schedstat >> on_cpu) {
      nanoseconds += on_cpu;
    }
  }
  return nanoseconds / 1e6;
}

pid_t ServerPid() {
  const char* pid = std::getenv("KAVONI_BENCH_SERVER_PID");
  return pid == nullptr ? 0 : static_cast<pid_t>(std::atol(pid));
}

// `launcher` runs the program (wine, say), or is nullptr to run it directly.
std::optional<Sample> Measure(Display* display, const char* launcher, const char* program) {
  const double server_before = CpuMilliseconds(ServerPid());
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return std::nullopt;
  }
  if (pid == 0) {
    if (launcher != nullptr) {
      execlp(launcher, launcher, program, static_cast<char*>(nullptr));
    } else {
      execl(program, program, static_cast<char*>(nullptr));
    }
    std::perror("exec");
    _exit(127);
  }
  std::optional<Sample> sample;
  std::optional<Window> window;
  while (Clock::now() - start < kGiveUpAfter) {
    if (!window) {
      window = FindViewableWindow(display, pid, DefaultRootWindow(display), 1);
    }
    if (window && ButtonTextDrawn(display, *window)) {
      const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
      sample = Sample{elapsed.count(), ResidentKib(pid),
                      CpuMilliseconds(pid) + CpuMilliseconds(ServerPid()) - server_before};
      break;
    }
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      std::fprintf(stderr, "%s exited before drawing its window\n", program);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  if (!sample) {
    std::fprintf(stderr, "%s drew no text within %lld s\n", program,
                 static_cast<long long>(kGiveUpAfter.count()));
  }
  return sample;
}

template <typename T>
T Median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The spread of `values`: least, lower quartile, upper quartile, most (nearest rank).
void PrintSpread(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const auto at = [&](double fraction) {
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) +
                                           0.5)];
  };
  std::printf("  %-26s %8.3f %8.3f %8.3f %8.3f\n", what, values.front(), at(0.25), at(0.75),
              values.back());
}

}  // namespace

int main(int argc, char* argv[]) {
  // The targets: within 10 % of the floor's time, and 5 % of its memory natively or 6 % under
  // Wine, whose own share of a small program's memory moves more from run to run. Single runs
  // under Wine vary widely, so it takes more pairs.
  const char* launcher = nullptr;
  double memory_target = 1.05;
  int least_pairs = 15;
  if (argc > 1 && std::strcmp(argv[1], "--wine") == 0) {
    launcher = "wine";
    memory_target = 1.06;
    least_pairs = 31;
    --argc;
    ++argv;
  }
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: startup_bench [--wine] KAVONI FLOOR [PAIRS]\n");
    return 2;
  }
  const char* kavoni = argv[1];
  const char* floor = argv[2];
  const int pairs = argc == 4 ? std::max(least_pairs, std::atoi(argv[3])) : 21;

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "startup_bench: no X display; run it under xvfb-run -a\n");
    return 1;
  }
  XSetErrorHandler(IgnoreXErrors);

  // One unmeasured pair first, so both start with the libraries already in the page cache.
  Measure(display, launcher, kavoni);
  Measure(display, launcher, floor);

  std::vector<double> kavoni_ms, floor_ms, time_ratios, kavoni_cpu, floor_cpu, cpu_ratios;
  std::vector<long> kavoni_kib, floor_kib;
  std::printf("%4s  %12s %12s  %12s %12s  %12s %12s\n", "pair", "kavoni ms", "floor ms",
              "kavoni KiB", "floor KiB", "kavoni CPU", "floor CPU");
  for (int pair = 0; pair < pairs; ++pair) {
    // Alternate which goes first, so neither always follows the other.
    const bool kavoni_first = pair % 2 == 0;
    std::optional<Sample> a = Measure(display, launcher, kavoni_first ? kavoni : floor);
    std::optional<Sample> b = Measure(display, launcher, kavoni_first ? floor : kavoni);
    if (!a || !b) {
      return 1;
    }
    const Sample& k = kavoni_first ? *a : *b;
    const Sample& f = kavoni_first ? *b : *a;
    kavoni_ms.push_back(k.milliseconds);
    floor_ms.push_back(f.milliseconds);
    time_ratios.push_back(k.milliseconds / f.milliseconds);
    kavoni_cpu.push_back(k.cpu_milliseconds);
    floor_cpu.push_back(f.cpu_milliseconds);
    cpu_ratios.push_back(k.cpu_milliseconds / f.cpu_milliseconds);
    kavoni_kib.push_back(k.rss_kib);
    floor_kib.push_back(f.rss_kib);
    std::printf("%4d  %12.1f %12.1f  %12ld %12ld  %12.1f %12.1f\n", pair + 1, k.milliseconds,
                f.milliseconds, k.rss_kib, f.rss_kib, k.cpu_milliseconds, f.cpu_milliseconds);
  }
  XCloseDisplay(display);

  const double k_ms = Median(kavoni_ms), f_ms = Median(floor_ms);
  const long k_kib = Median(kavoni_kib), f_kib = Median(floor_kib);
  const double time_ratio = k_ms / f_ms;
  const double memory_ratio = static_cast<double>(k_kib) / static_cast<double>(f_kib);
  std::printf("\nmedian of %d pairs\n", pairs);
  std::printf(
      "  time to first drawn frame: kavoni %.1f ms, floor %.1f ms, ratio %.3f (target 1.10)\n",
      k_ms, f_ms, time_ratio);
  std::printf(
      "  resident memory then:      kavoni %ld KiB, floor %ld KiB, ratio %.3f (target %.2f)\n",
      k_kib, f_kib, memory_ratio, memory_target);
  const double k_cpu = Median(kavoni_cpu), f_cpu = Median(floor_cpu);
  std::printf("  CPU time until then:       kavoni %.1f ms, floor %.1f ms, ratio %.3f\n", k_cpu,
              f_cpu, k_cpu / f_cpu);
  std::printf("\nspread                       least    lower    upper     most quartile\n");
  PrintSpread("kavoni ms", kavoni_ms);
  PrintSpread("floor ms", floor_ms);
  PrintSpread("time ratio within a pair", time_ratios);
  PrintSpread("kavoni CPU ms", kavoni_cpu);
  PrintSpread("floor CPU ms", floor_cpu);
  PrintSpread("CPU ratio within a pair", cpu_ratios);
  std::printf("  %s\n", time_ratio <= 1.10 && memory_ratio <= memory_target ? "within target"
                                                                            : "OUTSIDE target");
  return 0;
}

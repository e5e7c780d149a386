// Tolvane on a real X display, beside the peer a Linux user would otherwise reach for, at three
// sizes of desktop: three terminals alone, and with one client holding 500 or 1,000 more
// windows. For each size: key press to activation for a quick switch, key press to the HUD on
// screen (less the designed 0.1 s delay), the idle CPU of the tolvane process over a quiet span,
// its memory beside a bare Qt Widgets window's, Alt-Space to the search palette on screen with
// the keyboard held and Escape to the palette gone, and `rofi -show window` from start to its
// window on screen; and the floors under the two switches, what openbox and the X server alone
// take to activate a window and to map one above all others. Each size gets a private Xvfb
// display with openbox (without its Alt-Space binding) and its own Tolvane.
// Keys are injected with XTEST on our own connection, so the clock starts when the press
// leaves for the server.
//
// TOLVANE_BENCH_IDLE_SECONDS shortens or lengthens the quiet span (30 s: six background passes,
// one of them full). TOLVANE_BENCH_EXECUTABLE runs another build of tolvane (an older commit's,
// say) under the same measurements.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "desktops/driver/tolvane_process.h"
#include "desktops/x11/support/overlay.h"
#include "support/x11/desktop_tools.h"
#include "support/x11/x_session.h"

namespace tolvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr xcb_keysym_t kSuperL = 0xffeb;
constexpr xcb_keysym_t kTab = 0xff09;
constexpr xcb_keysym_t kEscape = 0xff1b;
constexpr xcb_keysym_t kAltL = 0xffe9;
constexpr xcb_keysym_t kSpace = 0x20;

/// Managed windows per desktop: three terminals, plus one client's windows for the rest.
constexpr int kSizes[] = {3, 503, 1003};
constexpr int kTerminals = 3;
constexpr int kSwitchRuns = 30;
constexpr int kRofiRuns = 10;
constexpr double kShowDelaySeconds = 0.1;
/// Starting a thousand windows, and Tolvane's warm-up over them, take longer than a test's wait.
constexpr std::chrono::milliseconds kStartBound{120000};
/// Time for what a switch leaves behind (re-hides, the focus re-query) before a quiet span.
constexpr std::chrono::milliseconds kSettle{2000};

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string tolvaneExecutable() {
  const char* other = std::getenv("TOLVANE_BENCH_EXECUTABLE");
  return other && *other ? other : TOLVANE_EXECUTABLE;
}

std::chrono::milliseconds idleSpan() {
  const char* text = std::getenv("TOLVANE_BENCH_IDLE_SECONDS");
  int seconds = 30;
  if (text) std::from_chars(text, text + std::char_traits<char>::length(text), seconds);
  return std::chrono::milliseconds(1000LL * std::max(1, seconds));
}

/// CPU time the process has used, all threads, in seconds: utime + stime of /proc/<pid>/stat.
std::optional<double> cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces and parentheses; the fields start after its last ')'.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  // Fields 3 to 15 of the line: utime and stime are the last two.
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n >= 14) ticks += std::strtod(field.c_str(), nullptr);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

/// A "Name:   1234 kB" line of a /proc file, in MiB.
std::optional<double> mebibytes(const std::string& path, const std::string& name) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with(name + ":")) continue;
    return std::strtod(line.c_str() + name.size() + 1, nullptr) / 1024.0;
  }
  return std::nullopt;
}

void reportMemory(benchmark::State& state, const std::string& prefix, pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  state.counters[prefix + "rss_MiB"] = mebibytes(proc + "/status", "VmRSS").value_or(-1);
  state.counters[prefix + "private_dirty_MiB"] =
      mebibytes(proc + "/smaps_rollup", "Private_Dirty").value_or(-1);
}

/// The display, its windows and a running Tolvane for one size of desktop.
class Desktop {
 public:
  explicit Desktop(int windows) : windows_(windows) {
    // Alt-Space is the palette's, not openbox's window menu.
    if (!test::freeAltSpaceFromOpenbox(x, home.path()) || !x.start()) return;
    for (const char* title : {"one", "two", "three"}) {
      if (!x.startXterm(title)) return;
    }
    if (const int more = windows - kTerminals; more > 0) {
      const auto client = x.startClient({TOLVANE_TEST_CLIENT, "--count", std::to_string(more)},
                                        static_cast<std::size_t>(more), kStartBound);
      if (!client) return;
    }
    // What watch() selects, and focus changes: a panel's keyboard grab shows in them.
    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE |
                                   XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(x.xcb(), x.root(), XCB_CW_EVENT_MASK, &rootMask);
    x.observeEvents([this](const xcb_generic_event_t& event) {
      noteOverlayMap(event);
      if (test::keyboardGrabbedForPanel(event, x.root())) ++panelGrabs_;
    });
    tolvane = std::make_unique<test::TolvaneProcess>(tolvaneExecutable(), home.path(),
                                                     test::Environment{{"DISPLAY", x.display()}});
    const bool warmed = x.waitUntil([&] { return tolvane->count("window snapshot warmed") > 0; },
                                    {tolvane->pump()}, kStartBound);
    symbols_ = xcb_key_symbols_alloc(x.xcb());
    // Untimed: the first switches and the first HUD pay for what is loaded on first use.
    ready = warmed && quickSwitch() && quickSwitch() && heldSwitch();
    // The palette's first opening pays for its own first use; a desktop without it still
    // measures everything else.
    if (ready) paletteShow();
  }
  ~Desktop() {
    if (symbols_) xcb_key_symbols_free(symbols_);
  }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  int windows() const { return windows_; }

  /// Super+Tab tapped: seconds from the Tab press until the active window changed.
  std::optional<double> quickSwitch() {
    settle();
    const auto before = x.activeWindow();
    key(kSuperL, true);
    const auto start = Clock::now();
    key(kTab, true);
    key(kTab, false);
    key(kSuperL, false);
    xcb_flush(x.xcb());
    if (!x.waitUntil([&] { return x.activeWindow() != before; }, {tolvane->pump()})) {
      return std::nullopt;
    }
    return secondsSince(start);
  }

  /// Super held, Tab tapped: seconds from the Tab press until the HUD is mapped, less the
  /// designed delay; then Escape, and the HUD gone.
  std::optional<double> heldSwitch() {
    settle();
    key(kSuperL, true);
    overlayMaps_.clear();
    const auto start = Clock::now();
    key(kTab, true);
    key(kTab, false);
    xcb_flush(x.xcb());
    const bool shown = x.waitUntil([&] { return panelMapped(); }, {tolvane->pump()});
    const double seconds = secondsSince(start) - kShowDelaySeconds;
    key(kEscape, true);
    key(kEscape, false);
    key(kSuperL, false);
    xcb_flush(x.xcb());
    if (!shown || !x.waitUntil([&] { return !overlayOnScreen(); }, {tolvane->pump()})) {
      return std::nullopt;
    }
    return seconds;
  }

  /// Alt-Space: seconds from the Space press until the palette is mapped and holds the
  /// keyboard; then Escape, and the palette gone.
  std::optional<double> paletteShow() {
    const auto opened = openPalette();
    if (!opened || !escapePalette()) return std::nullopt;
    return opened;
  }

  /// Alt-Space, then Escape: seconds from the Escape press until the palette is unmapped.
  std::optional<double> paletteEscape() {
    if (!openPalette()) return std::nullopt;
    return escapePalette();
  }

  /// `rofi -show window`: seconds from its start until its window is mapped.
  std::optional<double> rofiShow() {
    overlayMaps_.clear();
    const auto start = Clock::now();
    const pid_t rofi = x.spawn({"rofi", "-show", "window"});
    const bool shown = x.waitUntil([&] { return panelMapped(); }, {}, kStartBound);
    const double seconds = secondsSince(start);
    x.kill(rofi);
    if (!shown || !x.waitUntil([&] { return !overlayOnScreen(); })) return std::nullopt;
    return seconds;
  }

  /// The window manager's part of a quick switch: a pager's activation request, until
  /// `_NET_ACTIVE_WINDOW` names the window.
  std::optional<double> pagerActivation() {
    const auto clients = x.clientList();
    if (clients.size() < 2) return std::nullopt;
    // Between the two newest windows, as the quick switches go back and forth between the two
    // most recent ones, which are those after the warm-up.
    const auto newest = clients.back();
    const auto second = clients[clients.size() - 2];
    const auto current = x.activeWindow();
    const auto target = current == newest ? second : newest;
    settle();
    const auto start = Clock::now();
    x.sendRootMessage(target, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, current});
    if (!x.waitUntil([&] { return x.activeWindow() == target; })) return std::nullopt;
    return secondsSince(start);
  }

  /// The count of Tolvane's "window snapshot warmed" line.
  std::optional<int> warmedEntries() const {
    const std::string marker = "window snapshot warmed count=";
    const auto at = tolvane->log().find(marker);
    if (at == std::string::npos) return std::nullopt;
    return std::atoi(tolvane->log().c_str() + at + marker.size());
  }

  /// Activates the newest managed window as a pager would; false when it did not become active.
  bool focusNewest() {
    const auto clients = x.clientList();
    if (clients.empty()) return false;
    x.sendRootMessage(clients.back(), "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, XCB_NONE});
    return x.waitUntil([&] { return x.activeWindow() == clients.back(); }, {tolvane->pump()});
  }

  /// The X server's part of showing the HUD: an override-redirect window of the HUD's size
  /// mapped above every other, until its MapNotify; then unmapped again.
  std::optional<double> overlayMap() {
    if (!hud_) return std::nullopt;
    const auto& hud = *hud_;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x.xcb())).data;
    const xcb_window_t window = xcb_generate_id(x.xcb());
    const std::uint32_t values[] = {screen->white_pixel, 1};
    xcb_create_window(x.xcb(), XCB_COPY_FROM_PARENT, window, x.root(), hud.x, hud.y, hud.width,
                      hud.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    settle();
    overlayMaps_.clear();
    const auto start = Clock::now();
    xcb_map_window(x.xcb(), window);
    xcb_flush(x.xcb());
    const bool shown = x.waitUntil([&] { return panelMapped(); });
    const double seconds = secondsSince(start);
    xcb_destroy_window(x.xcb(), window);
    x.sync();
    if (!shown) return std::nullopt;
    return seconds;
  }

  /// Waits until the window manager has handled everything the last measurement caused. A
  /// window that leaves the screen exposes the ones below: openbox repaints their frames and
  /// the server is busy with that for a while, which would land on the next measurement.
  void settle() {
    x.syncWindowManager(nullptr, {tolvane->pump()});
    x.sync();
  }

  /// Lets the display run for `span` while reading what Tolvane logs; no key is touched.
  void idle(std::chrono::milliseconds span) {
    x.waitUntil([] { return false; }, {tolvane->pump()}, span);
  }

  test::XSession x;
  test::TempDir home;
  std::unique_ptr<test::TolvaneProcess> tolvane;
  bool ready = false;

 private:
  void key(xcb_keysym_t keysym, bool press) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
    if (!codes) return;
    xcb_test_fake_input(x.xcb(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, codes[0],
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    std::free(codes);
  }

  std::optional<double> openPalette() {
    settle();
    // The focused window hears of the grab; the root does when it comes before Alt-Space's
    // own passive grab has ended.
    const std::uint32_t focusMask = XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(x.xcb(), x.activeWindow(), XCB_CW_EVENT_MASK, &focusMask);
    overlayMaps_.clear();
    const int grabs = panelGrabs_;
    key(kAltL, true);
    const auto start = Clock::now();
    key(kSpace, true);
    key(kSpace, false);
    key(kAltL, false);
    xcb_flush(x.xcb());
    if (!x.waitUntil([&] { return panelGrabs_ > grabs && panelMapped(); }, {tolvane->pump()})) {
      return std::nullopt;
    }
    return secondsSince(start);
  }

  std::optional<double> escapePalette() {
    const xcb_window_t palette = panel_;
    unmapped_.clear();
    const auto start = Clock::now();
    key(kEscape, true);
    key(kEscape, false);
    xcb_flush(x.xcb());
    const bool gone = x.waitUntil(
        [&] { return std::find(unmapped_.begin(), unmapped_.end(), palette) != unmapped_.end(); },
        {tolvane->pump()});
    if (!gone) return std::nullopt;
    return secondsSince(start);
  }

  // A panel counts from its MapNotify, and is gone at its UnmapNotify, read as the wait reads
  // events: looking through the root's children instead would take longer the more windows
  // there are.
  void noteOverlayMap(const xcb_generic_event_t& event) {
    const auto type = event.response_type & 0x7f;
    if (type == XCB_UNMAP_NOTIFY) {
      unmapped_.push_back(reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window);
    }
    if (type != XCB_MAP_NOTIFY) return;
    const auto& map = reinterpret_cast<const xcb_map_notify_event_t&>(event);
    if (map.override_redirect) overlayMaps_.push_back(map.window);
  }
  /// Whether a panel (larger than a toolkit's helper windows) was mapped since the last clear.
  bool panelMapped() {
    for (auto window : overlayMaps_) {
      auto* geometry = xcb_get_geometry_reply(x.xcb(), xcb_get_geometry(x.xcb(), window), nullptr);
      const bool panel = geometry && geometry->width > 100 && geometry->height > 40;
      if (panel) {
        hud_ = *geometry;
        panel_ = window;
      }
      std::free(geometry);
      if (panel) return true;
    }
    return false;
  }
  bool overlayOnScreen() { return test::mappedOverlay(x.xcb(), x.root()).has_value(); }

  int windows_;
  xcb_key_symbols_t* symbols_ = nullptr;
  std::vector<xcb_window_t> overlayMaps_;
  /// Keyboard grabs for a panel seen so far.
  int panelGrabs_ = 0;
  /// The latest panel's window, and the windows unmapped since the last clear.
  xcb_window_t panel_ = XCB_WINDOW_NONE;
  std::vector<xcb_window_t> unmapped_;
  /// Where the latest panel was: the HUD's place and size, for the X server's floor.
  std::optional<xcb_get_geometry_reply_t> hud_;
  xcb_window_t previousActive_ = XCB_WINDOW_NONE;
};

/// The desktop of this size; the previous size's is ended first, so one display runs at a time.
Desktop& desktop(int windows) {
  static std::unique_ptr<Desktop> current;
  if (!current || current->windows() != windows) {
    current.reset();
    current = std::make_unique<Desktop>(windows);
  }
  return *current;
}

/// A measurement the desktop times itself, once per repetition; it answers nothing when what it
/// waited for never came.
using Timed = std::optional<double> (Desktop::*)();

void timed(benchmark::State& state, int windows, Timed measure, const char* failure) {
  auto& d = desktop(windows);
  if (!d.ready) return state.SkipWithError("no desktop");
  for (auto _ : state) {
    const auto seconds = (d.*measure)();
    if (!seconds) return state.SkipWithError(failure);
    state.SetIterationTime(*seconds);
  }
}

void idleCpu(benchmark::State& state, int windows) {
  auto& d = desktop(windows);
  if (!d.ready) return state.SkipWithError("no desktop");
  for (auto _ : state) {
    // The newest window's application frontmost: at 503 and 1,003 windows the client that
    // holds all but three, which every background pass then refreshes.
    if (!d.focusNewest()) return state.SkipWithError("no activation");
    d.idle(kSettle);
    const pid_t pid = d.tolvane->pid();
    const auto before = cpuSeconds(pid);
    const auto start = Clock::now();
    d.idle(idleSpan());
    const double span = secondsSince(start);
    const auto after = cpuSeconds(pid);
    if (!before || !after) return state.SkipWithError("no /proc entry for tolvane");
    state.SetIterationTime(span);
    state.counters["cpu_percent"] = (*after - *before) / span * 100.0;
  }
}

void memory(benchmark::State& state, int windows) {
  auto& d = desktop(windows);
  if (!d.ready) return state.SkipWithError("no desktop");
  for (auto _ : state) {
    reportMemory(state, "", d.tolvane->pid());
    // How many entries the warm-up found: a warm-up cut short by its deadline lists fewer.
    state.counters["warmed_entries"] = d.warmedEntries().value_or(-1);
    const auto bare = d.x.startClient({TOLVANE_BARE_QT_WINDOW});
    if (!bare) return state.SkipWithError("the bare Qt window did not come");
    d.idle(kSettle);  // time to paint, as Tolvane has painted its HUD
    reportMemory(state, "bare_qt_", bare->pid);
    d.x.kill(bare->pid);
  }
}

/// One size after the other, every measurement of a size on its one desktop. Memory comes
/// first: it is taken after the warm-up and one HUD.
bool registerAll() {
  struct Switch {
    const char* name;
    Timed measure;
    const char* failure;
    int runs;
  };
  const Switch switches[] = {
      {"QuickSwitchKeyPressToActivation", &Desktop::quickSwitch, "no activation", kSwitchRuns},
      {"HeldKeyPressToHudMappedLessDelay", &Desktop::heldSwitch, "the HUD did not come and go",
       kSwitchRuns},
      // The floors under the two switches: what the window manager and the X server take.
      {"WindowManagerPagerActivation", &Desktop::pagerActivation, "no activation", kSwitchRuns},
      {"XServerOverlayMap", &Desktop::overlayMap, "no overlay", kSwitchRuns},
      {"PaletteAltSpaceToMappedAndGrabbed", &Desktop::paletteShow,
       "the palette did not come and go", kSwitchRuns},
      {"PaletteEscapeToUnmapped", &Desktop::paletteEscape, "the palette did not come and go",
       kSwitchRuns},
      {"RofiShowWindowStartToMapped", &Desktop::rofiShow, "rofi did not come and go", kRofiRuns},
  };
  for (const int windows : kSizes) {
    const std::string size = "/windows:" + std::to_string(windows);
    benchmark::RegisterBenchmark(("Memory" + size).c_str(), memory, windows)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    for (const Switch& s : switches) {
      benchmark::RegisterBenchmark((s.name + size).c_str(), timed, windows, s.measure, s.failure)
          ->UseManualTime()
          ->Iterations(1)
          ->Repetitions(s.runs)
          ->ReportAggregatesOnly(true)
          ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(("IdleCpu" + size).c_str(), idleCpu, windows)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  }
  return true;
}

[[maybe_unused]] const bool registered = registerAll();

}  // namespace
}  // namespace tolvane

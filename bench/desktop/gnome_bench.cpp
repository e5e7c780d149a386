// Tolvane on a private headless GNOME Shell (the desktop suite's harness) at three sizes of
// desktop: three test client windows alone, and with one client holding 500 or 1,000 more.
// For each size:
//
// - quick tap: Super-Tab typed through Mutter's remote desktop until the test client reports
//   the new activation, beside GNOME's own Alt-Tab quick switch typed the same way on the same
//   Shell (both timed from starting the key tool, so the medians' difference is Tolvane's);
// - held HUD: from starting the key tool to the extension's word that the panel has been
//   painted, less the designed 0.1 s (the key tool's own start is in both);
// - idle CPU of Tolvane and of the Shell over a quiet span, beside the same Shell and windows
//   without the extension and without Tolvane;
// - resident memory of Tolvane and of the Shell, with and without.
//
// Run as root inside `dbus-run-session`: tolvane-gnome-bench [ROUNDS] [TOLVANE]. TOLVANE is the
// program measured (default: this build's; point it at build/release/src/tolvane for an
// optimised one). BENCH_SIZES ("3,503,1003") and BENCH_IDLE_SECONDS (10) change the sizes and
// the quiet span.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "desktops/driver/tolvane_process.h"
#include "desktops/gnome/support/gnome_session.h"
#include "support/temp_dir.h"

namespace tolvane::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kBound{20000};

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> samples) {
  if (samples.empty()) return -1;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

std::string summary(const std::vector<double>& samples) {
  if (samples.empty()) return "no samples";
  char text[96];
  std::snprintf(text, sizeof text, "median %6.2f ms, min %6.2f, max %6.2f (%zu)", median(samples),
                *std::min_element(samples.begin(), samples.end()),
                *std::max_element(samples.begin(), samples.end()), samples.size());
  return text;
}

/// utime + stime of `pid`, in seconds.
double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double rssMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  }
  return -1;
}

/// Percent of one core over `seconds` of quiet: a benchmark may sleep.
double idleCpu(pid_t pid, double seconds) {
  const double before = cpuSeconds(pid);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return (cpuSeconds(pid) - before) / seconds * 100;
}

struct Size {
  int windows = 3;
  std::vector<double> tap, altTab, hud;
  double tolvaneCpu = -1, shellCpu = -1, bareShellCpu = -1;
  double tolvaneRss = -1, shellRss = -1, bareShellRss = -1;
};

class Bench {
 public:
  Bench(int rounds, std::string tolvane, double idleSeconds)
      : rounds_(rounds), tolvane_(std::move(tolvane)), idle_(idleSeconds) {}

  bool measure(Size& size) {
    {
      GnomeSession gnome(TOLVANE_WAYLAND_TEST_CLIENT, TOLVANE_GNOME_REMOTE_KEYS,
                         TOLVANE_GNOME_TEST_EXTENSIONS);
      const auto extension = extensionBuild(TOLVANE_GNOME_EXTENSIONS, "tolvane@brenmoor.com");
      if (!open(gnome, size.windows, {extension})) return false;
      TempDir folder;
      auto process = launch(gnome, folder);
      if (!process) return false;
      const pid_t shell = shellPid(gnome);
      settle();
      size.shellRss = rssMiB(shell);
      // Untimed: the first switches and the first HUD pay for what is loaded on first use.
      tap(gnome, *process, {"-M", "logo", "-k", "Tab", "-m", "logo"});
      tap(gnome, *process, {"-M", "logo", "-k", "Tab", "-m", "logo"});
      held(gnome, *process);
      for (int i = 0; i < rounds_; ++i) {
        if (const auto t = tap(gnome, *process, {"-M", "logo", "-k", "Tab", "-m", "logo"}))
          size.tap.push_back(*t);
        if (const auto t = tap(gnome, *process, {"-M", "alt", "-k", "Tab", "-m", "alt"}))
          size.altTab.push_back(*t);
      }
      for (int i = 0; i < std::max(5, rounds_ / 2); ++i) {
        if (const auto t = held(gnome, *process)) size.hud.push_back(*t - 100);
      }
      size.tolvaneRss = rssMiB(process->pid());
      settle();
      size.tolvaneCpu = idleCpu(process->pid(), idle_);
      size.shellCpu = idleCpu(shell, idle_);
    }
    GnomeSession bare(TOLVANE_WAYLAND_TEST_CLIENT, TOLVANE_GNOME_REMOTE_KEYS,
                      TOLVANE_GNOME_TEST_EXTENSIONS);
    if (!open(bare, size.windows, {})) return false;
    const pid_t shell = shellPid(bare);
    settle();
    size.bareShellRss = rssMiB(shell);
    size.bareShellCpu = idleCpu(shell, idle_);
    return true;
  }

 private:
  static bool open(GnomeSession& gnome, int windows, const std::vector<std::string>& extensions) {
    if (!gnome.start(extensions)) {
      std::fprintf(stderr, "the Shell did not start: %s\n", gnome.error().c_str());
      return false;
    }
    for (const char* title : {"one", "two", "three"}) {
      if (!gnome.openWindow(title, title)) return false;
    }
    if (windows > 3 && !gnome.openWindows("bulk", windows - 3)) return false;
    for (const char* title : {"one", "two", "three"}) gnome.focus(title);
    return gnome.waitFocused("three");
  }

  std::unique_ptr<TolvaneProcess> launch(GnomeSession& gnome, TempDir& folder) {
    const std::string home = folder.path() + "/home";
    const std::string store = home + "/XDG_CONFIG_HOME/com.brenmoor.tolvane";
    std::filesystem::create_directories(store);
    std::ofstream(store + "/preferences.json") << R"({"onboardingCompleted": true})";
    Environment environment = gnome.clientEnvironment();
    environment.insert(environment.end(), {{"HOME", home}, {"XDG_SESSION_TYPE", "wayland"}});
    auto process = std::make_unique<TolvaneProcess>(tolvane_, home, environment);
    const bool ready = waitOn(
        [&] {
          return process->ended() || (process->count("gnome: shortcuts installed") > 0 &&
                                      process->count("window snapshot warmed") > 0);
        },
        sources(gnome, *process), kBound);
    if (!ready || process->ended()) {
      std::fprintf(stderr, "Tolvane did not start:\n%s\n", process->log().c_str());
      return nullptr;
    }
    return process;
  }

  static std::vector<Source> sources(GnomeSession& gnome, TolvaneProcess& process) {
    auto all = gnome.sources();
    all.push_back(process.pump());
    return all;
  }

  /// A quiet spell before memory and idle CPU are read: the Shell settles for a while after
  /// windows open and switches happen.
  void settle() { std::this_thread::sleep_for(std::chrono::seconds(5)); }

  /// Milliseconds from starting the key tool to the activation of the window focused before the
  /// current one: a quick tap's choice, Tolvane's and GNOME's alike, since each window here is
  /// an application of its own.
  std::optional<double> tap(GnomeSession& gnome, TolvaneProcess& process,
                            const std::vector<std::string>& keys) {
    // The focus as the clients have told it by now, not as last read.
    gnome.sync(sources(gnome, process));
    const std::string expected = previous_;
    previous_ = gnome.focused();
    const auto start = Clock::now();
    gnome.typeMeanwhile(keys);
    const bool moved =
        waitOn([&] { return gnome.focused() == expected; }, sources(gnome, process), kBound);
    const double elapsed = millisSince(start);
    gnome.sync(sources(gnome, process));
    // Lets the switch settle: this is a benchmark, not a test.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return moved ? std::optional(elapsed) : std::nullopt;
  }

  /// Milliseconds from starting the key tool to the panel on screen.
  std::optional<double> held(GnomeSession& gnome, TolvaneProcess& process) {
    const std::string line = "gnome: the panel is on screen";
    const int seen = process.count(line);
    // The release switches as a quick tap does.
    gnome.sync(sources(gnome, process));
    previous_ = gnome.focused();
    const auto start = Clock::now();
    gnome.typeMeanwhile({"-M", "logo", "-k", "Tab", "-s", "600", "-m", "logo"});
    const bool shown =
        waitOn([&] { return process.count(line) > seen; }, sources(gnome, process), kBound);
    const double elapsed = millisSince(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    return shown ? std::optional(elapsed) : std::nullopt;
  }

  static pid_t shellPid(GnomeSession& gnome) {
    std::string pid;
    gnome.eval("new imports.gi.Gio.Credentials().get_unix_pid()", &pid);
    return static_cast<pid_t>(std::atoi(pid.c_str()));
  }

  int rounds_;
  /// The window a quick tap goes to next.
  std::string previous_ = "two:two";
  std::string tolvane_;
  double idle_;
};

void report(const Size& s, int rounds) {
  std::printf("\n%d windows on GNOME Shell, %d rounds:\n", s.windows, rounds);
  const double difference = median(s.tap) - median(s.altTab);
  std::printf("%38s: %s\n", "Tolvane quick tap (Super-Tab)", summary(s.tap).c_str());
  std::printf("%38s: %s\n", "GNOME's own Alt-Tab", summary(s.altTab).c_str());
  std::printf("%38s: %+7.2f ms (medians)\n", "tap less GNOME's Alt-Tab", difference);
  std::printf("%38s: %s\n", "held HUD on screen past 0.1 s", summary(s.hud).c_str());
  std::printf("%38s: %.2f %%\n", "Tolvane idle CPU", s.tolvaneCpu);
  std::printf("%38s: %.2f %% (without: %.2f %%)\n", "the Shell's idle CPU, extension on",
              s.shellCpu, s.bareShellCpu);
  std::printf("%38s: %.1f MiB\n", "Tolvane resident memory", s.tolvaneRss);
  std::printf("%38s: %.1f MiB (without: %.1f MiB)\n", "the Shell's, Tolvane started", s.shellRss,
              s.bareShellRss);
  std::fflush(stdout);
}

}  // namespace
}  // namespace tolvane::test

int main(int argc, char** argv) {
  using namespace tolvane::test;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  const std::string tolvane = argc > 2 ? argv[2] : TOLVANE_EXECUTABLE;
  const char* sizes = std::getenv("BENCH_SIZES");
  const char* idle = std::getenv("BENCH_IDLE_SECONDS");
  Bench bench(rounds, tolvane, idle ? std::atof(idle) : 10);
  std::istringstream list(sizes ? sizes : "3,503,1003");
  for (std::string item; std::getline(list, item, ',');) {
    Size size;
    size.windows = std::atoi(item.c_str());
    if (bench.measure(size)) {
      report(size, rounds);
    } else {
      std::printf("\n%d windows: not measured (see above)\n", size.windows);
    }
  }
  return 0;
}

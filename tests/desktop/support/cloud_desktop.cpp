// The browser sign-in, the second machine and the keyring reads of the cloud desktop tests.
#include "desktop/support/cloud_desktop.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "backends/system/secret_service_store.h"
#include "desktop/support/desktop_tools.h"

namespace tolvane::test {

std::optional<std::string> keyringValue(const std::string& account) {
  std::string whyNot;
  auto store = system::SecretServiceStore::open(
      {.schemaName = "com.brenmoor.tolvane", .accounts = {account}}, whyNot);
  return store ? store->get(account) : std::nullopt;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void CloudDesktopTest::SetUp() {
  ASSERT_NO_FATAL_FAILURE(TolvaneDesktopTest::SetUp());
  // The browser: notes the page and opens nothing.
  const std::string bin = home.path() + "/bin";
  std::filesystem::create_directories(bin);
  std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << opened() << "\n";
  chmod((bin + "/xdg-open").c_str(), 0755);
  environment = {{"PATH", bin + ":" + std::getenv("PATH")}, {"TOLVANE_BASE_URL", baseURL()}};
}

void CloudDesktopTest::signIn(const Browser& browser) {
  const int exchanges = tolvane->count("cloud exchange: signed in");
  ASSERT_EQ(tolvane->sendURL("tolvane://test-sign-in"), 0);
  ASSERT_TRUE(waitForLog("cloud sign-in: opened=true", exchanges + 1)) << tolvane->log();
  // The opener runs detached: the page is noted a moment after Tolvane logs that it started.
  std::string page;
  ASSERT_TRUE(pollUntil([&] {
    std::istringstream lines(readFile(opened()));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) page = line;
    return count > pagesOpened_;
  }));
  ++pagesOpened_;
  const auto callback = browser(page);
  ASSERT_TRUE(callback) << page;
  ASSERT_EQ(tolvane->sendURL(*callback), 0);
  ASSERT_TRUE(waitForLog("cloud exchange: signed in", exchanges + 1)) << tolvane->log();
}

void CloudDesktopTest::recordPaletteCombination(const std::string& keys) {
  const std::string shown = "test hook: recorder window=";
  ASSERT_EQ(tolvane->sendURL("tolvane://test-recorder"), 0);
  ASSERT_TRUE(waitForLog(shown)) << tolvane->log();
  const auto window = static_cast<xcb_window_t>(std::strtoul(
      tolvane->log().c_str() + tolvane->log().find(shown) + shown.size(), nullptr, 10));
  // The window is named as soon as it is shown, before the window manager has placed it: a
  // click sent earlier lands on whatever lies below.
  ASSERT_TRUE(waitForActive(window)) << tolvane->log();
  // The recorder sits at the window's origin, 28 pixels high.
  ASSERT_TRUE(
      xdotool(x, {"mousemove", "--window", std::to_string(window), "12", "14", "click", "1"}));
  ASSERT_TRUE(waitForLog("test hook: recorder recording=1")) << tolvane->log();
  type(keys);
}

void CloudDesktopTest::launchMachineB() {
  tolvane = std::make_unique<TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), machineB.path(),
                                             environment);
  ASSERT_TRUE(waitForLog("window snapshot warmed")) << tolvane->log();
}

}  // namespace tolvane::test

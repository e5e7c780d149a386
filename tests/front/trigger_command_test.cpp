// What `tolvane trigger` tells a user whose key press switched nothing: besides the
// compositor's standard error, which nobody reads, a desktop notification and Tolvane's log.
#include "front/trigger_command.h"

#include <stdio.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace tolvane::front {
namespace {

/// A private session bus (dbus-daemon) and, on it, a notification service that records the
/// body of every Notify call.
class FakeNotifications {
 public:
  FakeNotifications() {
    FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    char line[512] = {};
    if (daemon && fgets(line, sizeof line, daemon))
      address_ = std::string(line, strcspn(line, "\n"));
    if (daemon && fgets(line, sizeof line, daemon)) pid_ = std::atoi(line);
    if (daemon) pclose(daemon);
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address_.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
        sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/Notifications",
                                 "org.freedesktop.Notifications", kVtable, this) < 0 ||
        sd_bus_request_name(bus_, "org.freedesktop.Notifications", 0) < 0) {
      return;
    }
    serving_ = std::thread([this] {
      while (!stop_) {
        if (sd_bus_process(bus_, nullptr) <= 0) sd_bus_wait(bus_, 50000);
      }
    });
  }
  ~FakeNotifications() {
    stop_ = true;
    if (serving_.joinable()) serving_.join();
    sd_bus_flush_close_unref(bus_);
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  bool serving() const { return serving_.joinable(); }
  const std::string& address() const { return address_; }
  std::vector<std::string> bodies() {
    std::lock_guard guard(lock_);
    return bodies_;
  }

 private:
  static int notify(sd_bus_message* call, void* self, sd_bus_error*) {
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    std::uint32_t replaces = 0;
    sd_bus_message_read(call, "susss", &app, &replaces, &icon, &summary, &body);
    auto* fake = static_cast<FakeNotifications*>(self);
    std::lock_guard guard(fake->lock_);
    fake->bodies_.emplace_back(body ? body : "");
    return sd_bus_reply_method_return(call, "u", 1u);
  }
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", notify, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END};

  std::string address_;
  int pid_ = 0;
  sd_bus* bus_ = nullptr;
  std::mutex lock_;
  std::vector<std::string> bodies_;
  std::atomic<bool> stop_{false};
  std::thread serving_;
};

/// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
 public:
  void set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        setenv(it->first, it->second->c_str(), 1);
      else
        unsetenv(it->first);
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(TriggerCommand, APressNobodyTakesIsToldInANotificationAndInTheLog) {
  FakeNotifications notifications;
  ASSERT_TRUE(notifications.serving()) << "no private bus: " << notifications.address();
  test::TempDir home;
  std::filesystem::create_directory(home.path() + "/run");
  chmod((home.path() + "/run").c_str(), 0700);
  ScopedEnvironment environment;
  environment.set("DBUS_SESSION_BUS_ADDRESS", notifications.address());
  environment.set("XDG_RUNTIME_DIR", home.path() + "/run");
  environment.set("XDG_DATA_HOME", home.path() + "/data");
  environment.set("WAYLAND_DISPLAY", "wayland-9");
  char* argv[] = {const_cast<char*>("tolvane"), const_cast<char*>("trigger"),
                  const_cast<char*>("next")};
  EXPECT_EQ(runTrigger(3, argv), 1);
  const std::string said = "Tolvane is not running on display wayland-9";
  ASSERT_EQ(notifications.bodies().size(), 1u);
  EXPECT_NE(notifications.bodies()[0].find(said), std::string::npos);
  std::stringstream log;
  log << std::ifstream(home.path() + "/data/com.brenmoor.tolvane/tester.log").rdbuf();
  EXPECT_NE(log.str().find("trigger: " + said), std::string::npos) << log.str();
}

}  // namespace
}  // namespace tolvane::front

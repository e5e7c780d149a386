// Starting a private bus, and watching and calling on it.
#include "desktops/driver/session_bus.h"

#include <fstream>

#include "desktops/driver/compositor_suite.h"

namespace tolvane::test {

namespace {

/// A session bus's own rule would let its owner alone connect. No service is activated on it:
/// a compositor's helpers (calendars, portals) stay away, as they would only slow its start.
std::string openConfig(const std::string& socket) {
  return "<busconfig><type>session</type><listen>unix:path=" + socket +
         "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
         "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
         "</policy></busconfig>\n";
}

int nameTaken(sd_bus_message* m, void* data, sd_bus_error*) {
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 && after && *after) {
    static_cast<std::set<std::string>*>(data)->insert(name);
  }
  return 0;
}

}  // namespace

std::string startBusDaemon(const std::vector<std::string>& argv, PipeText& out,
                           std::unique_ptr<ChildProcess>& daemon) {
  daemon = std::make_unique<ChildProcess>(argv, Environment{}, out.writeEnd());
  out.closeWriteEnd();
  const auto printed = [&] { return out.text().find('\n') != std::string::npos; };
  if (!waitOn([&] { return printed() || daemon->ended(); }, {out.source(), daemon->source()},
              CompositorSession::kBound) ||
      !printed()) {
    return "";
  }
  return out.text().substr(0, out.text().find('\n'));
}

SessionBus::~SessionBus() {
  sd_bus_slot_unref(names_);
  sd_bus_flush_close_unref(bus_);
}

bool SessionBus::start(const std::string& folder) {
  std::ofstream(folder + "/bus.conf") << openConfig(folder + "/bus");
  address_ = startBusDaemon(
      {"dbus-daemon", "--config-file=" + folder + "/bus.conf", "--nofork", "--print-address=1"},
      out_, daemon_);
  const std::string match = "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged'";
  if (address_.empty() || sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address_.c_str()) < 0 ||
      sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
      sd_bus_add_match(bus_, &names_, match.c_str(), nameTaken, &owned_) < 0) {
    error_ = "the session bus did not start or took no connection";
    return false;
  }
  return true;
}

Source SessionBus::source() {
  return {sd_bus_get_fd(bus_), [this] {
            int r;
            while ((r = sd_bus_process(bus_, nullptr)) > 0) {
            }
            return r >= 0;
          }};
}

}  // namespace tolvane::test

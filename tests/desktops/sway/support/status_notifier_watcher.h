// A panel's tray as a test sees it on the session bus: the StatusNotifierWatcher with its host
// registered, as a bar (waybar) runs them, keeping the items that register and calling them as
// the host does when the user opens an item's menu or clicks it. Every call waits on the
// test's sources, never blocking the bus: an item may call the watcher while it answers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "desktops/driver/session_bus.h"
#include "support/child_process.h"

namespace tolvane::test {

class StatusNotifierWatcher {
 public:
  /// An item as it registered: the bus name it answers on and its object.
  struct Item {
    std::string service, path;
  };

  /// Connects to the session bus ($DBUS_SESSION_BUS_ADDRESS) and owns
  /// org.kde.StatusNotifierWatcher; see error() when that failed.
  StatusNotifierWatcher();
  ~StatusNotifierWatcher();
  StatusNotifierWatcher(const StatusNotifierWatcher&) = delete;
  StatusNotifierWatcher& operator=(const StatusNotifierWatcher&) = delete;

  const std::string& error() const { return error_; }
  /// For waits: the bus, whose calls and replies it handles as they come.
  Source source();
  const std::vector<Item>& items() const { return items_; }

  /// The labels of `item`'s menu from the top down, as a host opening it reads them
  /// (com.canonical.dbusmenu AboutToShow, then GetLayout); nothing when a call failed.
  std::optional<std::vector<std::string>> menuLabels(const Item& item,
                                                     const std::vector<Source>& also);
  /// The item's primary click; whether the item answered without an error.
  bool activate(const Item& item, const std::vector<Source>& also);
  /// From now on the watcher takes every call and answers none, as a bar that hangs.
  void stall();

 private:
  static int registerItem(sd_bus_message* message, void* data, sd_bus_error*);
  static int registerHost(sd_bus_message* message, void* data, sd_bus_error*);
  static int registeredItems(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                             void* data, sd_bus_error*);
  static const sd_bus_vtable kVtable[];
  /// Sends `message` and waits, handling the bus meanwhile, for its reply; nothing (with
  /// error() saying why) when none came or it was an error.
  Message call(sd_bus_message* message, const std::vector<Source>& also);
  Message newCall(const Item& item, const char* path, const char* interface, const char* member);

  sd_bus* bus_ = nullptr;
  sd_bus_slot* object_ = nullptr;
  sd_bus_slot* stall_ = nullptr;
  std::vector<Item> items_;
  std::string error_;
};

}  // namespace tolvane::test

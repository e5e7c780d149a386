// Window records for the tests of what the switcher shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/switch_window.h"

namespace tolvane::test {

/// Windows 100, 101, … of one application, "Editor" (pid 7), titled "<title> 0", "<title> 1", …
inline std::vector<SwitchWindow> editorWindows(int count, const std::string& title = "Doc") {
  std::vector<SwitchWindow> list;
  for (int i = 0; i < count; ++i) {
    list.emplace_back(SwitchWindow::Fields{.id = static_cast<std::uint32_t>(100 + i),
                                           .pid = 7,
                                           .title = title + " " + std::to_string(i),
                                           .appName = "Editor",
                                           .bundleID = "org.example.editor"});
  }
  return list;
}

/// The ids of `windows`, in order.
inline std::vector<std::uint32_t> idsOf(const std::vector<SwitchWindow>& windows) {
  std::vector<std::uint32_t> ids;
  for (const auto& w : windows) ids.push_back(w.id());
  return ids;
}

}  // namespace tolvane::test

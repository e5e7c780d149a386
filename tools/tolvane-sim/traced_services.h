// The simulated services behind the palette, the tray menu and the account, each reporting
// what the user or the backend service would have seen as trace lines.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backends/sim/sim_http_client.h"
#include "backends/sim/sim_palette_panel.h"
#include "base/geometry.h"
#include "platform/application_catalog.h"
#include "platform/crash_diagnostics.h"
#include "platform/described_window.h"
#include "platform/digest.h"
#include "platform/event_tap.h"
#include "platform/http_client.h"
#include "platform/local_key_monitor.h"
#include "platform/login_items.h"
#include "platform/palette_panel.h"
#include "platform/process_log.h"
#include "platform/screens.h"
#include "platform/secret_store.h"
#include "platform/status_item.h"
#include "platform/switcher_panel.h"
#include "platform/system_log.h"
#include "platform/user_interaction.h"
#include "trace.h"

namespace tolvane::simtool {

/// The palette panel, traced on each change of what it shows: "palette shown query="ed"
/// rows=2 [0 "notes.txt" app="Editor" selected] [1 ...]", or its message, and "palette hidden".
class TracingPalette final : public PalettePanel {
 public:
  explicit TracingPalette(Trace& trace) : trace_(trace) {}
  void show(const PalettePanelView& view) override;
  void hide() override;
  bool isVisible() const override { return panel_.isVisible(); }
  void setQueryHandler(std::function<void(const std::string&)> handler) override {
    panel_.setQueryHandler(std::move(handler));
  }
  void setRowClickHandler(std::function<void(int, int)> handler) override {
    panel_.setRowClickHandler(std::move(handler));
  }
  void setResignHandler(std::function<void()> handler) override {
    panel_.setResignHandler(std::move(handler));
  }
  /// The user edits the search field to read `text`; false when no palette is on screen.
  bool type(const std::string& text) { return panel_.type(text); }

 private:
  Trace& trace_;
  sim::SimPalettePanel panel_;
  std::string lastLine_;
};

/// The backend service as the scenario sets it: every request gets the reply chosen last, and
/// is traced as "http POST /api/app/token 200".
class TracingHttp final : public HttpClient {
 public:
  explicit TracingHttp(Trace& trace) : trace_(trace) {}
  void send(HttpRequest request, Completion completion) override;
  void setReply(HttpResponse reply) { http_.reply = std::move(reply); }

 private:
  Trace& trace_;
  sim::SimHttpClient http_;
};

/// The keychain in memory, open from the start; safe from any thread, as the real stores are.
class MemorySecrets final : public SecretStore {
 public:
  std::optional<std::string> get(const std::string& account) override;
  void set(const std::string& account, const std::string& value) override;
  void remove(const std::string& account) override;

 private:
  std::mutex lock_;
  std::map<std::string, std::string> items_;
};

/// "[Open Palette] [-] [notes.txt checked] [Settings… disabled] [Language > [...]]".
std::string describeMenu(const std::vector<MenuEntry>& entries);

}  // namespace tolvane::simtool

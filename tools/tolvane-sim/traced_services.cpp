// Trace lines of the palette, the tray menu and the backend service.
#include "traced_services.h"

namespace tolvane::simtool {

namespace {

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string describeRow(const PaletteRowView& row) {
  std::string out = "[" + std::to_string(row.index) + " " + quoted(row.title);
  if (!row.subtitle.empty()) out += " app=" + quoted(row.subtitle);
  if (row.minimizedMarker) out += " minimized";
  if (row.selected) out += " selected";
  return out + "]";
}

std::string describePalette(const PalettePanelView& view) {
  std::string out = "query=" + quoted(view.query);
  if (view.message) return out + " message=" + quoted(view.message->title);
  out += " rows=" + std::to_string(view.rows.size());
  for (const auto& row : view.rows) out += " " + describeRow(row);
  return out;
}

/// The path of a URL, without its query: what the service was asked for, never a secret.
std::string pathOf(const std::string& url) {
  const auto scheme = url.find("://");
  const auto start = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (start == std::string::npos) return "/";
  return url.substr(start, url.find_first_of("?#", start) - start);
}

}  // namespace

void TracingPalette::show(const PalettePanelView& view) {
  // Repaints that change nothing the user reads (a focus request, a new frame) stay out.
  std::string line = describePalette(view);
  const bool wasVisible = panel_.isVisible();
  panel_.show(view);
  if (wasVisible && line == lastLine_) return;
  lastLine_ = line;
  trace_.line("palette", std::string(wasVisible ? "updated " : "shown ") + line);
}

void TracingPalette::hide() {
  if (panel_.isVisible()) trace_.line("palette", "hidden");
  lastLine_.clear();
  panel_.hide();
}

void TracingHttp::send(HttpRequest request, Completion completion) {
  const std::string what = request.method + " " + pathOf(request.url);
  http_.send(std::move(request), [this, what, completion = std::move(completion)](HttpResponse r) {
    trace_.line("http", what + " " + (r.status ? std::to_string(*r.status) : "no reply"));
    completion(std::move(r));
  });
}

std::optional<std::string> MemorySecrets::get(const std::string& account) {
  std::lock_guard guard(lock_);
  const auto it = items_.find(account);
  if (it == items_.end()) return std::nullopt;
  return it->second;
}

void MemorySecrets::set(const std::string& account, const std::string& value) {
  std::lock_guard guard(lock_);
  items_[account] = value;
}

void MemorySecrets::remove(const std::string& account) {
  std::lock_guard guard(lock_);
  items_.erase(account);
}

std::string describeMenu(const std::vector<MenuEntry>& entries) {
  std::string out;
  for (const auto& entry : entries) {
    if (!out.empty()) out += " ";
    if (entry.kind == MenuEntry::Kind::separator) {
      out += "[-]";
      continue;
    }
    out += "[" + entry.title;
    if (entry.checked) out += " checked";
    if (!entry.enabled && entry.kind == MenuEntry::Kind::item) out += " disabled";
    if (!entry.submenu.empty()) out += " > " + describeMenu(entry.submenu);
    out += "]";
  }
  return out;
}

}  // namespace tolvane::simtool

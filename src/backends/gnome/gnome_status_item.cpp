// The core's menu entries as the Shell extension's JSON description, and its answers as actions.
#include "backends/gnome/gnome_status_item.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>
#include <utility>

#include "base/utf8.h"

namespace tolvane::gnome {

namespace {

using Json = nlohmann::json;

/// An index below kMaxEntries has at most this many digits: no id of an entry sent is longer
/// than kMaxIdLength, and a longer one is refused before it is read.
constexpr std::size_t kMaxIndexDigits = 3;
static_assert(GnomeStatusItem::kMaxEntries <= 1000);
constexpr std::size_t kMaxIdLength =
    GnomeStatusItem::kMaxLevels * (kMaxIndexDigits + 1) - 1;  // the dots between the indexes

/// Keeps what the extension would show of `entries`, taking one of `budget` for each entry
/// kept, as the extension counts them.
void keepShown(std::vector<MenuEntry>& entries, std::size_t& budget, std::size_t level) {
  if (entries.size() > budget) entries.resize(budget);
  for (auto& entry : entries) {
    // Taken before the submenu's entries: the extension numbers a parent before its children.
    --budget;
    if (level + 1 >= GnomeStatusItem::kMaxLevels) entry.submenu.clear();
    keepShown(entry.submenu, budget, level + 1);
    if (budget == 0) {
      entries.resize(static_cast<std::size_t>(&entry - entries.data()) + 1);
      return;
    }
  }
}

const char* kindName(MenuEntry::Kind kind) {
  switch (kind) {
    case MenuEntry::Kind::separator:
      return "separator";
    case MenuEntry::Kind::header:
      return "header";
    case MenuEntry::Kind::item:
      break;
  }
  return "item";
}

// Titles are repaired (the JSON writer throws on malformed UTF-8) and cut, so that 200 of them
// stay far below the extension's 1 MiB: four bytes a code point at most, controls never escaped
// as they become spaces. Key equivalents and icons are left out: GNOME's menus show neither.
Json describe(const std::vector<MenuEntry>& entries) {
  Json list = Json::array();
  for (const auto& entry : entries) {
    Json item{{"kind", kindName(entry.kind)}};
    if (entry.kind != MenuEntry::Kind::separator) {
      item["title"] = shownText(entry.title, GnomeStatusItem::kMaxTitleCharacters);
      if (!entry.enabled) item["enabled"] = false;
      if (entry.checked) item["checked"] = true;
      if (!entry.submenu.empty()) item["submenu"] = describe(entry.submenu);
    }
    list.push_back(std::move(item));
  }
  return list;
}

/// The next index of an id at `at`, moving `at` past it and its dot; nothing when the id is
/// malformed there.
std::optional<std::size_t> nextIndex(std::string_view id, std::size_t& at) {
  const std::size_t end = std::min(id.find('.', at), id.size());
  const std::string_view digits = id.substr(at, end - at);
  std::size_t index = 0;
  const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (digits.empty() || error != std::errc() || stop != digits.data() + digits.size()) return {};
  at = end + 1;
  // A trailing dot names no entry.
  if (end + 1 == id.size()) return {};
  return index;
}

}  // namespace

GnomeStatusItem::GnomeStatusItem(std::function<void(const std::string& json)> sendMenu,
                                 std::function<bool()> available)
    : sendMenu_(std::move(sendMenu)), available_(std::move(available)) {}

bool GnomeStatusItem::isAvailable() const {
  return available_ && available_();
}

// The extension shows a fixed symbolic icon and nothing else of the view: no state (paused,
// missing permission, a hot key problem), no alert dot nor its beat, no tooltip. Its button is
// there from Tolvane's registration on, and its first opening asks for the menu.
void GnomeStatusItem::setAppearance(const StatusItemView&) {}

void GnomeStatusItem::setMenu(std::vector<MenuEntry> entries) {
  std::size_t budget = kMaxEntries;
  keepShown(entries, budget, 0);
  sent_ = std::move(entries);
  everSent_ = true;
  if (sendMenu_) sendMenu_(describe(sent_).dump());
}

void GnomeStatusItem::setMenuWillOpenHandler(std::function<void()> handler) {
  willOpen_ = std::move(handler);
}

// The Shell draws the menu and holds the pointer and keyboard while it is open; the extension
// reports its opening and its closing.
void GnomeStatusItem::setMenuVisibilityHandler(std::function<void(bool open)> handler) {
  visibility_ = std::move(handler);
}

// Every click on the extension's button opens the menu: there is no plain click to report.
void GnomeStatusItem::setClickHandler(std::function<void()>) {}

void GnomeStatusItem::opening() {
  if (willOpen_) willOpen_();
  if (visibility_) visibility_(true);
}

void GnomeStatusItem::closed() {
  if (visibility_) visibility_(false);
}

void GnomeStatusItem::sendAgain() {
  if (everSent_ && sendMenu_) sendMenu_(describe(sent_).dump());
}

const MenuEntry* GnomeStatusItem::entryAt(std::string_view id) const {
  if (id.empty() || id.size() > kMaxIdLength) return nullptr;
  const std::vector<MenuEntry>* list = &sent_;
  const MenuEntry* entry = nullptr;
  for (std::size_t at = 0, level = 0; at < id.size(); ++level) {
    const auto index = nextIndex(id, at);
    if (!index || level >= kMaxLevels || *index >= list->size()) return nullptr;
    entry = &(*list)[*index];
    list = &entry->submenu;
  }
  return entry;
}

void GnomeStatusItem::activated(std::string_view id) {
  const MenuEntry* entry = entryAt(id);
  if (!entry || entry->kind != MenuEntry::Kind::item || !entry->enabled ||
      !entry->submenu.empty() || !entry->action) {
    return;
  }
  // A copy: the action may replace the menu, and the entry with it, while it runs.
  const auto action = entry->action;
  action();
}

}  // namespace tolvane::gnome

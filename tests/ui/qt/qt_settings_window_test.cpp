// The settings window on Qt: every control paints and reports the user's action.
#include "ui/qt/qt_settings_window.h"

#include <gtest/gtest.h>

#include <QListView>
#include <QTest>
#include <string>
#include <vector>

#include "ui/qt/choice_controls.h"
#include "ui/qt/excluded_apps_list.h"
#include "ui/qt/settings_sidebar.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {
namespace {

/// A page with one row per control kind and an exclusion list of two apps. Every action writes
/// what it got into `calls`.
SettingsWindowView everyControl(std::vector<std::string>& calls) {
  const auto note = [&calls](std::string what) { calls.push_back(std::move(what)); };
  const auto record = [note](std::string what) { return [note, what] { note(what); }; };
  SettingsWindowView view;
  view.windowTitle = "Tolvane Settings";
  view.applicationName = "Tolvane";
  view.version = "1.0";
  view.onIconClick = record("icon");
  view.onSelectTab = [note](SettingsTab to) { note("tab " + std::to_string(int(to))); };
  for (int i = 0; i < kSettingsTabCount; ++i) {
    view.sidebar.push_back({.tab = static_cast<SettingsTab>(i),
                            .title = "Tab",
                            .subtitle = "Sub",
                            .symbol = "preferences-system",
                            .selected = i == 0});
  }
  view.tab = SettingsTab::switcher;
  view.pageTitle = "Switcher";
  SettingsCardView card{.id = "card", .title = "Heading", .footer = "Footer"};
  const auto row = [&card](std::string id, std::vector<SettingsControl> controls) {
    card.items.push_back(SettingsRowView{.id = id, .title = id, .controls = std::move(controls)});
  };
  row("switch",
      {SettingsSwitch{.onChange = [note](bool on) { note(on ? "switch on" : "switch off"); }}});
  row("dropdown",
      {SettingsDropdown{.options = {{"", "System"}, {"de", "Deutsch"}},
                        .onSelect = [note](const std::string& v) { note("dropdown " + v); }}});
  row("segmented", {SettingsSegmented{.symbols = {"S", "A"}, .onSelect = [note](int i) {
                                        note("segment " + std::to_string(i));
                                      }}});
  row("badge", {SettingsBadge{.kind = SettingsBadge::Kind::notGranted, .text = "Not granted"},
                SettingsPillButton{.title = "Allow", .filled = true, .action = record("allow")}});
  SettingsRecorder recorder{.onClick = record("record"), .onReset = record("reset")};
  recorder.view.chips = {"Alt", "Space"};
  recorder.view.showsReset = true;
  row("recorder", {recorder});
  row("value", {SettingsValueText{"someone@example.org"}});
  SettingsAppListView list{.id = "excluded", .emptyText = "None", .removeTooltip = "Remove"};
  for (int i = 0; i < 2; ++i) list.entries.push_back({"app" + std::to_string(i), "App"});
  list.onRemove = [note](const std::string& id) { note("remove " + id); };
  card.items.push_back(list);
  view.cards.push_back(std::move(card));
  return view;
}

template <typename Control>
Control* controlOf(const QtSettingsWindow& window, const char* rowID) {
  auto* row = window.window()->findChild<QWidget*>(QString::fromLatin1(rowID));
  // By type rather than qobject_cast: the recorder widget has no meta-object of its own.
  for (QWidget* child : row ? row->findChildren<QWidget*>() : QList<QWidget*>()) {
    if (auto* control = dynamic_cast<Control*>(child)) return control;
  }
  return nullptr;
}

class QtSettingsWindowTest : public ::testing::Test {
 protected:
  std::vector<std::string> calls;
  QtSettingsWindow window;
};

TEST_F(QtSettingsWindowTest, EveryControlPaintsAndReportsTheUsersActions) {
  window.show(everyControl(calls));
  EXPECT_EQ(window.window()->windowTitle(), QStringLiteral("Tolvane Settings"));
  EXPECT_EQ(window.window()->windowType(), Qt::Window);
  EXPECT_FALSE(window.grabImage().isNull());

  QTest::mouseClick(controlOf<SwitchControl>(window, "switch"), Qt::LeftButton);
  QTest::keyClick(controlOf<PillDropdown>(window, "dropdown"), Qt::Key_Down);
  auto* segments = controlOf<SegmentedCapsule>(window, "segmented");
  QTest::mouseClick(segments, Qt::LeftButton, {}, segments->segmentRect(1).center().toPoint());
  QTest::mouseClick(controlOf<PillButton>(window, "badge"), Qt::LeftButton);
  auto* recorder = controlOf<HotkeyRecorderWidget>(window, "recorder");
  const auto parts = recorderGeometry(recorder->view(), recorder->font());
  QTest::mouseClick(recorder, Qt::LeftButton, {}, parts.chips[0].center().toPoint());
  QTest::mouseClick(recorder, Qt::LeftButton, {}, parts.reset.center().toPoint());
  auto* list = window.window()->findChild<ExcludedAppsList*>(QStringLiteral("excluded"));
  const QRect second = list->view()->visualRect(list->model()->index(1));
  QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, {},
                    ExcludedAppsList::removeButtonRect(second).center());
  QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, {}, second.center());  // the name
  QTest::mouseClick(window.sidebar()->rows()[3], Qt::LeftButton);
  // Counted clicks on the icon toggle tester mode: a quick second click counts as well.
  // Through the window system, where the second press of a double click comes as a double click.
  const QWidget* icon = window.sidebar()->headerIcon();
  QTest::mouseDClick(window.window()->windowHandle(), Qt::LeftButton, {},
                     icon->mapTo(window.window(), icon->rect().center()));

  EXPECT_EQ(calls,
            (std::vector<std::string>{"switch on", "dropdown de", "segment 1", "allow", "record",
                                      "reset", "remove app1", "tab 3", "icon", "icon"}));
}

}  // namespace
}  // namespace tolvane::qt

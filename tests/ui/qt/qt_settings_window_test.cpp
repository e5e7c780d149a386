// The settings window on Qt: every control paints and reports the user's action, repaints of
// the same page happen in place, other pages are rebuilt, long exclusion lists stay one view,
// unusable icons get the placeholder, and only the user's close reaches the close handler.
#include "ui/qt/qt_settings_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QListView>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "ui/qt/choice_controls.h"
#include "ui/qt/excluded_apps_list.h"
#include "ui/qt/settings_page.h"
#include "ui/qt/settings_sidebar.h"
#include "ui/qt/settings_widgets.h"
#include "ui/qt/test_support.h"

namespace tolvane::qt {
namespace {

using test::dropRetiredWidgets;

/// A page with one row per control kind and an exclusion list, on `tab`, with `extraRows` more
/// switch rows so that the page scrolls. Every action writes what it got into `calls`.
SettingsWindowView everyControl(std::vector<std::string>& calls,
                                SettingsTab tab = SettingsTab::switcher, int extraRows = 0,
                                int apps = 2) {
  const auto record = [&calls](std::string what) {
    return [&calls, what] { calls.push_back(what); };
  };
  SettingsWindowView view;
  view.windowTitle = "Tolvane Settings";
  view.applicationName = "Tolvane";
  view.version = "1.0";
  view.onIconClick = record("icon");
  view.onSelectTab = [&calls](SettingsTab to) {
    calls.push_back("tab " + std::to_string(static_cast<int>(to)));
  };
  for (int i = 0; i < kSettingsTabCount; ++i) {
    view.sidebar.push_back({.tab = static_cast<SettingsTab>(i),
                            .title = "Tab",
                            .subtitle = "Sub",
                            .symbol = "preferences-system",
                            .selected = i == 0});
  }
  view.tab = tab;
  view.pageTitle = "Switcher";
  SettingsCardView card{.id = "card", .title = "Heading", .footer = "Footer"};
  const auto row = [&card](std::string id, std::vector<SettingsControl> controls) {
    card.items.push_back(SettingsRowView{.id = id, .title = id, .controls = std::move(controls)});
  };
  row("switch", {SettingsSwitch{.onChange = [&calls](bool on) {
        calls.push_back(on ? "switch on" : "switch off");
      }}});
  row("dropdown", {SettingsDropdown{.options = {{"", "System"}, {"de", "Deutsch"}},
                                    .onSelect = [&calls](const std::string& value) {
                                      calls.push_back("dropdown " + value);
                                    }}});
  row("segmented", {SettingsSegmented{.symbols = {"S", "A"}, .onSelect = [&calls](int index) {
                                        calls.push_back("segment " + std::to_string(index));
                                      }}});
  row("badge", {SettingsBadge{.kind = SettingsBadge::Kind::notGranted, .text = "Not granted"},
                SettingsPillButton{.title = "Allow", .filled = true, .action = record("allow")}});
  SettingsRecorder recorder{.onClick = record("record"), .onReset = record("reset")};
  recorder.view.chips = {"Alt", "Space"};
  recorder.view.showsReset = true;
  row("recorder", {recorder});
  row("value", {SettingsValueText{"someone@example.org"}});
  SettingsAppListView list{.id = "excluded", .emptyText = "None", .removeTooltip = "Remove"};
  for (int i = 0; i < apps; ++i) list.entries.push_back({"app" + std::to_string(i), "App"});
  list.onRemove = [&calls](const std::string& id) { calls.push_back("remove " + id); };
  card.items.push_back(list);
  for (int i = 0; i < extraRows; ++i) row("extra" + std::to_string(i), {SettingsSwitch{}});
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
  EXPECT_EQ(window.window()->size(), QSize(760, 520));
  EXPECT_EQ(window.window()->minimumSize(), QSize(720, 480));
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

TEST_F(QtSettingsWindowTest, TheSamePageRepaintsInPlaceKeepingItsScrollAndAnotherTabIsRebuilt) {
  auto view = everyControl(calls, SettingsTab::switcher, 30);
  window.show(view);
  QCoreApplication::processEvents();
  QScrollBar* scroll = window.pageScroller()->verticalScrollBar();
  ASSERT_GT(scroll->maximum(), 200);
  scroll->setValue(200);
  QPointer<SwitchControl> toggle = controlOf<SwitchControl>(window, "switch");
  QPointer<PillDropdown> dropdown = controlOf<PillDropdown>(window, "dropdown");
  QPointer<PillButton> allow = controlOf<PillButton>(window, "badge");
  QPointer<QWidget> page = window.pageScroller()->widget();

  auto& items = view.cards[0].items;
  std::get<SettingsSwitch>(std::get<SettingsRowView>(items[0]).controls[0]).on = true;
  std::get<SettingsRowView>(items[0]).title = "Renamed";
  std::get<SettingsDropdown>(std::get<SettingsRowView>(items[1]).controls[0]).selection = "de";
  std::get<SettingsRowView>(items[3]).controls.pop_back();  // granted: the button goes
  std::get<SettingsAppListView>(items[6]).entries.pop_back();
  window.show(view);
  dropRetiredWidgets();

  EXPECT_EQ(window.pageScroller()->widget(), page.data());
  EXPECT_EQ(controlOf<SwitchControl>(window, "switch"), toggle.data());
  EXPECT_EQ(controlOf<PillDropdown>(window, "dropdown"), dropdown.data());
  EXPECT_TRUE(toggle->isChecked());
  EXPECT_EQ(dropdown->currentText(), QStringLiteral("Deutsch"));
  EXPECT_TRUE(allow.isNull());
  EXPECT_TRUE(controlOf<StatusBadge>(window, "badge")->isVisible());
  const auto* switchRow = page->findChild<QWidget*>(QStringLiteral("switch"));
  EXPECT_EQ(switchRow->findChildren<TextLabel*>().first()->text(), QStringLiteral("Renamed"));
  EXPECT_EQ(window.window()->findChild<ExcludedAppsList*>()->model()->rowCount(), 1);
  EXPECT_EQ(scroll->value(), 200);
  EXPECT_TRUE(calls.empty()) << calls.size();

  // Another tab rebuilds the page and starts it from the top.
  auto about = everyControl(calls, SettingsTab::about, 30);
  about.hero = SettingsHeroView{"Tolvane", "Version 1.0", "Switch windows, not apps."};
  window.show(about);
  dropRetiredWidgets();
  EXPECT_TRUE(toggle.isNull());
  EXPECT_TRUE(controlOf<SwitchControl>(window, "switch")->isVisible());
  EXPECT_EQ(window.pageScroller()->verticalScrollBar()->value(), 0);
}

TEST_F(QtSettingsWindowTest, AThousandExcludedAppsAreRowsOfOneScrollingList) {
  window.show(everyControl(calls, SettingsTab::privacy, 0, 1000));
  const auto lists = window.window()->findChildren<ExcludedAppsList*>();
  ASSERT_EQ(lists.size(), 1);
  EXPECT_EQ(lists[0]->view()->model()->rowCount(), 1000);
  EXPECT_EQ(lists[0]->view()->height(),
            ExcludedAppsList::kVisibleRows * ExcludedAppsList::kRowHeight);
  EXPECT_LT(window.window()->findChildren<QWidget*>().size(), 100);
}

TEST(ExcludedAppsModelTest, MissingAndBrokenIconsShowThePlaceholder) {
  QTemporaryDir folder;
  const QString broken = folder.filePath(QStringLiteral("broken.png"));
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a picture");
  file.close();
  QPixmap red(ExcludedAppsModel::kIconSide, ExcludedAppsModel::kIconSide);
  red.fill(Qt::red);
  ExcludedAppsModel model([&](const std::string& id) {
    if (id == "broken") return QIcon(broken);
    if (id == "good") return QIcon(red);
    return QIcon();
  });
  model.setEntries({{"missing", "Missing"}, {"broken", "Broken"}, {"good", "Good"}});
  const QImage placeholder = placeholderAppIcon(ExcludedAppsModel::kIconSide, QPalette()).toImage();
  const auto iconOf = [&](int row) {
    return model.data(model.index(row), Qt::DecorationRole).value<QPixmap>().toImage();
  };
  EXPECT_EQ(iconOf(0), placeholder);
  EXPECT_EQ(iconOf(1), placeholder);
  EXPECT_NE(iconOf(2), placeholder);
}

TEST_F(QtSettingsWindowTest, OnlyTheUsersCloseReachesTheHandlerAndTheNextShowStartsAfresh) {
  int closes = 0;
  std::vector<unsigned long> activated;
  window.setCloseHandler([&] { ++closes; });
  window.setActivator([&](unsigned long id) { activated.push_back(id); });
  window.show(everyControl(calls));
  EXPECT_TRUE(window.isVisible());
  EXPECT_GT(window.frame().width, 0);
  window.bringToFront();
  EXPECT_EQ(activated, std::vector<unsigned long>{window.window()->winId()});

  window.window()->close();  // as the window manager's close button does
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.frame().width, 0);
  dropRetiredWidgets();

  window.show(everyControl(calls));
  EXPECT_TRUE(window.isVisible());
  window.close();
  dropRetiredWidgets();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace tolvane::qt

// The settings window: its frame of sidebar and scrolling page, and which repaints rebuild.
#include "ui/qt/qt_settings_window.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>

#include "ui/qt/settings_page.h"
#include "ui/qt/settings_sidebar.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {

QtSettingsWindow::QtSettingsWindow() {
  host_.setDropHandler([this] {
    sidebar_ = nullptr;
    scroller_ = nullptr;
    page_ = nullptr;
  });
}

QtSettingsWindow::~QtSettingsWindow() = default;

void QtSettingsWindow::show(const SettingsWindowView& view) {
  const bool made = host_.ensureWindow();
  if (made) build();
  QWidget* window = host_.window();
  window->setWindowTitle(fromUtf8(view.windowTitle));
  sidebar_->apply(view);
  showPage(view);
  if (made) {
    host_.showCentred();
  } else if (!window->isVisible()) {
    window->show();
  }
}

void QtSettingsWindow::build() {
  QWidget* window = host_.window();
  window->resize(static_cast<int>(SettingsWindowView::kWidth),
                 static_cast<int>(SettingsWindowView::kHeight));
  window->setMinimumSize(static_cast<int>(SettingsWindowView::kMinWidth),
                         static_cast<int>(SettingsWindowView::kMinHeight));
  sidebar_ = new SettingsSidebar(window);
  scroller_ = new QScrollArea(window);
  scroller_->setWidgetResizable(true);
  scroller_->setFrameShape(QFrame::NoFrame);
  scroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* layout = new QHBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(sidebar_);
  layout->addWidget(scroller_, 1);
}

void QtSettingsWindow::showPage(const SettingsWindowView& view) {
  if (page_ && page_->hasShapeOf(view)) {
    page_->apply(view);
    return;
  }
  // takeWidget() leaves the old page to us; it goes once the current event is handled, since
  // the click that changed the page may still be running in one of its controls.
  if (QWidget* old = scroller_->takeWidget()) retireWidget(old);
  page_ = new SettingsPage(view, [this](const std::string& id) { return icons_.icon(id); });
  page_->setAutoFillBackground(false);
  scroller_->setWidget(page_);
  scroller_->viewport()->setAutoFillBackground(false);
  scroller_->verticalScrollBar()->setValue(0);
}

SettingsSidebar* QtSettingsWindow::sidebar() const {
  return sidebar_;
}

QScrollArea* QtSettingsWindow::pageScroller() const {
  return scroller_;
}

void QtSettingsWindow::bringToFront() {
  host_.bringToFront();
}

void QtSettingsWindow::close() {
  host_.close();
}

bool QtSettingsWindow::isVisible() const {
  return host_.isVisible();
}

Rect QtSettingsWindow::frame() const {
  return host_.frame();
}

void QtSettingsWindow::setCloseHandler(std::function<void()> handler) {
  host_.setCloseHandler(std::move(handler));
}

void QtSettingsWindow::setActivator(std::function<void(unsigned long)> activator) {
  host_.setActivator(std::move(activator));
}

void QtSettingsWindow::setIconSource(AppIcons::Source applications) {
  icons_ = AppIcons(std::move(applications));
}

}  // namespace tolvane::qt

// The palette's window: placement, backdrop mode, the search field, the custom-painted list
// and the input grab. Painting is in palette_painting.cpp; every decision about content was
// made by the core.
#include "ui/qt/qt_palette_panel.h"

#include <QAbstractScrollArea>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>
#include <QtMath>
#include <algorithm>
#include <optional>
#include <utility>

#include "ui/qt/painting_basics.h"
#include "ui/qt/palette_painting.h"

namespace tolvane::qt {

namespace {

QRect aligned(const QRectF& rect) {
  return rect.toAlignedRect();
}

}  // namespace

/// The result list: a scroll area whose viewport paints only the rows it shows, so a thousand
/// rows cost what ten do.
class PaletteList final : public QAbstractScrollArea {
 public:
  /// `context` gives the appearance at each paint: the panel's palette, font and icons.
  PaletteList(QWidget* parent, const PalettePanelView& view,
              std::function<PalettePaintContext()> context, std::function<void(int, int)> onClick)
      : QAbstractScrollArea(parent),
        view_(view),
        context_(std::move(context)),
        onClick_(std::move(onClick)) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
  }

  /// Takes the rows of the current view; scrolls to the top for a new opening and the minimum
  /// that shows `selectedID` when the selection moved.
  void refresh(bool newOpening, bool selectionChanged) {
    const int span = qCeil(contentHeight()) - viewportHeight();
    verticalScrollBar()->setRange(0, std::max(0, span));
    verticalScrollBar()->setPageStep(viewportHeight());
    verticalScrollBar()->setSingleStep(qRound(pitch()));
    if (newOpening) verticalScrollBar()->setValue(0);
    if ((newOpening || selectionChanged) && view_.selectedID) scrollTo(*view_.selectedID);
    viewport()->update();
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(viewport());
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    const double offset = verticalScrollBar()->value();
    painter.translate(0, -offset);
    const QRectF shown = QRectF(event->rect()).translated(0, offset);
    const auto [first, last] = rowsWithin(shown.top(), shown.bottom());
    const PalettePaintContext context = context_();
    for (std::size_t i = first; i < last; ++i) {
      paintPaletteRow(painter, view_.rows[i], rowFrame(view_.rows[i]), context);
    }
  }

  void resizeEvent(QResizeEvent* event) override {
    QAbstractScrollArea::resizeEvent(event);
    refresh(false, false);
  }

  void scrollContentsBy(int, int) override { viewport()->update(); }

  void mousePressEvent(QMouseEvent* event) override { report(event, 1); }
  void mouseDoubleClickEvent(QMouseEvent* event) override { report(event, 2); }

 private:
  double pitch() const { return view_.rowHeight + view_.rowSpacing; }

  // From the list's own size: a hidden list's viewport is resized only once it is shown.
  int viewportHeight() const { return maximumViewportSize().height(); }

  double contentHeight() const {
    const auto count = static_cast<double>(view_.rows.size());
    if (count == 0) return 0;
    return 2 * view_.listInset + count * view_.rowHeight + (count - 1) * view_.rowSpacing;
  }

  QRectF rowFrame(const PaletteRowView& row) const {
    const double width = viewport()->width() - 2 * view_.listInset;
    return {view_.listInset, view_.listInset + row.index * pitch(), std::max(0.0, width),
            view_.rowHeight};
  }

  /// Positions in view_.rows of the rows that reach into [top, bottom] of the content. Rows
  /// are stacked in the order of their index, which is their position in the list.
  std::pair<std::size_t, std::size_t> rowsWithin(double top, double bottom) const {
    if (view_.rows.empty() || !(pitch() > 0)) return {0, 0};
    const double first = std::floor((top - view_.listInset) / pitch());
    const double last = std::floor((bottom - view_.listInset) / pitch()) + 1;
    const auto clamp = [&](double value) {
      return static_cast<std::size_t>(std::clamp(value, 0.0, double(view_.rows.size())));
    };
    return {clamp(first), clamp(last)};
  }

  std::optional<std::size_t> rowAt(QPointF point) const {
    const double y = point.y() + verticalScrollBar()->value();
    const auto [first, last] = rowsWithin(y, y);
    for (std::size_t i = first; i < last; ++i) {
      if (rowFrame(view_.rows[i]).contains(point.x(), y)) return i;
    }
    return std::nullopt;
  }

  void scrollTo(std::uint32_t windowID) {
    const auto it =
        std::find_if(view_.rows.begin(), view_.rows.end(),
                     [&](const PaletteRowView& row) { return row.windowID == windowID; });
    if (it == view_.rows.end()) return;
    const QRectF frame = rowFrame(*it);
    QScrollBar& bar = *verticalScrollBar();
    if (frame.top() < bar.value()) {
      bar.setValue(qFloor(frame.top()));
    } else if (frame.bottom() > bar.value() + viewportHeight()) {
      bar.setValue(qCeil(frame.bottom() - viewportHeight()));
    }
  }

  void report(QMouseEvent* event, int clickCount) {
    if (event->button() != Qt::LeftButton) return;
    const auto row = rowAt(event->position());
    // The handler may show a new description or hide the panel: nothing of the row is read
    // after it runs.
    if (row) onClick_(view_.rows[*row].index, clickCount);
  }

  const PalettePanelView& view_;
  std::function<PalettePaintContext()> context_;
  std::function<void(int, int)> onClick_;
};

/// The palette's window. Its backdrop mode is fixed for its lifetime, because the window's
/// visual (with or without alpha) is chosen when the native window is created.
class PaletteWidget final : public QWidget {
 public:
  struct Handlers {
    std::function<void(const std::string&)> edited;
    std::function<void(int, int)> rowClicked;
    std::function<void()> clickedOutside;
  };

  PaletteWidget(bool translucent, Handlers handlers, AppIcons icons)
      : translucent_(translucent), handlers_(std::move(handlers)), icons_(std::move(icons)) {
    // Override-redirect keeps the window manager out: no frame, no focus change, no entry in
    // the client list. Keys come through the input grab, never through the input focus.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground, translucent_);
    setAttribute(Qt::WA_OpaquePaintEvent, !translucent_);

    field_ = new QLineEdit(this);
    field_->setFrame(false);
    field_->setFont(searchFieldFont(font()));
    field_->setAttribute(Qt::WA_TranslucentBackground);
    QPalette fieldColors = field_->palette();
    fieldColors.setColor(QPalette::Base, Qt::transparent);
    field_->setPalette(fieldColors);
    QObject::connect(field_, &QLineEdit::textEdited, [this](const QString& text) {
      if (handlers_.edited) handlers_.edited(text.toStdString());
    });
    list_ = new PaletteList(
        this, view_, [this] { return paintContext(); },
        [this](int row, int count) {
          if (handlers_.rowClicked) handlers_.rowClicked(row, count);
        });
  }

  bool translucent() const { return translucent_; }
  QLineEdit* field() const { return field_; }

  void present(const PalettePanelView& view) {
    const bool newOpening = view.focusRequestID != view_.focusRequestID || !isVisible();
    const bool selectionChanged = view.selectedID != view_.selectedID;
    view_ = view;
    placePanel(*this, view.size, view.frame, translucent_, paletteShape(view_));
    field_->setGeometry(aligned(searchFieldRect(view_, font())));
    const QString placeholder = QString::fromStdString(view.placeholder);
    if (field_->placeholderText() != placeholder) field_->setPlaceholderText(placeholder);
    // Replaced only when it differs, so the caret stays where the user put it.
    const QString query = QString::fromStdString(view.query);
    if (field_->text() != query) field_->setText(query);
    list_->setGeometry(aligned(paletteBodyRect(view_)));
    list_->setVisible(!view_.message);
    list_->refresh(newOpening, selectionChanged);
    if (!isVisible()) show();
    raise();
    if (newOpening) field_->setFocus(Qt::OtherFocusReason);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    const PalettePaintContext context = paintContext();
    paintPaletteChrome(painter, view_, context);
    if (view_.message)
      paintPaletteMessage(painter, *view_.message, paletteBodyRect(view_), context);
    paintPaletteBorder(painter, view_, context);
  }

  // Under the pointer grab a press anywhere on the screen comes here; one outside the panel
  // is the user leaving it.
  void mousePressEvent(QMouseEvent* event) override {
    if (!paletteShape(view_).contains(event->position()) && handlers_.clickedOutside) {
      handlers_.clickedOutside();
      return;
    }
    QWidget::mousePressEvent(event);
  }

  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::ThemeChange) icons_.clear();
    QWidget::changeEvent(event);
  }

 private:
  PalettePaintContext paintContext() {
    return PalettePaintContext{palette(), font(), icons_, translucent_};
  }

  const bool translucent_;
  Handlers handlers_;
  AppIcons icons_;
  PalettePanelView view_;
  QLineEdit* field_ = nullptr;
  PaletteList* list_ = nullptr;
};

QtPalettePanel::QtPalettePanel(InputGrab* grab, CompositorProbe compositor, Log log)
    : grab_(grab),
      compositor_(std::move(compositor)),
      log_(std::move(log)),
      deferred_(std::make_unique<QObject>()) {
  if (grab_) grab_->setLostHandler([this] { resignLater("the keyboard grab was released"); });
}

QtPalettePanel::~QtPalettePanel() {
  if (grab_) {
    grab_->setLostHandler(nullptr);
    grab_->release();
  }
}

void QtPalettePanel::ensureWidget(bool translucent) {
  if (widget_ && widget_->translucent() == translucent) return;
  if (widget_) {
    // The old window may be delivering the event that led here; it goes once that returns.
    widget_->hide();
    widget_.release()->deleteLater();
  }
  // Copies of the handlers are called: a handler may replace itself while it runs.
  PaletteWidget::Handlers handlers{
      .edited =
          [this](const std::string& text) {
            if (auto handler = query_) handler(text);
          },
      .rowClicked =
          [this](int row, int count) {
            if (auto handler = rowClick_) handler(row, count);
          },
      .clickedOutside = [this] { resignLater(nullptr); },
  };
  widget_ = std::make_unique<PaletteWidget>(translucent, std::move(handlers),
                                            AppIcons(applicationIcons_, windowIcons_));
}

void QtPalettePanel::show(const PalettePanelView& view) {
  const bool wasVisible = isVisible();
  ensureWidget(compositor_ && compositor_());
  widget_->present(view);
  // Only an opening takes the grab: once lost, the hold is not taken back behind the core's
  // back, which hears of the loss and closes the panel.
  if (!wasVisible) startGrab();
}

void QtPalettePanel::hide() {
  ++closings_;
  ++grabRound_;
  if (grab_) grab_->release();
  if (widget_) widget_->hide();
}

bool QtPalettePanel::isVisible() const {
  return widget_ && widget_->isVisible();
}

void QtPalettePanel::startGrab() {
  tryGrab(++grabRound_, 1);
}

void QtPalettePanel::tryGrab(std::uint64_t round, int attempt) {
  if (round != grabRound_ || !isVisible()) return;
  if (!grab_) return;
  // The server tells the grab window that it has the keyboard (a FocusIn), and Qt then treats
  // it as its active window: text input (dead keys, an input method) follows, while the
  // window manager's focus stays where it was. The ungrab's FocusOut ends it again.
  const auto outcome = grab_->take(static_cast<std::uint32_t>(widget_->winId()));
  if (outcome == InputGrab::Outcome::taken) return;
  if (outcome == InputGrab::Outcome::busy && attempt < kGrabAttempts) {
    // A window manager's own grab or an override-redirect map still in progress passes
    // within moments; the main thread is not held up meanwhile.
    QTimer::singleShot(kGrabRetryMs, deferred_.get(),
                       [this, round, attempt] { tryGrab(round, attempt + 1); });
    return;
  }
  resignLater("another program holds the keyboard or the pointer; the palette closes");
}

void QtPalettePanel::resignLater(const char* reason) {
  if (reason && log_) log_(std::string("palette: ") + reason);
  const std::uint64_t closings = closings_;
  QTimer::singleShot(0, deferred_.get(), [this, closings] {
    if (closings != closings_ || !isVisible()) return;
    if (auto handler = resign_) handler();
  });
}

void QtPalettePanel::setQueryHandler(std::function<void(const std::string& query)> handler) {
  query_ = std::move(handler);
}

void QtPalettePanel::setRowClickHandler(std::function<void(int row, int clickCount)> handler) {
  rowClick_ = std::move(handler);
}

void QtPalettePanel::setResignHandler(std::function<void()> handler) {
  resign_ = std::move(handler);
}

void QtPalettePanel::setIconSources(AppIcons::Source applications, AppIcons::WindowSource windows) {
  applicationIcons_ = std::move(applications);
  windowIcons_ = std::move(windows);
}

QWidget* QtPalettePanel::window() const {
  return widget_.get();
}

QLineEdit* QtPalettePanel::searchField() const {
  return widget_ ? widget_->field() : nullptr;
}

}  // namespace tolvane::qt

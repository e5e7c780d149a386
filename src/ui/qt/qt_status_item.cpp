// Painting the tray icon from its description, playing the alert dot's beat, and the menu.
#include "ui/qt/qt_status_item.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

#include "platform/event_tap.h"

namespace tolvane::qt {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
/// How long a bar's watcher has to say whether a host runs, and the wait before asking again.
constexpr int kHostQueryMillis = 2000;
constexpr int kHostRetryMillis = 1000;
/// The one question asked while starting waits less: a hung bar delays the start by this much.
constexpr int kStartQueryMillis = 500;

/// The watcher's IsStatusNotifierHostRegistered property, asked for.
QDBusMessage hostQuestion() {
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
  return get;
}

/// Whether the reply came from a watcher, or from a bus that has none.
bool watcherRuns(const QDBusMessage& reply) {
  return reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown");
}

bool hostRuns(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

/// The alert dot's red, the colour desktops use for alerts.
const QColor kAlertRed(255, 59, 48);

QPointF toQt(Point point) {
  return {point.x, point.y};
}

QPainterPath pathOf(const std::vector<PathElement>& elements) {
  QPainterPath path;
  for (const auto& element : elements) {
    switch (element.op) {
      case PathElement::Op::move:
        path.moveTo(toQt(element.to));
        break;
      case PathElement::Op::line:
        path.lineTo(toQt(element.to));
        break;
      case PathElement::Op::curve:
        path.cubicTo(toQt(element.control1), toQt(element.control2), toQt(element.to));
        break;
      case PathElement::Op::close:
        path.closeSubpath();
        break;
    }
  }
  return path;
}

QIcon iconOf(const StatusItemView& view, const QColor& ink, double dotScale,
             const std::vector<int>& sizes) {
  QIcon icon;
  for (int size : sizes) {
    icon.addPixmap(QPixmap::fromImage(renderStatusIcon(view, size, ink, dotScale)));
  }
  return icon;
}

std::vector<int> allSizes(int traySize) {
  std::vector<int> sizes(std::begin(QtStatusItem::kIconSizes), std::end(QtStatusItem::kIconSizes));
  if (std::find(sizes.begin(), sizes.end(), traySize) == sizes.end()) sizes.push_back(traySize);
  return sizes;
}

/// The keys a menu character names that are not printable characters of their own.
const std::map<std::string, Qt::Key>& namedKeys() {
  static const std::map<std::string, Qt::Key> keys{
      {" ", Qt::Key_Space},   {"↩", Qt::Key_Return}, {"⇥", Qt::Key_Tab},   {"⌫", Qt::Key_Backspace},
      {"⌦", Qt::Key_Delete},  {"←", Qt::Key_Left},   {"→", Qt::Key_Right}, {"↑", Qt::Key_Up},
      {"↓", Qt::Key_Down},    {"↖", Qt::Key_Home},   {"↘", Qt::Key_End},   {"⇞", Qt::Key_PageUp},
      {"⇟", Qt::Key_PageDown}};
  return keys;
}

/// A title as a menu shows it: a single "&" is Qt's mnemonic marker. A tray host drawing the
/// menu from its dbusmenu labels takes a single "_" for one as well, and Qt passes on
/// underscores as they are.
QString menuText(const std::string& title, bool hostDraws) {
  QString text = QString::fromStdString(title).replace(QLatin1Char('&'), QLatin1String("&&"));
  if (hostDraws) text.replace(QLatin1Char('_'), QLatin1String("__"));
  return text;
}

/// A tooltip as the text it is: a tray may render tooltips as rich text when they look like it.
QString tooltipText(const std::string& tooltip) {
  const QString text = QString::fromStdString(tooltip);
  if (!Qt::mightBeRichText(text)) return text;
  return QLatin1String("<qt>") + text.toHtmlEscaped() + QLatin1String("</qt>");
}

/// `hostDraws`: a StatusNotifierItem host draws the menu from its dbusmenu export.
void fill(QMenu& menu, const std::vector<MenuEntry>& entries, AppIcons& icons, bool hostDraws) {
  for (const auto& entry : entries) {
    switch (entry.kind) {
      case MenuEntry::Kind::separator:
        menu.addSeparator();
        continue;
      case MenuEntry::Kind::header:
        menu.addSection(menuText(entry.title, hostDraws));
        continue;
      case MenuEntry::Kind::item:
        break;
    }
    if (!entry.submenu.empty()) {
      fill(*menu.addMenu(menuText(entry.title, hostDraws)), entry.submenu, icons, hostDraws);
      continue;
    }
    QAction* action = menu.addAction(menuText(entry.title, hostDraws));
    action->setEnabled(entry.enabled);
    action->setCheckable(entry.checked);
    action->setChecked(entry.checked);
    const QKeySequence shortcut = keySequenceOf(entry.keyEquivalent, entry.keyEquivalentFlags);
    action->setShortcut(shortcut);
    // A host shows the shortcut Qt exports beside the label, naming Meta "Super" itself.
    if (!shortcut.isEmpty() && !hostDraws) {
      // Shown by hand: Qt names the Super key "Meta", which no Linux desktop shows its users.
      QString shown = shortcut.toString(QKeySequence::NativeText);
      shown.replace(QStringLiteral("Meta+"), QStringLiteral("Super+"));
      action->setText(action->text() + QLatin1Char('\t') + shown);
    }
    if (entry.iconBundleID) action->setIcon(icons.icon(entry.iconBundleID));
    if (!entry.action) continue;
    QObject::connect(action, &QAction::triggered, action, [run = entry.action] {
      // After the menu has closed and let go of the pointer and keyboard: an action may open
      // a window that takes the keyboard itself.
      QTimer::singleShot(0, QCoreApplication::instance(), run);
    });
  }
}

/// Reports the shown and hidden events of the object it watches.
class ShowHideWatch final : public QObject {
 public:
  explicit ShowHideWatch(std::function<void(bool shown)> changed) : changed_(std::move(changed)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) changed_(true);
    if (event->type() == QEvent::Hide) changed_(false);
    return false;
  }

 private:
  std::function<void(bool)> changed_;
};

}  // namespace

QColor trayInk(const QPalette& palette) {
  QColor ink = palette.color(QPalette::Active, QPalette::WindowText);
  ink.setAlpha(255);
  return ink;
}

QImage renderStatusIcon(const StatusItemView& view, int pixels, const QColor& ink,
                        double dotScale) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const VectorIcon& icon = view.icon;
  painter.scale(pixels / icon.size, pixels / icon.size);
  painter.save();
  painter.scale(icon.scale, icon.scale);
  painter.setPen(QPen(ink, icon.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  for (const auto& path : icon.paths) painter.drawPath(pathOf(path));
  painter.restore();
  if (icon.hole) {
    painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawEllipse(QRectF(icon.hole->x, icon.hole->y, icon.hole->width, icon.hole->height));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  if (view.badged) {
    const double radius = view.badgeDiameter * dotScale / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(kAlertRed);
    painter.drawEllipse(toQt(view.badgeCenter), radius, radius);
  }
  return image;
}

QKeySequence keySequenceOf(const std::string& key, std::uint64_t flags) {
  int code = 0;
  if (const auto named = namedKeys().find(key); named != namedKeys().end()) {
    code = named->second;
  } else if (key.size() == 1 && std::isprint(static_cast<unsigned char>(key[0]))) {
    // Qt's codes of printable ASCII keys are the upper-case characters themselves.
    code = std::toupper(static_cast<unsigned char>(key[0]));
  } else {
    return {};
  }
  Qt::KeyboardModifiers modifiers;
  if (flags & eventflags::kControl) modifiers |= Qt::ControlModifier;
  if (flags & eventflags::kOption) modifiers |= Qt::AltModifier;
  if (flags & eventflags::kShift) modifiers |= Qt::ShiftModifier;
  if (flags & eventflags::kCommand) modifiers |= Qt::MetaModifier;  // Super
  return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(code)));
}

QtStatusItem::QtStatusItem(TrayProbe trayProbe)
    : trayProbe_(std::move(trayProbe)),
      menu_(std::make_unique<QMenu>()),
      pulseTimer_(std::make_unique<QTimer>()) {
  // The widget itself is shown only where Qt draws the menu, and then Qt grabs the keyboard
  // and the pointer for it on our connection.
  menuWatch_ = std::make_unique<ShowHideWatch>([this](bool shown) { menuShown(shown); });
  menu_->installEventFilter(menuWatch_.get());
  QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] {
    if (willOpen_) willOpen_();
  });
  QObject::connect(pulseTimer_.get(), &QTimer::timeout, pulseTimer_.get(), [this] {
    if (view_ && !view_->pulseScales.empty()) showFrame((frame_ + 1) % view_->pulseScales.size());
  });
  // On Wayland Qt's tray icon is a StatusNotifierItem or nothing, and Qt decides which once per
  // process, the first time a tray icon is made or asked about: made before a bar's host runs
  // (both started with the session), it would never show. There the icon waits for a host.
  if (!trayProbe_ && QGuiApplication::platformName() == QLatin1String("wayland")) {
    watchWatcherName();
    // Asked once while starting, so that a bar already running shows the icon from the start
    // and no missing host is reported; after that only without waiting.
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(hostQuestion(), QDBus::Block, kStartQueryMillis);
    if (hostRuns(reply)) {
      createTray();
    } else {
      watcherOwned_ = watcherRuns(reply);
      if (watcherOwned_) askForHost();
    }
  } else {
    createTray();
  }
}

QtStatusItem::~QtStatusItem() {
  menu_->removeEventFilter(menuWatch_.get());
  if (tray_) tray_->setContextMenu(nullptr);
}

void QtStatusItem::watchWatcherName() {
  watcherName_ = std::make_unique<QDBusServiceWatcher>(
      kWatcherService, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForOwnerChange);
  QObject::connect(watcherName_.get(), &QDBusServiceWatcher::serviceOwnerChanged,
                   watcherName_.get(),
                   [this](const QString&, const QString&, const QString& owner) {
                     watcherOwned_ = !owner.isEmpty();
                     if (watcherOwned_) askForHost();
                   });
}

void QtStatusItem::askForHost() {
  if (tray_ || hostQuery_) return;
  // Asked without waiting: a bar that hangs must not hang the main thread.
  hostQuery_ = std::make_unique<QDBusPendingCallWatcher>(
      QDBusConnection::sessionBus().asyncCall(hostQuestion(), kHostQueryMillis));
  QObject::connect(hostQuery_.get(), &QDBusPendingCallWatcher::finished, hostQuery_.get(), [this] {
    const QDBusMessage reply = hostQuery_->reply();
    hostQuery_.release()->deleteLater();  // this is its signal
    if (hostRuns(reply)) return createTray();
    // No watcher: its name's owner asks again when one starts. A watcher whose bar has not
    // registered its host yet, or one that did not answer: asked again a little later.
    watcherOwned_ = watcherRuns(reply);
    if (watcherOwned_) QTimer::singleShot(kHostRetryMillis, menu_.get(), [this] { askForHost(); });
  });
}

void QtStatusItem::createTray() {
  if (tray_) return;
  tray_ = std::make_unique<QSystemTrayIcon>();
  tray_->setContextMenu(menu_.get());
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                   [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
  if (!trayProbe_ && menu_->platformMenu()) {
    // Qt exports the item over D-Bus because a host ran when it was made. Its own probe opens a
    // bus connection and makes two blocking calls to the watcher at every refresh, so a bar
    // that hangs would hang the main thread; the watcher's name coming and going says the
    // same without a call, and Qt registers the item again with a new watcher.
    if (!watcherName_) watchWatcherName();
    watcherOwned_ = true;
    trayProbe_ = [this] { return watcherOwned_; };
  } else if (!trayProbe_) {
    trayProbe_ = &QSystemTrayIcon::isSystemTrayAvailable;
  }
  // What was set while there was no icon; the menu again, as a host's labels escape otherwise.
  if (view_) showAppearance();
  if (!entries_.empty()) setMenu(entries_);
}

bool QtStatusItem::isAvailable() const {
  const bool available = tray_ && trayProbe_();
  if (available != available_) {
    available_ = available;
    updatePulse();  // no beat for a tray nobody sees
  }
  return available;
}

int QtStatusItem::traySize() const {
  const QRect geometry = tray_ ? tray_->geometry() : QRect();
  const int size = std::min(geometry.width(), geometry.height());
  return size > 0 ? size : kDefaultTraySize;
}

void QtStatusItem::setAppearance(const StatusItemView& view) {
  view_ = view;
  frames_.clear();
  frame_ = 0;
  // The host knows its panel; without a word from it the application's palette decides.
  const auto hostInk = inkSource_ ? inkSource_() : std::nullopt;
  ink_ = hostInk ? QColor::fromRgbF(static_cast<float>(hostInk->red),
                                    static_cast<float>(hostInk->green),
                                    static_cast<float>(hostInk->blue))
                 : trayInk(QGuiApplication::palette());
  if (tray_) showAppearance();
  updatePulse();
}

void QtStatusItem::showAppearance() {
  tray_->setIcon(iconOf(*view_, ink_, 1.0, allSizes(traySize())));
  tray_->setToolTip(tooltipText(view_->tooltip));
  if (!tray_->isVisible()) tray_->show();
}

void QtStatusItem::updatePulse() const {
  const bool beats = view_ && view_->badged && view_->pulse && !view_->pulseScales.empty() &&
                     view_->pulseFrameSeconds > 0 && available_;
  if (!beats) {
    pulseTimer_->stop();
    return;
  }
  if (!pulseTimer_->isActive()) {
    pulseTimer_->start(std::max(1, static_cast<int>(view_->pulseFrameSeconds * 1000)));
  }
}

bool QtStatusItem::isPulsing() const {
  return pulseTimer_->isActive();
}

void QtStatusItem::showFrame(std::size_t frame) {
  const auto& scales = view_->pulseScales;
  // Most of a beat is rest: a frame that looks like the one before costs nothing.
  const bool same = scales[frame] == scales[frame_];
  frame_ = frame;
  if (same || !tray_) return;
  if (frames_.empty()) {
    for (double scale : scales) frames_.push_back(iconOf(*view_, ink_, scale, {traySize()}));
  }
  tray_->setIcon(frames_[frame]);
}

void QtStatusItem::setMenu(std::vector<MenuEntry> entries) {
  entries_ = std::move(entries);
  menu_->clear();
  // Qt gives the menu a platform menu only when it exports it to a StatusNotifierItem host.
  fill(*menu_, entries_, icons_, menu_->platformMenu() != nullptr);
}

void QtStatusItem::setMenuWillOpenHandler(std::function<void()> handler) {
  willOpen_ = std::move(handler);
}

void QtStatusItem::setMenuVisibilityHandler(std::function<void(bool open)> handler) {
  visibility_ = std::move(handler);
}

void QtStatusItem::menuShown(bool shown) {
  if (grabObserver_) grabObserver_(shown);
  if (visibility_) visibility_(shown);
}

void QtStatusItem::setClickHandler(std::function<void()> handler) {
  click_ = std::move(handler);
}

void QtStatusItem::activated(int reason) {
  if (reason != QSystemTrayIcon::Trigger) return;  // the context menu opens by itself
  // A Control-click is a secondary click, as on a one-button pointer.
  if (QGuiApplication::keyboardModifiers() & Qt::ControlModifier) {
    menu_->popup(QCursor::pos());
  } else if (click_) {
    click_();
  }
}

}  // namespace tolvane::qt

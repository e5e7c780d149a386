// The beep, the reduced-motion reading, the about box, the application chooser and the update
// notice.
#include "ui/qt/qt_user_interaction.h"

#include "ui/qt/application_chooser.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <optional>

namespace tolvane::qt {

namespace {

/// More than any answer of the setting; the rest of a chatty program's output is not read.
constexpr qint64 kProbeOutputBytes = 64;

// The notice's texts carry a version read from the feed: escaped, so markup in it is shown as
// typed rather than interpreted.
QString noticeText(const UpdateNotice& notice) {
  return QStringLiteral("<p><b>%1</b></p><p>%2</p>")
      .arg(QString::fromStdString(notice.title).toHtmlEscaped(),
           QString::fromStdString(notice.message).toHtmlEscaped());
}

// The core offers only web pages; checked again here because this is where a link is opened.
std::optional<QUrl> webPage(const std::string& page) {
  const QUrl url(QString::fromStdString(page), QUrl::StrictMode);
  const bool web = url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http");
  if (!url.isValid() || !web || url.host().isEmpty()) return std::nullopt;
  return url;
}

}  // namespace

QtUserInteraction::QtUserInteraction(std::vector<std::string> probe) : probe_(std::move(probe)) {
  startProbe();
}

QtUserInteraction::~QtUserInteraction() {
  if (running_) {
    running_->disconnect();
    running_->kill();
    running_->waitForFinished(kProbeTimeoutMilliseconds);
  }
}

void QtUserInteraction::beep() {
  QApplication::beep();
}

bool QtUserInteraction::prefersReducedMotion() const {
  if (!running_ && (!sinceProbe_.isValid() || sinceProbe_.hasExpired(kRecheckSeconds * 1000))) {
    startProbe();
  }
  return reducedMotion_;
}

void QtUserInteraction::startProbe() const {
  sinceProbe_.start();
  if (probe_.empty()) return;
  running_ = std::make_unique<QProcess>();
  QStringList arguments;
  for (std::size_t i = 1; i < probe_.size(); ++i) arguments << QString::fromStdString(probe_[i]);
  running_->setProgram(QString::fromStdString(probe_[0]));
  running_->setArguments(arguments);
  running_->setStandardErrorFile(QProcess::nullDevice());
  QObject::connect(running_.get(), &QProcess::finished, running_.get(), [this] { probeEnded(); });
  QObject::connect(running_.get(), &QProcess::errorOccurred, running_.get(),
                   [this](QProcess::ProcessError error) {
                     // A program that could not start never finishes; one that did reports
                     // its end through `finished` as well.
                     if (error == QProcess::FailedToStart) probeEnded();
                   });
  QTimer::singleShot(kProbeTimeoutMilliseconds, running_.get(),
                     [process = running_.get()] { process->kill(); });
  running_->start(QIODevice::ReadOnly);
}

void QtUserInteraction::probeEnded() const {
  const bool finished = running_->exitStatus() == QProcess::NormalExit && running_->exitCode() == 0;
  const QByteArray answer = running_->read(kProbeOutputBytes).trimmed();
  // Only a clear "false" asks for reduced motion; anything else leaves motion on.
  reducedMotion_ = finished && answer == "false";
  // The process object is inside its own signal: it goes once control is back in the loop.
  running_.release()->deleteLater();
  if (probeObserver_) probeObserver_();
}

void QtUserInteraction::showAbout(const std::string& applicationName, const std::string& version) {
  if (about_) {
    about_->raise();
    about_->activateWindow();
    return;
  }
  const QString name = QString::fromStdString(applicationName);
  auto* box =
      new QMessageBox(QMessageBox::NoIcon, name,
                      name + QLatin1Char(' ') + QString::fromStdString(version), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
  box->setModal(false);
  about_ = box;
  box->show();
}

void QtUserInteraction::chooseApplications(const std::vector<InstalledApplication>& candidates,
                                           const std::string& title,
                                           std::function<void(std::vector<std::string>)> done) {
  auto* dialog = new ApplicationChooser(candidates, QString::fromStdString(title), icons_);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done](int result) {
    done(result == QDialog::Accepted ? dialog->chosen() : std::vector<std::string>());
  });
  dialog->open();
}

void QtUserInteraction::showUpdateNotice(const UpdateNotice& notice) {
  // What the last check said is stale once a newer answer comes.
  if (updateNotice_) updateNotice_->close();
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(notice.title),
                              noticeText(notice), QMessageBox::NoButton);
  box->setTextFormat(Qt::RichText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  if (notice.downloadPage) {
    QPushButton* download =
        box->addButton(QString::fromStdString(notice.downloadLabel), QMessageBox::AcceptRole);
    QObject::connect(download, &QPushButton::clicked, box, [this, page = *notice.downloadPage] {
      const auto url = webPage(page);
      if (!url) return;
      if (pageOpener_) {
        pageOpener_(*url);
      } else {
        QDesktopServices::openUrl(*url);
      }
    });
    box->setDefaultButton(download);
  }
  box->setEscapeButton(
      box->addButton(QString::fromStdString(notice.dismissLabel), QMessageBox::RejectRole));
  updateNotice_ = box;
  box->show();
  box->raise();
  box->activateWindow();
}

}  // namespace tolvane::qt

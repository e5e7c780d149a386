// The update notice as a message box: its texts shown as typed, its buttons, and the page its
// Download button opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <string>
#include <vector>

#include "ui/qt/qt_user_interaction.h"

namespace tolvane::qt {
namespace {

class QtUpdateNoticeTest : public ::testing::Test {
 protected:
  QtUpdateNoticeTest() {
    interaction.setPageOpener([this](const QUrl& url) { opened.push_back(url.toString()); });
  }
  ~QtUpdateNoticeTest() override {
    for (QMessageBox* box : boxes()) box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  static std::vector<QMessageBox*> boxes() {
    std::vector<QMessageBox*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
        shown.push_back(box);
      }
    }
    return shown;
  }
  QtUserInteraction interaction{{}};
  std::vector<QString> opened;
};

TEST_F(QtUpdateNoticeTest, DownloadOpensTheReleasePage) {
  interaction.showUpdateNotice({.title = "Tolvane <i>2.0</i> is available",
                                .message = "You have version 1.4 & friends.",
                                .downloadPage = "https://example.org/releases/2.0",
                                .downloadLabel = "Download",
                                .dismissLabel = "Later"});
  ASSERT_EQ(boxes().size(), 1u);
  QMessageBox& box = *boxes()[0];
  EXPECT_FALSE(box.isModal());
  // Markup from the feed is shown, not applied.
  EXPECT_TRUE(box.text().contains("Tolvane &lt;i&gt;2.0&lt;/i&gt; is available"))
      << box.text().toStdString();
  EXPECT_TRUE(box.text().contains("1.4 &amp; friends")) << box.text().toStdString();
  QStringList buttons;
  for (QAbstractButton* button : box.buttons()) buttons << button->text();
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{"Download", "Later"}));

  qobject_cast<QPushButton*>(box.defaultButton())->click();
  // Deletes the box its close retired with deleteLater(), as the event loop would.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(opened, (std::vector<QString>{"https://example.org/releases/2.0"}));
  EXPECT_TRUE(boxes().empty());
}

}  // namespace
}  // namespace tolvane::qt

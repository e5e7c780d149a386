// Entry point of the Qt tests: one QApplication for every test, on the offscreen platform unless
// the environment names another.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns at every raise() and setMask(), which only matter on X11.
void quietOffscreenWarnings(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
  if (message.startsWith(QLatin1String("This plugin does not support"))) return;
  defaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  defaultHandler = qInstallMessageHandler(quietOffscreenWarnings);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

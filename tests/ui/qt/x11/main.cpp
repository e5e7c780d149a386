// Entry point of the Qt tests on X11: one private display with openbox for the whole program,
// started before the QApplication that connects to it.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/x11/x_session.h"

namespace tolvane::test {

std::unique_ptr<XSession> sharedSession;

}  // namespace tolvane::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  auto& session = tolvane::test::sharedSession;
  session = std::make_unique<tolvane::test::XSession>();
  if (!session->start(true)) {
    std::fprintf(stderr, "cannot start the X session: %s\n", session->error().c_str());
    return 1;
  }
  setenv("DISPLAY", session->display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  // Typed text composes through the locale's compose table.
  setenv("LC_ALL", "C.UTF-8", 1);
  unsetenv("QT_IM_MODULE");
  int status = 0;
  {
    QApplication app(argc, argv);
    status = RUN_ALL_TESTS();
  }
  session.reset();
  return status;
}

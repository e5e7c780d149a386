// tolvane-bare-qt-window: one plain QWidget on screen until the process is ended. The desktop
// benchmark measures its memory beside Tolvane's, as the floor any Qt Widgets program pays.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle("bare Qt window");
  window.resize(300, 200);
  window.show();
  return application.exec();
}

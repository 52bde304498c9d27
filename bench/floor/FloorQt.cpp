// The floor of a window: a QMainWindow with an empty QListView and a status bar, the size of
// the program's window, titled "floor_qt". With --exit-at-paint it ends as soon as its first
// paint is flushed, as the program does with QM_TRACE_START=paint, so whole starts can be timed.
#include <QApplication>
#include <QListView>
#include <QMainWindow>
#include <QStatusBar>
#include <QStringListModel>
#include <QTimer>
#include <cstdlib>
#include <cstring>

namespace {

class TFloorWindow : public QMainWindow {
 public:
  explicit TFloorWindow(bool exitAtPaint) : FExitAtPaint(exitAtPaint) {}

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::Paint && FExitAtPaint && !FPainted) {
      FPainted = true;
      QTimer::singleShot(0, [] { std::_Exit(0); });
    }
    return QMainWindow::event(e);
  }

 private:
  bool FExitAtPaint;
  bool FPainted = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TFloorWindow window(argc > 1 && std::strcmp(argv[1], "--exit-at-paint") == 0);
  window.setWindowTitle(QStringLiteral("floor_qt"));
  QStringListModel model;
  auto* list = new QListView;
  list->setModel(&model);
  window.setCentralWidget(list);
  window.statusBar()->showMessage(QStringLiteral("Ready"));
  window.resize(680, 449);
  window.show();
  return QApplication::exec();
}

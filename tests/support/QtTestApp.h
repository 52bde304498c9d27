// One QApplication per test program, made on first use on the main thread.
#pragma once

#include <QApplication>

namespace qm::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "quillmark-test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: tearing Qt down among the other static objects at exit is not safe.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// A member that makes sure the application exists before the members after it.
struct TAppGuard {
  TAppGuard() { App(); }
};

}  // namespace qm::test

#include "app/ErrorBox.h"

#include <gtest/gtest.h>
#include <QMessageBox>
#include <QTimer>

#include <stdexcept>

#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

TEST(ErrorBox, AddsAFullStopWhenMissing) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Printing in progress", "Printing in progress."},
      {"Done.", "Done."},
      {"", ""},
      {"Socket Error # 10061\r\nConnection refused.", "Socket Error # 10061\r\nConnection refused."},
      {"Is it?", "Is it?."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ErrorBoxText(QString::fromLatin1(c.in)), QString::fromLatin1(c.out));
  }
}

TEST(ErrorBox, RunGuardedReportsTheFailureMessage) {
  QStringList reports;
  const auto report = [&](const QString& m) { reports << m; };
  EXPECT_TRUE(RunGuarded([] {}, report));
  EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("Printing in progress"); }, report));
  EXPECT_FALSE(RunGuarded([] { throw 42; }, report));
  ASSERT_EQ(reports.size(), 2);
  EXPECT_EQ(reports[0], QStringLiteral("Printing in progress"));
  EXPECT_FALSE(reports[1].isEmpty());
}

TEST(ErrorBox, ShowsTheTitleTheTextAndOk) {
  test::App();
  QString title, text;
  QMessageBox::StandardButtons buttons;
  // Reads the box once it is up, then closes it; gives up after a deadline.
  QTimer poll;
  int tries = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box) {
      title = box->windowTitle();
      text = box->text();
      buttons = box->standardButtons();
      box->accept();
    } else if (++tries > 200) {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w)) b->reject();
    }
  });
  poll.start(10);
  ShowErrorBox(nullptr, QStringLiteral("Printing in progress"));
  poll.stop();
  EXPECT_EQ(title, QStringLiteral("Message Printing for UI-View32"));
  EXPECT_EQ(text, QStringLiteral("Printing in progress."));
  EXPECT_EQ(buttons, QMessageBox::Ok);
}

}  // namespace
}  // namespace qm

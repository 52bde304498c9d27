#include "base/ProgramText.h"

#include "base/AsciiText.h"

#include <gtest/gtest.h>
#include <QMessageBox>
#include <QTimer>

#include <stdexcept>

#include "app/ErrorBox.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

TEST(DisplayText, Utf8WhenValidElseWindows1252) {
  struct Case {
    const char* name;
    std::string bytes;
    QString shown;
  } cases[] = {
      {"ascii", "NOCALL>APRS:hi", QStringLiteral("NOCALL>APRS:hi")},
      {"empty", "", QString()},
      {"utf-8 two bytes", "caf\xC3\xA9", QStringLiteral("caf\u00E9")},
      {"utf-8 euro", "\xE2\x82\xAC", QStringLiteral("\u20AC")},
      {"utf-8 four bytes", "\xF0\x9F\x93\xA0", QString::fromUtf8("\xF0\x9F\x93\xA0")},
      {"lone latin-1 byte", "caf\xE9", QStringLiteral("caf\u00E9")},
      {"cp1252 euro and quotes", "\x80\x93\x94", QStringLiteral("\u20AC\u201C\u201D")},
      {"cp1252 undefined bytes", "\x81\x8D\x8F\x90\x9D", QStringLiteral("\u0081\u008D\u008F\u0090\u009D")},
      {"overlong slash", "\xC0\xAF", QStringLiteral("\u00C0\u00AF")},
      {"utf-16 surrogate", "\xED\xA0\x80", QStringLiteral("\u00ED\u00A0\u20AC")},
      {"cut sequence", "ab\xE2\x82", QStringLiteral("ab\u00E2\u201A")},
      {"above U+10FFFF", "\xF4\x90\x80\x80", QStringLiteral("\u00F4\u0090\u20AC\u20AC")},
      {"nul kept", std::string("a\0b", 3), QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DisplayText(c.bytes), c.shown);
  }
}

TEST(ProgramText, GivesUtf8Bytes) {
  EXPECT_EQ(ProgramText(QStringLiteral("caf\u00E9")), "caf\xC3\xA9");
  EXPECT_EQ(ProgramText(QString()), "");
  EXPECT_EQ(DisplayText(ProgramText(QStringLiteral("\u20AC NOCALL"))), QStringLiteral("\u20AC NOCALL"));
}

TEST(UpperCase, ChangesOnlyAToZ) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"nocall-9", "NOCALL-9"},   {"NoCall", "NOCALL"},           {"", ""},
      {"a-z{}`@[", "A-Z{}`@["},   {"caf\xC3\xA9", "CAF\xC3\xA9"},  // é stays as it is
      {"\xE9t\xE9", "\xE9T\xE9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(UpperCase(c.in), c.out);
  }
}

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

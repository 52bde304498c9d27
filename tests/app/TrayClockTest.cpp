#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>

#include <QElapsedTimer>
#include <optional>
#include <string_view>

#include "app/MainForm.h"
#include "generated/QuillmarkVersion.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/TimeLocale.h"

namespace qm {
namespace {

using test::WaitFor;

TMainFormSetup WithTray(bool available) {
  // Each window gets a folder of its own that outlives it.
  static std::deque<std::unique_ptr<test::TFormEnvironment>> environments;
  environments.push_back(std::make_unique<test::TFormEnvironment>());
  TMainFormSetup s = environments.back()->Setup();
  s.TrayAvailable = [available] { return available; };
  s.TrayDoubleClicks = [] { return true; };
  s.ReportError = [](const QString& m) { ADD_FAILURE() << m.toStdString(); };
  return s;
}

TEST(Tray, IconMenuAndTip) {
  test::App();
  TMainForm form(WithTray(true));
  EXPECT_EQ(WM_TRAYICON, 1124);
  ASSERT_NE(form.FTrayIcon, nullptr);
  // Shown once the event loop runs, not in the window's constructor.
  EXPECT_TRUE(test::WaitFor([&] { return form.FTrayIcon->isVisible(); }, 5000));
  EXPECT_FALSE(form.FTrayIcon->icon().isNull());
  // A link that has said nothing yet.
  EXPECT_EQ(form.FTrayIcon->toolTip(),
            QStringLiteral("Quillmark - right-click for options\nNot connected, 0 packets"));
  EXPECT_EQ(form.FTrayIcon->contextMenu(), form.mnuTrayPopup);
  EXPECT_EQ(form.mnuTrayPopup->objectName(), QStringLiteral("mnuTrayPopup"));
  const QList<QAction*> items = form.mnuTrayPopup->actions();
  // The alarms' entry is there only while one sounds.
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0], form.miRestore);
  EXPECT_EQ(items[1], form.miHistory);
  EXPECT_EQ(items[2], form.miAcknowledgeAlarms);
  EXPECT_FALSE(items[2]->isVisible());
  EXPECT_EQ(items[3], form.miExit);
  EXPECT_EQ(items[0]->text(), QStringLiteral("Restore"));
  EXPECT_EQ(items[1]->text(), QStringLiteral("History..."));
  EXPECT_EQ(items[3]->text(), QStringLiteral("Exit"));
  // Every size the desktop asks for is drawn, not scaled from another.
  for (int size : {16, 22, 32, 48})
    EXPECT_EQ(form.FTrayIcon->icon().actualSize(QSize(size, size)), QSize(size, size)) << size;
}

TEST(Tray, MinimisingHidesAndADoubleClickBringsBack) {
  test::App();
  TMainForm form(WithTray(true));
  form.showMaximized();
  ASSERT_TRUE(WaitFor([&] { return form.isVisible(); }));
  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return !form.isVisible(); })) << "a minimised window leaves only the tray icon";

  struct Case {
    QSystemTrayIcon::ActivationReason reason;
    const char* name;
  } ignored[] = {{QSystemTrayIcon::Trigger, "single click"},
                 {QSystemTrayIcon::MiddleClick, "middle click"},
                 {QSystemTrayIcon::Context, "context"},
                 {QSystemTrayIcon::Unknown, "unknown"}};
  for (const auto& c : ignored) {
    SCOPED_TRACE(c.name);
    form.WMTrayIcon(c.reason);
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.isVisible());
  }
  emit form.FTrayIcon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());
  EXPECT_TRUE(form.isMaximized()) << "comes back as it was";
}

// A StatusNotifierItem tray (KDE, GNOME with AppIndicator) reports a click as activation and
// never a double click: there the click brings the window back.
TEST(Tray, WhereTheTrayHasNoDoubleClickAClickBringsBack) {
  test::App();
  TMainFormSetup s = WithTray(true);
  s.TrayDoubleClicks = [] { return false; };
  TMainForm form(s);
  form.show();
  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return !form.isVisible(); }));
  form.WMTrayIcon(QSystemTrayIcon::MiddleClick);
  QCoreApplication::processEvents();
  EXPECT_FALSE(form.isVisible());
  emit form.FTrayIcon->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());
}

TEST(Tray, RestoreInTheMenuActsAsTheDoubleClick) {
  test::App();
  TMainForm form(WithTray(true));
  form.show();
  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return !form.isVisible(); }));
  form.miRestore->trigger();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());
}

TEST(Tray, WithoutANotificationAreaMinimisingNeverHides) {
  test::App();
  TMainForm form(WithTray(false));
  form.show();
  form.showMinimized();
  // Give a queued hide every chance to run: once the marker below has run, it would have.
  bool markerRan = false;
  QMetaObject::invokeMethod(
      &form, [&] { markerRan = true; }, Qt::QueuedConnection);
  ASSERT_TRUE(WaitFor([&] { return markerRan; }));
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.isMinimized());
}

TEST(Tray, AWindowStoredMinimisedStartsInTheTray) {
  test::App();
  for (bool tray : {true, false}) {
    SCOPED_TRACE(tray ? "with a notification area" : "without one");
    TMainForm form(WithTray(tray));
    int asked = 0;
    form.ReadOwnCallsign = [&] {
      ++asked;
      return std::string("nocall");
    };
    form.ShowInitially(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.isVisible(), !tray);
    EXPECT_EQ(asked, tray ? 0 : 1);  // the callsign is read when the window first shows
    form.miRestoreClick();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(form.FStationCall, "NOCALL");
  }
}

// Exit ends at once, without the close box's question.
TEST(Tray, ExitEndsWithoutTheQuestion) {
  test::App();
  TMainForm form(WithTray(true));
  int asked = 0;
  int ended = 0;
  form.CloseQuery = [&] {
    ++asked;
    return false;
  };
  form.EndApplication = [&] { ++ended; };
  form.show();
  form.miExit->trigger();
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(form.FTrayIcon->isVisible());
  EXPECT_FALSE(form.isVisible());  // at once, not when the process is over
}

TEST(Tray, EndingCanBeRedirected) {
  test::App();
  TMainForm form(WithTray(true));
  int ended = 0;
  form.EndApplication = [&] { ++ended; };
  form.miExitClick();
  form.clsUIV1UIView32IsClosing();
  EXPECT_EQ(ended, 2);
}

TEST(Clock, PanelsShowLocalAndUtcTime) {
  test::App();
  struct Case {
    const char* name;
    TDateTimeParts local, utc;
    const char* panel1;
    const char* panel2;
  } cases[] = {
      {"afternoon",
       {2003, 6, 15, 14, 5, 33, 0},
       {2003, 6, 15, 18, 5, 33, 0},
       " 14:05:33  06/15/03 LOCAL",
       " 18:05:33  06/15/03 UTC"},
      {"across midnight",
       {2026, 12, 31, 23, 59, 59, 999},
       {2027, 1, 1, 4, 59, 59, 999},
       " 23:59:59  12/31/26 LOCAL",
       " 04:59:59  01/01/27 UTC"},
      {"midnight",
       {2000, 1, 1, 0, 0, 0, 0},
       {2000, 1, 1, 0, 0, 0, 0},
       " 00:00:00  01/01/00 LOCAL",
       " 00:00:00  01/01/00 UTC"},
      {"German separators",
       {2026, 12, 7, 18, 0, 0, 0},
       {2026, 12, 7, 17, 0, 0, 0},
       " 18:00:00  12.07.26 LOCAL",
       " 17:00:00  12.07.26 UTC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<test::TTimeLocale> german;
    if (std::string_view(c.name).starts_with("German")) {
      german.emplace("de_DE");
      if (!german->Active()) GTEST_SKIP() << "no de_DE locale could be made (localedef)";
    }
    TMainFormSetup s = WithTray(true);
    s.Clock = [&c](TTimeFormat f) { return EncodeDateTime(f == tfLocal ? c.local : c.utc); };
    TMainForm form(s);
    EXPECT_EQ(form.PanelText(1), QStringLiteral("Local"));
    form.tmrClockTimer();
    EXPECT_EQ(form.PanelText(1), QString::fromLatin1(c.panel1));
    EXPECT_EQ(form.PanelText(2), QString::fromLatin1(c.panel2));
  }
}

TEST(Clock, TicksOnceASecondFromTheStart) {
  test::App();
  TMainFormSetup s = WithTray(true);
  int reads = 0;
  s.Clock = [&](TTimeFormat) {
    ++reads;
    return EncodeDateTime({2003, 6, 15, 14, 5, 33, 0});
  };
  TMainForm form(s);
  reads = 0;  // the start's own reads (the message store's purge) are not the clock's
  EXPECT_EQ(form.tmrClock->interval(), 1000);
  EXPECT_TRUE(form.tmrClock->isActive());
  ASSERT_TRUE(WaitFor([&] { return form.PanelText(1).endsWith(QStringLiteral(" LOCAL")); }, 3000));
  EXPECT_EQ(reads, 2);
}

}  // namespace
}  // namespace qm

// The program itself ended by a real signal while messages arrive: SIGTERM, SIGINT and SIGHUP
// end the window as its tray's Exit does and the unattended desk as the host closing does;
// every message that reached the log is in the store's list for the next start, and the end
// counts them all.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "store/MessageStore.h"
#include "tests/support/LogFiles.h"
#include "tests/support/ProgramRun.h"

namespace qm {
namespace {

QString Item(int n) {
  return QStringLiteral("Signal item %1 end").arg(n);
}

// The items whose packet line the log holds.
QSet<QString> LoggedItems(const QString& log) {
  QSet<QString> items;
  const QRegularExpression line(
      QStringLiteral("^<[^>]*> N0CALL-5>APRS::BLN\\d     :(Signal item \\d+ end)\\r?$"),
      QRegularExpression::MultilineOption);
  for (auto it = line.globalMatch(log); it.hasNext();) items.insert(it.next().captured(1));
  return items;
}

TEST(EndSignal, EveryMessageLoggedBeforeTheSignalIsKeptForTheNextStart) {  // slow
  const struct {
    const char* name;
    int signal;
    bool window;
  } cases[] = {
      {"SIGINT to the window", SIGINT, true},     {"SIGHUP to the window", SIGHUP, true},
      {"SIGTERM to the window", SIGTERM, true},   {"SIGINT without a window", SIGINT, false},
      {"SIGHUP without a window", SIGHUP, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config));
    QFile ini(config + QStringLiteral("/Quillmark.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Settings]\r\ncbBull.Checked=True\r\ncbDisablePrinting.Checked=True\r\n");
    ini.close();
    QFile capture(home.filePath(QStringLiteral("capture.txt")));
    ASSERT_TRUE(capture.open(QIODevice::WriteOnly));
    for (int n = 1; n <= 400; ++n)
      capture.write(
          QStringLiteral("*12:00:00 N0CALL-5>APRS::BLN%1     :%2\n").arg(n % 10).arg(Item(n)).toLatin1());
    capture.close();
    QStringList args{QStringLiteral("--config"), config,
                     QStringLiteral("--replay"), capture.fileName(),
                     QStringLiteral("--pace"),   QStringLiteral("100")};
    if (!c.window) args.prepend(QStringLiteral("--no-window"));
    auto run = test::StartProgram(args, test::ProgramEnvironment(home.path()));

    // The signal comes in the middle of the stream: messages are on their way to the store.
    const QDeadlineTimer deadline(30000);
    while (!test::LogText(config).contains(Item(30)) && run->state() != QProcess::NotRunning &&
           !deadline.hasExpired())
      QThread::msleep(10);  // polls a file another process writes
    ASSERT_TRUE(test::LogText(config).contains(Item(30))) << run->readAllStandardError().toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(run->processId()), c.signal), 0);
    const test::TProgramResult ended = test::Finish(*run, 20000);
    EXPECT_EQ(ended.Code, 0) << ended.Err.toStdString();

    const QString log = test::LogText(config);
    const QSet<QString> logged = LoggedItems(log);
    QSet<QString> listed;
    const TMessageStore store((config + QStringLiteral("/Quillmark-messages.db")).toStdString());
    for (const TStoredMessage& m : store.Listed()) listed.insert(QString::fromStdString(m.MessageText));
    EXPECT_GE(logged.size(), 30);
    EXPECT_LT(logged.size(), 400);  // ended before the capture did
    EXPECT_EQ(logged, listed);
    EXPECT_TRUE(
        log.contains(QStringLiteral("%1 unprinted messages are kept for the next start").arg(listed.size())))
        << log.right(2000).toStdString();
  }
}

}  // namespace
}  // namespace qm

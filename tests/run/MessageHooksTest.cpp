// The program run for each kept message: real shell scripts, their runs ended by their own exit,
// a fifo the test opens, or the kill at their bound.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>

#include "run/MessageHooks.h"
#include "settings/SettingsStore.h"
#include "tests/support/DeskRig.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

QString Script(const QTemporaryDir& dir, const char* name, const QByteArray& body) {
  QString path = dir.filePath(QString::fromLatin1(name));
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("#!/bin/sh\n" + body + "\n");
  f.close();
  f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
  return path;
}

// Hooks on `program` whose log lines land in Lines and whose runs are counted as they end.
struct THookRig {
  test::TAppGuard App;
  QStringList Lines;
  std::uint32_t Tick = 5000;
  int Ended = 0;
  std::unique_ptr<TMessageHooks> Hooks;

  THookRig(const QString& program, int maxRunning, std::size_t mostWaiting = 64, int timeoutSeconds = 10) {
    THookSetup s;
    s.Choices.Program = program;
    s.Choices.MaxRunning = maxRunning;
    s.Choices.TimeoutSeconds = timeoutSeconds;
    s.MostWaiting = mostWaiting;
    s.Second = std::chrono::milliseconds(100);
    s.Log = [this](const std::string& line) { Lines << QString::fromStdString(line); };
    s.Ticks = [this] { return Tick; };
    Hooks = std::make_unique<TMessageHooks>(std::move(s));
    QObject::connect(Hooks.get(), &TMessageHooks::RunEnded, [this] { ++Ended; });
  }
  void WaitEnded(int count) {
    while (Ended < count) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  void Hand(int n) { Hooks->Hand(QJsonObject{{QStringLiteral("id"), n}}); }
};

TEST(MessageHooks, EachKeptMessageReachesTheProgramOnceAsTheBoardsRowButNotTheDemos) {
  test::App();
  const QTemporaryDir dir;
  const QString program =
      Script(dir, "record.sh", "cat > \"" + dir.filePath(QStringLiteral("in.$$")).toUtf8() + "\"");
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Make();
  THookSetup s;
  s.Choices.Program = program;
  s.Log = [](const std::string&) {};
  TMessageHooks hooks(std::move(s));
  hooks.Follow(*rig.Desk);
  int ended = 0;
  QObject::connect(&hooks, &TMessageHooks::RunEnded, [&] { ++ended; });

  for (int n = 1; n <= 3; ++n) rig.SendBulletin(n);
  ASSERT_EQ(rig.Entries(), 3);
  rig.Desk->SetDemo(true);
  rig.SendBulletin(4);
  ASSERT_EQ(rig.Entries(), 4);
  EXPECT_EQ(hooks.Running() + static_cast<int>(hooks.Waiting()) + ended, 3) << "the demo's is handed to none";
  rig.Desk->SetDemo(false);
  while (ended < 3) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

  QStringList texts;
  for (const QString& name : QDir(dir.path()).entryList({QStringLiteral("in.*")})) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray input = f.readAll();
    EXPECT_TRUE(input.endsWith("}\n")) << input.constData();
    const QJsonObject row = QJsonDocument::fromJson(input).object();
    EXPECT_EQ(row.value(QLatin1String("from")).toString(), QStringLiteral("N0CALL"));
    EXPECT_GT(row.value(QLatin1String("id")).toInt(), 0);
    EXPECT_EQ(row.value(QLatin1String("lines")).toArray().size(), 3);
    texts << row.value(QLatin1String("text")).toString();
  }
  texts.sort();
  EXPECT_EQ(texts, (QStringList{QStringLiteral("Bulletin 1"), QStringLiteral("Bulletin 2"),
                                QStringLiteral("Bulletin 3")}));
}

TEST(MessageHooks, AProgramThatHangsIsKilledAtItsBoundAndTheNextRunsAfterIt) {
  const QTemporaryDir dir;
  const QString marks = dir.filePath(QStringLiteral("ran"));
  THookRig rig(Script(dir, "hang.sh", "echo x >> \"" + marks.toUtf8() + "\"; exec sleep 600"), 1, 64, 1);
  rig.Hand(1);
  rig.Hand(2);
  EXPECT_EQ(rig.Hooks->Running(), 1);
  EXPECT_EQ(rig.Hooks->Waiting(), 1u) << "Hand never waits for a run";
  rig.WaitEnded(2);
  QFile f(marks);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("x\nx\n"));
  const QString hang = dir.filePath(QStringLiteral("hang.sh"));
  EXPECT_EQ(rig.Lines, QStringList{QStringLiteral("Hook failed: %1: killed after 1 second").arg(hang)})
      << "the second kill comes within the same minute";
}

TEST(MessageHooks, NoMoreRunThanAllowedAndAFullQueueDropsItsOldest) {
  const QTemporaryDir dir;
  const QString fifo = dir.filePath(QStringLiteral("gate"));
  ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  const QString marks = dir.filePath(QStringLiteral("ran"));
  // Each run waits for the test to open and close the gate, then writes the id it was given (its
  // input reaches it only while the test lets events run).
  THookRig rig(
      Script(dir, "gate.sh",
             "cat \"" + fifo.toUtf8() + "\" > /dev/null; sed 's/[^0-9]//g' >> \"" + marks.toUtf8() + "\""),
      2, 2);
  int most = 0;
  QObject::connect(rig.Hooks.get(), &TMessageHooks::RunEnded,
                   [&] { most = std::max(most, rig.Hooks->Running()); });
  for (int n = 1; n <= 5; ++n) rig.Hand(n);
  EXPECT_EQ(rig.Hooks->Running(), 2);
  EXPECT_EQ(rig.Hooks->Waiting(), 2u);
  EXPECT_EQ(rig.Lines, QStringList{QStringLiteral("Hook failed: %1: a message dropped, 2 were waiting")
                                       .arg(dir.filePath(QStringLiteral("gate.sh")))});
  // The gate is opened without waiting for a run at it: a run let through with another may
  // still need the events for its input, and a wait in open() would hold them.
  const QByteArray gatePath = QFile::encodeName(fifo);
  const QDeadlineTimer deadline(60000);
  while (rig.Ended < 4 && !deadline.hasExpired()) {
    if (const int gate = ::open(gatePath.constData(), O_WRONLY | O_NONBLOCK); gate >= 0) ::close(gate);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  ASSERT_EQ(rig.Ended, 4);
  EXPECT_LE(most, 2);
  EXPECT_EQ(rig.Hooks->Running(), 0);
  QFile f(marks);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QList<QByteArray> ids = f.readAll().split('\n');
  ids.removeAll(QByteArray());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (QList<QByteArray>{"1", "2", "4", "5"})) << "3 was the oldest waiting when 5 came";
}

TEST(MessageHooks, EachKindOfFailureIsLoggedAtMostOnceAMinute) {
  const QTemporaryDir dir;
  const QString program = Script(dir, "fail.sh", "cat > /dev/null; exit 3");
  THookRig rig(program, 8);
  const QString line = QStringLiteral("Hook failed: %1: exit code 3").arg(program);
  for (int n = 1; n <= 3; ++n) rig.Hand(n);
  rig.WaitEnded(3);
  rig.Hooks->Tick();
  EXPECT_EQ(rig.Lines, QStringList{line});
  rig.Tick += TMessageHooks::kFailureLineEveryMs - 1;
  rig.Hooks->Tick();
  EXPECT_EQ(rig.Lines.size(), 1);
  rig.Tick += 1;
  rig.Hooks->Tick();
  rig.Hooks->Tick();
  EXPECT_EQ(
      rig.Lines,
      (QStringList{line,
                   QStringLiteral("Hook failed 2 times in the last minute: %1: exit code 3").arg(program)}));

  // Another kind has a minute of its own; a program that is not there is one.
  THookRig missing(dir.filePath(QStringLiteral("absent")), 2);
  missing.Hand(1);
  missing.Hand(2);
  missing.WaitEnded(2);
  ASSERT_EQ(missing.Lines.size(), 1);
  EXPECT_TRUE(missing.Lines[0].startsWith(
      QStringLiteral("Hook failed: %1: could not start (").arg(dir.filePath(QStringLiteral("absent")))))
      << missing.Lines[0].toStdString();
}

TEST(MessageHooks, TheSectionIsReadWithItsBoundsAndAFileWithoutItHasNoHook) {
  const struct {
    const char* Name;
    const char* Section;
    QString Program;
    QStringList Arguments;
    int Timeout, Running;
    QStringList Problems;
  } cases[] = {
      {"no section", "", {}, {}, 10, 2, {}},
      {"empty", "[Hooks]\r\nMessage=\r\n", {}, {}, 10, 2, {}},
      {"quoted",
       "[Hooks]\r\nMessage=\"/opt/my hooks/send\" --to \"a b\" x\r\nTimeoutSeconds=300\r\nMaxRunning=1\r\n",
       QStringLiteral("/opt/my hooks/send"),
       {QStringLiteral("--to"), QStringLiteral("a b"), QStringLiteral("x")},
       300,
       1,
       {}},
      {"out of bounds",
       "[Hooks]\r\nMessage=run\r\nTimeoutSeconds=0\r\nMaxRunning=9\r\n",
       QStringLiteral("run"),
       {},
       1,
       8,
       {QStringLiteral("[Hooks] TimeoutSeconds=0 is not from 1 to 300: 1 is used"),
        QStringLiteral("[Hooks] MaxRunning=9 is not from 1 to 8: 8 is used")}},
      {"no number",
       "[Hooks]\r\nMessage=run\r\nTimeoutSeconds=ten\r\n",
       QStringLiteral("run"),
       {},
       10,
       2,
       {QStringLiteral("[Hooks] TimeoutSeconds=ten is no number: 10 is used")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Quillmark.ini"));
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("[Settings]\r\nBeep=1\r\n") + c.Section);
    f.close();
    TSettingsStore settings(ini.toStdString());
    const THookChoices h = ReadHookChoices(settings);
    EXPECT_EQ(h.Program, c.Program);
    EXPECT_EQ(h.Arguments, c.Arguments);
    EXPECT_EQ(h.TimeoutSeconds, c.Timeout);
    EXPECT_EQ(h.MaxRunning, c.Running);
    EXPECT_EQ(h.Problems, c.Problems);
  }
}

}  // namespace
}  // namespace qm

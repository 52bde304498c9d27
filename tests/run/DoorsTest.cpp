// The program's doors with real processes: what it is started with (no display, a folder it
// cannot write, a settings file with a mistyped source or a capture that never ends) is said
// in one line and never hangs, aborts or silences the rest.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>
#include <optional>

#include <sys/wait.h>
#include <unistd.h>

#include "host/HostSettings.h"
#include "tests/support/LogFiles.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

// Reads the process's standard error until it holds `text`, it ends or the deadline passes.
bool WaitForErr(QProcess& p, QByteArray& err, const QByteArray& text, int timeoutMs = 30000) {
  const QDeadlineTimer deadline(timeoutMs);
  while (!err.contains(text)) {
    if (p.state() == QProcess::NotRunning || deadline.hasExpired()) return false;
    p.waitForReadyRead(100);
    err += p.readAllStandardError();
  }
  return true;
}

TEST(Doors, EachDoorSaysWhatIsWrongAndNeverHangsOrSilencesTheRest) {
  test::App();
  QTemporaryDir dir;
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  {
    QFile f(capture);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int n = 1; n <= 3; ++n)
      f.write(QStringLiteral("*12:00:00 K1ABC>APRS::BLN%1     :Net %1\r\n").arg(n).toLatin1());
  }
  // A folder on a disk that is full: it looks writable, and refuses every page.
  const QString fullDisk = dir.filePath(QStringLiteral("full"));
  ASSERT_TRUE(QDir().mkpath(fullDisk));
  const test::TPrivateTmpfs tmpfs(fullDisk.toStdString(), "64k");
  const bool filled = tmpfs.Skip().empty() && tmpfs.FillUp(tmpfs.File("filler"));

  const QByteArray mistyped =
      "quillmark: The source: " + QByteArray::fromStdString(UnknownTransportText(1, "aprs_is"));
  const struct {
    const char* name;
    QStringList args;
    QByteArray ini;
    bool display;
    QByteArray said;          // a line of standard error, whole
    const char* sigtermOnce;  // sent once standard error holds this
    int code;
    const char* logged;  // in the log too, beside the line said
  } cases[] = {
      {"no display and no --no-window",
       {},
       "",
       false,
       "quillmark: there is no display to show the window on (none is set, or it cannot be reached); "
       "--no-window runs the desk without one",
       nullptr,
       2,
       nullptr},
      {"--print-to-pdf on a full disk",
       {"--no-window", "--replay", capture, "--print-to-pdf", fullDisk + "/pages"},
       "",
       true,
       "quillmark: --print-to-pdf: the folder \"" + QFile::encodeName(fullDisk) +
           "/pages\" cannot be written",
       nullptr,
       2,
       nullptr},
      {"a mistyped Transport in a further section",
       {"--no-window", "--print-to-pdf", dir.filePath("pdf")},
       "[Settings]\r\ncbBull.Checked=True\r\n[Connection]\r\nTransport=replay\r\nCaptureFile=" +
           capture.toLocal8Bit() + "\r\nPace=0\r\n[Connection2]\r\nTransport=aprs_is\r\n",
       true,
       mistyped,
       nullptr,
       0,
       "Net 3"},
      {"CaptureFile=/dev/zero, then SIGTERM",
       {"--no-window"},
       "[Connection]\r\nTransport=replay\r\nCaptureFile=/dev/zero\r\n",
       true,
       "quillmark: Replay zero: Error: cannot open capture file /dev/zero: not a file (a device, a pipe or a "
       "folder)",
       "capture file /dev/zero",
       0,
       nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.args.contains(fullDisk + "/pages") && !filled) {
      std::printf("[ SKIPPED  ] %s: %s\n", c.name,
                  tmpfs.Skip().empty() ? "the disk did not fill" : tmpfs.Skip().c_str());
      continue;
    }
    const QString config = dir.filePath(QStringLiteral("config%1").arg(++n));
    ASSERT_TRUE(QDir().mkpath(config));
    if (!c.ini.isEmpty()) {
      QFile ini(config + QStringLiteral("/Quillmark.ini"));
      ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
      ini.write(c.ini);
    }
    QProcessEnvironment env = test::ProgramEnvironment(dir.path());
    if (!c.display)
      for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    auto run = test::StartProgram(QStringList{QStringLiteral("--config"), config} + c.args, env);
    QByteArray err;
    std::optional<qint64> endedWithinMs;
    if (c.sigtermOnce) {
      ASSERT_TRUE(WaitForErr(*run, err, c.sigtermOnce)) << err.toStdString();
      QElapsedTimer took;
      took.start();
      ::kill(static_cast<pid_t>(run->processId()), SIGTERM);
      if (run->waitForFinished(5000)) endedWithinMs = took.elapsed();
    }
    const test::TProgramResult result = test::Finish(*run);
    err += result.Err;
    EXPECT_EQ(result.Code, c.code) << err.toStdString();
    // Qt's own words about the display are not passed on: the one line is all.
    EXPECT_TRUE(c.display ? err.split('\n').contains(c.said) : err == c.said + "\n") << err.toStdString();
    if (c.sigtermOnce) {
      EXPECT_LT(endedWithinMs.value_or(5000), 1000);
    }
    if (c.logged) {
      const QString log = test::LogText(config);
      EXPECT_TRUE(log.contains(QString::fromLatin1(c.logged))) << log.toStdString();
      EXPECT_TRUE(log.contains(QString::fromLatin1(c.said.mid(11)))) << log.toStdString();
    }
  }
}

// A start from the menu while a desk without a window holds the folder: no window can come
// forward, so a box says where the desk runs and its board opens in the browser (here a
// stand-in for xdg-open that writes down the address it was given); the start ends with 3.
// Needs a real X server (Xvfb): the box is what the operator sees.
TEST(Doors, AStartBesideADeskWithoutAWindowSaysWhereItRunsAndOpensItsBoard) {
  test::App();
  if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
      QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
    GTEST_SKIP() << "needs Xvfb and xdotool";
  QTemporaryDir dir;
  const QString config = dir.filePath(QStringLiteral("config"));
  ASSERT_TRUE(QDir().mkpath(config));
  const QProcessEnvironment env = test::ProgramEnvironment(dir.path());
  // A port that refuses: the desk retries and stays.
  const int refused = [] {
    const test::TLoopbackServer gone(nullptr);
    return gone.Port();
  }();
  auto desk = test::StartProgram(
      {QStringLiteral("--config"), config, QStringLiteral("--no-window"), QStringLiteral("--aprs-is"),
       QStringLiteral("127.0.0.1:%1").arg(refused), QStringLiteral("--callsign"), QStringLiteral("N0CALL"),
       QStringLiteral("--web"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--print-to-pdf"),
       dir.filePath(QStringLiteral("pdf"))},
      env);
  QByteArray deskErr;
  ASSERT_TRUE(WaitForErr(*desk, deskErr, "Board: http")) << deskErr.toStdString();
  ASSERT_TRUE(WaitForErr(*desk, deskErr, "\n", 5000));
  const qsizetype at = deskErr.indexOf("Board: http") + 7;
  const QString board = QString::fromUtf8(deskErr.mid(at, deskErr.indexOf('\n', at) - at));

  QProcess xvfb;
  xvfb.start(
      QStringLiteral("Xvfb"),
      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
       QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
  QByteArray number;
  while (!number.contains('\n') && xvfb.waitForReadyRead(10000)) number += xvfb.readAllStandardOutput();
  ASSERT_FALSE(number.trimmed().isEmpty()) << "Xvfb did not start";
  const QString display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());

  const QString bin = dir.filePath(QStringLiteral("bin"));
  const QString opened = dir.filePath(QStringLiteral("opened.txt"));
  ASSERT_TRUE(QDir().mkpath(bin));
  {
    QFile script(bin + QStringLiteral("/xdg-open"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        "#!/bin/sh\nprintf '%s\\n' \"$1\" >\"$QM_OPENED.part\" && mv \"$QM_OPENED.part\" \"$QM_OPENED\"\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QProcessEnvironment menu = env;
  menu.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  menu.insert(QStringLiteral("DISPLAY"), display);
  menu.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
  menu.insert(QStringLiteral("QM_OPENED"), opened);
  // Under LeakSanitizer: what the display's D-Bus connection leaves is the system's, not ours.
  menu.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("suppressions=") +
                                                  qEnvironmentVariable("QM_SOURCE_DIR") +
                                                  QStringLiteral("/tests/support/lsan-display.supp"));
  auto second = test::StartProgram({QStringLiteral("--config"), config}, menu);

  QByteArray err;
  QUrl plain(board);
  plain.setQuery(QString());
  const QByteArray said =
      "running with " + QFile::encodeName(config) + " (process " + QByteArray::number(desk->processId()) +
      ", without a window); its board opens in your browser: " + plain.toString().toUtf8();
  EXPECT_TRUE(WaitForErr(*second, err, said)) << err.toStdString();
  ASSERT_TRUE(test::WaitForFile(opened, *second));
  QFile got(opened);
  ASSERT_TRUE(got.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(got.readAll().trimmed()), board);
  // The box, until OK.
  QProcess find;
  find.setProcessEnvironment(menu);
  find.start(QStringLiteral("xdotool"),
             {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
              QStringLiteral("--name"), QStringLiteral("^Message Printing for UI-View32$")});
  ASSERT_TRUE(find.waitForFinished(30000));
  const QString box = QString::fromLatin1(find.readAllStandardOutput()).split('\n').value(0);
  ASSERT_FALSE(box.isEmpty());
  EXPECT_EQ(second->state(), QProcess::Running) << "the box waits for the operator";
  QProcess::execute(QStringLiteral("timeout"),
                    {QStringLiteral("10"), QStringLiteral("env"), QStringLiteral("DISPLAY=") + display,
                     QStringLiteral("xdotool"), QStringLiteral("windowfocus"), QStringLiteral("--sync"), box,
                     QStringLiteral("key"), QStringLiteral("Return")});
  const test::TProgramResult ended = test::Finish(*second);
  EXPECT_EQ(ended.Code, 3) << (err + ended.Err).toStdString();

  ::kill(static_cast<pid_t>(desk->processId()), SIGTERM);
  EXPECT_EQ(test::Finish(*desk).Code, 0);
  xvfb.terminate();
  xvfb.waitForFinished();
}

}  // namespace
}  // namespace qm

// The whole program under a wall clock that jumps 30 days ahead for 8 s and back (libfaketime,
// its steady clock left alone): the logs, the stored messages and the archived pages that are
// younger than 14 days survive; what is really older goes as before.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <filesystem>

#include "base/Timing.h"
#include "store/MessageStore.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/StoredMessages.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

void Age(const QString& path, int days) {
  fs::last_write_time(path.toStdString(), fs::file_time_type::clock::now() - std::chrono::hours(24 * days));
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(bytes);
}

TEST(ClockJumpRun, LogsStoreAndArchiveSurviveAWallClockJump) {  // slow
  const QString faketime = QStringLiteral(QM_LIBFAKETIME);
  if (faketime.isEmpty() || !QFileInfo::exists(faketime))
    GTEST_SKIP() << "libfaketime is missing (Debian package faketime)";
  test::App();
  QTemporaryDir dir;
  const QString config = dir.filePath(QStringLiteral("config"));
  const QDate today = QDate::currentDate();
  const int ages[] = {20, 10, 2};  // days; 20 is past the 14 days kept

  std::vector<std::int64_t> stored;
  {
    ASSERT_TRUE(QDir().mkpath(config));
    TMessageStore store((config + QStringLiteral("/Quillmark-messages.db")).toStdString());
    const TDateTime now = CurrentDateTime(tfUTC);
    for (const int age : ages) stored.push_back(store.Add(test::Msg(age, now - age)));
    store.CompleteJob(store.BeginJob(jkList, stored, "", now, ""));
  }
  for (const int age : ages) {
    const QString log = config + QStringLiteral("/quillmark old-%1.log").arg(age);
    WriteFile(log, "<00:00:00.000> old\r\n");
    Age(log, age);
    WriteFile(config + QStringLiteral("/archive/%1/120000-job%2.pdf")
                           .arg(today.addDays(-age).toString(QStringLiteral("yyyy-MM-dd")))
                           .arg(age),
              "%PDF-1.4\n");
  }

  // Messages to the own call, two a second: the run outlasts the jump.
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  QByteArray packets;
  for (int n = 1; n <= 50; ++n)
    packets += QStringLiteral("*12:00:00 K1ABC>APRS::N0CALL-10:Hello %1{%1\r\n").arg(n).toLatin1();
  WriteFile(capture, packets);
  const QString offset = dir.filePath(QStringLiteral("faketime"));
  WriteFile(offset, "+0\n");
  QProcessEnvironment extra;
  extra.insert(QStringLiteral("LD_PRELOAD"), faketime);
  extra.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), offset);
  extra.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
  extra.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
  // A real jump leaves the files' times as they were written.
  extra.insert(QStringLiteral("NO_FAKE_STAT"), QStringLiteral("1"));
  extra.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
  auto run = test::StartProgram(
      {QStringLiteral("--replay"), capture, QStringLiteral("--pace"), QStringLiteral("2"),
       QStringLiteral("--callsign"), QStringLiteral("N0CALL-10"), QStringLiteral("--config"), config,
       QStringLiteral("--print-to-pdf"), dir.filePath(QStringLiteral("pdf"))},
      test::ProgramEnvironment(dir.path(), extra));
  // The start's purge has run once the day's log exists.
  const QString todayLog =
      QStringLiteral("/quillmark %1.log")
          .arg(QString::fromStdString(FormatDateTime("yy-mm-dd", CurrentDateTime(tfUTC))));
  ASSERT_TRUE(test::WaitForFile(config + todayLog, *run)) << run->readAllStandardError().toStdString();

  WriteFile(offset, "+30d\n");
  const QString jumpedLog =
      QStringLiteral("/quillmark %1.log")
          .arg(QString::fromStdString(FormatDateTime("yy-mm-dd", CurrentDateTime(tfUTC) + 30)));
  ASSERT_TRUE(test::WaitForFile(config + jumpedLog, *run)) << "the program never saw the jump";
  // The fault itself: the wall clock stays ahead for 8 s (eight ticks of the window's clock).
  QThread::sleep(8);
  WriteFile(offset, "+0\n");
  const test::TProgramResult result = test::Finish(*run);
  ASSERT_EQ(result.Code, 0) << result.Err.toStdString();

  for (const int age : ages) {
    SCOPED_TRACE(age);
    const bool kept = age < 14;
    EXPECT_EQ(QFileInfo::exists(config + QStringLiteral("/quillmark old-%1.log").arg(age)), kept);
    EXPECT_EQ(
        QFileInfo::exists(
            config +
            QStringLiteral("/archive/%1").arg(today.addDays(-age).toString(QStringLiteral("yyyy-MM-dd")))),
        kept);
  }
  TMessageStore store((config + QStringLiteral("/Quillmark-messages.db")).toStdString());
  std::vector<std::string> texts;
  for (const TStoredMessage& m : store.Messages(stored)) texts.push_back(m.MessageText);
  EXPECT_EQ(texts, (std::vector<std::string>{"message 10", "message 2"}));
}

}  // namespace
}  // namespace qm

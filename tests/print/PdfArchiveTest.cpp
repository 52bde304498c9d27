// The archive of printed jobs: its names, and its purge by age.
#include "print/PdfArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/support/ClockPairDriver.h"

namespace qm {
namespace {

void Touch(const QString& path) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(PdfArchiveTest, NamesCarryTheDayTheTimeAndTheJob) {
  QTemporaryDir dir;
  const TPdfArchive archive(dir.filePath(QStringLiteral("archive")));
  const QDateTime when(QDate(2026, 12, 8), QTime(9, 5, 7));
  const QString day = dir.filePath(QStringLiteral("archive/2026-12-08/"));
  EXPECT_EQ(archive.NewFile(when, 417), day + QStringLiteral("090507-job417.pdf"));
  EXPECT_TRUE(QFileInfo(day).isDir());
  // The operator's pages are theirs only, as the data folder is, whatever the umask.
  for (const QString& folder : {dir.filePath(QStringLiteral("archive")), day})
    EXPECT_EQ(QFileInfo(folder).permissions() &
                  (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                   QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther),
              QFileDevice::Permissions())
        << folder.toStdString();
  const QString noNumber = archive.NewFile(when, 0);
  EXPECT_EQ(noNumber, day + QStringLiteral("090507-job.pdf"));
  // Two jobs in one second keep both.
  Touch(noNumber);
  EXPECT_EQ(archive.NewFile(when, 0), day + QStringLiteral("090507-job-2.pdf"));
}

TEST(PdfArchiveTest, PurgeRemovesOnlyDayFoldersPastTheAge) {
  QTemporaryDir dir;
  const TPdfArchive archive(dir.path());
  const struct {
    const char* File;
    bool Kept;
  } cases[] = {
      {"2026-12-08/120000-job1.pdf", true},  // today
      {"2026-11-24/120000-job2.pdf", true},  // 14 days ago: still as old as the logs keep
      {"2026-11-23/120000-job3.pdf", false}, {"2026-11-23/235959-job4.pdf", false},
      {"2025-01-01/000000-job5.pdf", false}, {"2025-01-02/notes.txt", true},  // not ours
      {"old-stuff/120000-job6.pdf", true},                                    // not a day's folder
      {"2025-13-01/120000-job7.pdf", true},                                   // no such day
  };
  for (const auto& c : cases) Touch(dir.filePath(QString::fromLatin1(c.File)));
  EXPECT_EQ(archive.Purge(QDate(2026, 12, 8), 14), 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    EXPECT_EQ(QFile::exists(dir.filePath(QString::fromLatin1(c.File))), c.Kept);
  }
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("2026-11-23"))));
  EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("2025-01-02"))));
}

// A wall clock 30 days ahead for a moment takes no day a steady clock calls young.
TEST(PdfArchiveTest, PurgeTrustsOnlyASteadyClock) {
  QTemporaryDir dir;
  const TPdfArchive archive(dir.path());
  test::TClockPairDriver clock(46000.5);
  clock.Set(8, 30 * 86400.0);
  const QDate today(2026, 12, 8);
  Touch(dir.filePath(QStringLiteral("2026-11-18/120000-job1.pdf")));  // 20 days
  Touch(dir.filePath(QStringLiteral("2026-12-06/120000-job2.pdf")));  // 2 days
  EXPECT_EQ(archive.Purge(today.addDays(30), 14), 1);
  EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("2026-12-06/120000-job2.pdf"))));
}

}  // namespace
}  // namespace qm

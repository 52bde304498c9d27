// The folders and files the program makes are its user's only, whatever the umask; what the
// user made keeps its mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/Timing.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

// The umask a careless session may have, for the length of a test.
class TOpenUmask {
 public:
  TOpenUmask() : FOld(::umask(0)) {}
  ~TOpenUmask() { ::umask(FOld); }

 private:
  mode_t FOld;
};

unsigned ModeOf(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

QStringList RunArgs(const QString& capture, const QString& config, const QString& pdfs) {
  return {QStringLiteral("--replay"),       capture,
          QStringLiteral("--pace"),         QStringLiteral("5"),
          QStringLiteral("--callsign"),     QStringLiteral("N0CALL-10"),
          QStringLiteral("--config"),       config,
          QStringLiteral("--print-to-pdf"), pdfs};
}

TEST(FileModes, WhatTheProgramMakesIsTheUsersOnly) {  // slow
  test::App();
  TOpenUmask umask;
  QTemporaryDir dir;
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  QFile file(capture);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  for (int n = 0; n < 10; ++n) file.write("*12:00:00 K1ABC>APRS::N0CALL-10:Hello{1\r\n");
  file.close();
  const QString config = dir.filePath(QStringLiteral("new/conf"));
  auto run = test::StartProgram(RunArgs(capture, config, dir.filePath(QStringLiteral("pdf"))),
                                test::ProgramEnvironment(dir.path()));
  const QString log =
      config + QStringLiteral("/quillmark %1.log")
                   .arg(QString::fromStdString(FormatDateTime("yy-mm-dd", CurrentDateTime(tfUTC))));
  ASSERT_TRUE(test::WaitForFile(log, *run)) << run->readAllStandardError().toStdString();
  // Held still while its files are looked at: the store's log and index exist only while it runs.
  ::kill(static_cast<pid_t>(run->processId()), SIGSTOP);
  const struct {
    QString path;
    unsigned mode;
  } cases[] = {
      {dir.filePath(QStringLiteral("new")), 0700},
      {config, 0700},
      {config + QStringLiteral("/Quillmark.ini"), 0600},
      {log, 0600},
      {config + QStringLiteral("/Quillmark-messages.db"), 0600},
      {config + QStringLiteral("/Quillmark-messages.db-wal"), 0600},
      {config + QStringLiteral("/Quillmark-messages.db-shm"), 0600},
      {config + QStringLiteral("/Quillmark.lock"), 0600},
      {dir.filePath(QStringLiteral("pdf")), 0700},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    EXPECT_EQ(ModeOf(c.path), c.mode);
  }
  ::kill(static_cast<pid_t>(run->processId()), SIGCONT);
  EXPECT_EQ(test::Finish(*run).Code, 0);
}

// A portable copy's folder and settings file as the user made them stay so.
TEST(FileModes, AFolderAndSettingsFileTheUserMadeKeepTheirModes) {
  test::App();
  TOpenUmask umask;
  QTemporaryDir dir;
  const QString portable = dir.filePath(QStringLiteral("portable"));
  ASSERT_TRUE(QDir().mkpath(portable));
  ASSERT_EQ(::chmod(QFile::encodeName(portable).constData(), 0755), 0);
  const QString ini = portable + QStringLiteral("/Quillmark.ini");
  QFile file(ini);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Message Options]\r\nMessageCount=40\r\n");
  file.close();
  ASSERT_EQ(::chmod(QFile::encodeName(ini).constData(), 0664), 0);
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  QFile(capture).open(QIODevice::WriteOnly);

  const test::TProgramResult run =
      test::RunProgramIn(dir.path(), RunArgs(capture, portable, dir.filePath(QStringLiteral("pdf"))));
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
  QFile written(ini);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.readAll().contains("[Info]")) << "the run should have written its settings";
  EXPECT_EQ(ModeOf(portable), 0755u);
  EXPECT_EQ(ModeOf(ini), 0664u);
  EXPECT_EQ(ModeOf(portable + QStringLiteral("/Quillmark-messages.db")), 0600u);
}

}  // namespace
}  // namespace qm

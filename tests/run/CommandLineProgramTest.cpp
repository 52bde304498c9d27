// The command line as the program itself takes it: answering --version, refusing a bad option
// without writing anything, running a replay whose options are never stored, and a box from
// the start never holding a run whose replay is over.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "generated/QuillmarkVersion.h"
#include "store/MessageStore.h"

namespace qm {
namespace {

struct TRun {
  int Code = -1;
  QByteArray Out, Err;
};

TRun RunProgram(const QStringList& args, const QString& home) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("HOME"), home);
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(QM_PROGRAM), args);
  if (!p.waitForFinished(60000)) p.kill();
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
          p.readAllStandardError()};
}

// A box from the start (here a settings file that may not be written) never holds the program
// once its replay is over: it ends by itself, as an unattended desk must.
TEST(CommandLine, AReplayThatEndsUnderAStartUpBoxEndsTheProgram) {
  QTemporaryDir dir;
  const QString config = dir.filePath(QStringLiteral("config"));
  ASSERT_TRUE(QDir().mkpath(config));
  QFile ini(config + QStringLiteral("/Quillmark.ini"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Settings]\r\ncbBull.Checked=True\r\n");
  ini.close();
  ASSERT_TRUE(ini.setPermissions(QFileDevice::ReadOwner));
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  QFile file(capture);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("*12:00:00 K1ABC>APRS::BLN1     :Net tonight\r\n");
  file.close();
  const TRun run = RunProgram({"--replay", capture, "--pace", "0", "--config", config, "--print-to-pdf",
                               dir.filePath(QStringLiteral("pdf"))},
                              dir.path());
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  // The refused save is said where an unattended run can be read.
  EXPECT_TRUE(run.Err.contains("Unable to write to")) << run.Err.toStdString();
}

TEST(CommandLine, TheProgramAnswersRefusesAndRunsWithoutStoringOptions) {
  QTemporaryDir dir;
  const QString config = dir.filePath(QStringLiteral("config"));
  const QString pdfs = dir.filePath(QStringLiteral("pdf"));

  const TRun version = RunProgram({"--version"}, dir.path());
  EXPECT_EQ(version.Code, 0);
  // The release, as the caption and the login say it; the file version keeps its fourth part.
  EXPECT_EQ(version.Out, QByteArray("Quillmark ") + version::ReleaseText + "\n");
  EXPECT_EQ(QByteArray(version::FileVersion).count('.'), 3);

  const struct {
    QStringList Args;
    const char* Error;
  } refused[] = {{{"--aprs-is", "host:99999"}, "quillmark: --aprs-is: the port must be"},
                 {{"--serial", "/dev/ttyUSB0:12"}, "quillmark: --serial: the speed must be one of"}};
  for (const auto& r : refused) {
    SCOPED_TRACE(r.Error);
    const TRun bad = RunProgram(QStringList{"--config", config} + r.Args, dir.path());
    EXPECT_EQ(bad.Code, 2);
    EXPECT_TRUE(bad.Err.startsWith(r.Error)) << bad.Err.toStdString();
    EXPECT_FALSE(QDir(config).exists());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size() ==
                0);
  }

  // 22 messages to the station given on the command line: one page is printed, the last
  // message is kept for the next start when the capture ends.
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  QFile file(capture);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  for (int n = 1; n <= 22; ++n)
    file.write(QStringLiteral("*12:00:00 K1ABC>APRS::N0CALL-10:Hello %1{%1\r\n").arg(n).toLatin1());
  file.close();
  const TRun run = RunProgram({"--replay", capture, "--pace", "0", "--callsign", "n0call-10", "--config",
                               config, "--print-to-pdf", pdfs},
                              dir.path());
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  EXPECT_EQ(QDir(pdfs).entryList({QStringLiteral("quillmark-*.pdf")}, QDir::Files).size(), 1);
  EXPECT_TRUE(run.Out.contains("printed pages are PDF files in " + pdfs.toUtf8())) << run.Out.toStdString();
  QFile ini(config + QStringLiteral("/Quillmark.ini"));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  const QByteArray stored = ini.readAll();
  EXPECT_FALSE(stored.contains("[Connection]")) << stored.toStdString();
  EXPECT_FALSE(stored.contains("N0CALL")) << stored.toStdString();
}

// --ics309 refuses a period it cannot read before anything is written; a sound one reads the
// store beside its writer, writes the log into the data folder, says where, and prints it.
TEST(CommandLine, TheCommunicationsLogOfAPeriod) {
  QTemporaryDir dir;
  const QString config = dir.filePath(QStringLiteral("config"));
  const struct {
    QStringList Period;
    const char* Error;
  } refused[] = {
      {{"2026-12-10T12:00", "2026-12-10T08:00"},
       "quillmark: --ics309: the period ends before it starts: 2026-12-10 08:00 is not after 2026-12-10 "
       "12:00"},
      {{"2026-12-10T08:00"}, "quillmark: --ics309 needs the period: FROM TO"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.Error);
    const TRun bad = RunProgram(QStringList{"--config", config, "--ics309"} + r.Period, dir.path());
    EXPECT_EQ(bad.Code, 2);
    EXPECT_TRUE(bad.Err.startsWith(r.Error)) << bad.Err.toStdString();
    EXPECT_FALSE(QDir(config).exists());
  }

  ASSERT_TRUE(QDir().mkpath(config));
  TMessageStore store((config + QStringLiteral("/Quillmark-messages.db")).toStdString());
  for (const auto& [utc, text] :
       {std::pair{46366.3, "before the period"}, std::pair{46366.5, "Shelter open, 40 cots"},
        std::pair{46366.75, "at the period's end"}}) {
    TStoredMessage m;
    m.UtcTime = utc;
    m.Source = "KB1AB-7";
    m.Addressee = "W1AW     ";
    m.MessageText = text;
    m.Kind = 1;
    store.Add(m);
  }
  const QString pdfs = dir.filePath(QStringLiteral("pdf"));
  const TRun run = RunProgram({"--config", config, "--callsign", "w1aw", "--ics309", "2026-12-10T08:00",
                               "2026-12-10T18:00", "--print", "--print-to-pdf", pdfs},
                              dir.path());
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
  const QString base = config + QStringLiteral("/ics309-20261210-0800-20261210-1800");
  EXPECT_TRUE(run.Out.startsWith(
      (base + QStringLiteral(".pdf\n") + base + QStringLiteral(".csv\nprinted: ")).toUtf8()))
      << run.Out.toStdString();
  QFile csv(base + QStringLiteral(".csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll(), QByteArray("Time (UTC),From,To,Subject/Message\r\n"
                                      "2026-12-10 12:00,KB1AB-7,W1AW,\"Shelter open, 40 cots\"\r\n"));
  EXPECT_TRUE(QFile::exists(base + QStringLiteral(".pdf")));
  EXPECT_EQ(QDir(pdfs).entryList({QStringLiteral("quillmark-*.pdf")}, QDir::Files).size(), 1);
}

}  // namespace
}  // namespace qm

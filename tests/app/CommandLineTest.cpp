// The command line: what each option sets for the run, what is refused, and the program
// itself answering --version, refusing a bad option without writing anything, and running a
// replay whose options are never stored.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <QComboBox>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "generated/QuillmarkVersion.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

TCommandLine Parse(QStringList args) {
  test::App();
  args.prepend(QStringLiteral("quillmark"));
  return ParseCommandLine(args);
}

TEST(CommandLine, OptionsSetThisRun) {
  QTemporaryDir dir;
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  QFile(capture).open(QIODevice::WriteOnly);
  struct Case {
    QStringList args;
    THostSettings::TTransport transport;
    const char* server;
    int port;
    const char* device;
    int baud;
  } const cases[] = {
      {{"--aprs-is", "rotate.aprs2.net"},
       THostSettings::htAprsIs,
       "rotate.aprs2.net",
       0,
       "/dev/ttyUSB0",
       9600},
      {{"--aprs-is", "[::1]:10152"}, THostSettings::htAprsIs, "::1", 10152, "/dev/ttyUSB0", 9600},
      {{"--kiss", "localhost:8001", "-platform", "offscreen"},
       THostSettings::htKissTcp,
       "localhost",
       8001,
       "/dev/ttyUSB0",
       9600},
      {{"--serial", "/dev/ttyACM0:1200"}, THostSettings::htKissSerial, "", 0, "/dev/ttyACM0", 1200},
      {{"--serial", "/dev/rfcomm0"}, THostSettings::htKissSerial, "", 0, "/dev/rfcomm0", 9600},
      {{"--serial", "/dev/ttyUSB1:230400"}, THostSettings::htKissSerial, "", 0, "/dev/ttyUSB1", 230400},
      {{"--replay", capture, "--pace", "0.5"}, THostSettings::htReplay, "", 0, "/dev/ttyUSB0", 9600},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const TCommandLine line = Parse(c.args);
    ASSERT_EQ(line.Action, TCommandLine::caRun) << line.Text.toStdString();
    THostSettings s;
    line.Options.ApplyTo(s);
    EXPECT_EQ(s.Transport, c.transport);
    EXPECT_EQ(s.Server, c.server);
    EXPECT_EQ(s.Port, c.port);
    EXPECT_EQ(s.SerialDevice, c.device);
    EXPECT_EQ(s.SerialBaud, c.baud);
    EXPECT_FALSE(s.AnswerMessages);  // answering is never on unless asked for
  }
  const TCommandLine all =
      Parse({"--replay", capture, "--pace", "0", "--callsign", "n0call-10", "--filter", "t/m m/50",
             "--answer", "--passcode", "12345", "--printer", "Office", "--print-to-pdf", dir.path(),
             "--config", dir.filePath(QStringLiteral("new/conf"))});
  ASSERT_EQ(all.Action, TCommandLine::caRun) << all.Text.toStdString();
  THostSettings s;
  all.Options.ApplyTo(s);
  EXPECT_EQ(s.CaptureFile, capture.toStdString());
  EXPECT_EQ(s.Pace, 0);
  EXPECT_EQ(s.Callsign, "N0CALL-10");
  EXPECT_EQ(s.Filter, "t/m m/50");
  EXPECT_TRUE(s.AnswerMessages);
  EXPECT_EQ(s.Passcode, 12345);
  EXPECT_EQ(all.Options.Printer, QStringLiteral("Office"));
  EXPECT_EQ(all.Options.PrintToFolder, dir.path());
  EXPECT_EQ(all.Options.ConfigDir, dir.filePath(QStringLiteral("new/conf")));
  EXPECT_EQ(Parse({"--version"}).Text, QStringLiteral("Quillmark ") + QLatin1String(version::FileVersion));
  EXPECT_TRUE(Parse({"--help"}).Text.contains(QStringLiteral("--print-to-pdf <DIR>")));
}

TEST(CommandLine, BadOptionsAreRefusedWithAReason) {
  QTemporaryDir dir;
  QFile(dir.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
  const QString file = dir.filePath(QStringLiteral("file"));
  struct Case {
    QStringList args;
    const char* error;
  } const cases[] = {
      {{"--bogus"}, "Unknown option 'bogus'."},
      {{"extra"}, "unexpected argument \"extra\""},
      {{"--pace"}, "Missing value after '--pace'."},
      {{"--pace", "-1"}, "--pace: \"-1\" is not a number, 0 or more"},
      {{"--pace", "nan"}, "--pace: \"nan\" is not a number, 0 or more"},
      {{"--replay", dir.filePath(QStringLiteral("none"))}, "--replay: \""},
      {{"--aprs-is", "host:0"}, "--aprs-is: the port must be a number from 1 to 65535, not \"0\""},
      {{"--aprs-is", "host:"}, "--aprs-is: the port must be a number from 1 to 65535, not \"\""},
      {{"--kiss", ":8001"}, "--kiss: \":8001\" names no host"},
      {{"--kiss", "[::1"}, "--kiss: \"[::1\" lacks its \"]\""},
      {{"--serial", ":9600"}, "--serial: \":9600\" names no device"},
      {{"--serial", "/dev/ttyS0:0"}, "--serial: the speed must be one of 300, 1200, 2400, "},
      {{"--serial", "/dev/ttyS0:12"},
       "--serial: the speed must be one of 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or "
       "230400 bits a second, not \"12\""},
      {{"--serial", "/dev/ttyS0:4000000"}, "--serial: the speed must be one of 300, "},
      {{"--kiss", "a", "--aprs-is", "b"},
       "choose one packet source: --replay, --aprs-is, --kiss or --serial"},
      {{"--callsign", "MY CALL 123456789"}, "--callsign: \"MY CALL 123456789\" is not a callsign"},
      {{"--filter", "t/m\tm/5"}, "--filter: the filter may hold printable ASCII characters only"},
      {{"--printer", " "}, "--printer needs a printer's name"},
      {{"--passcode", "-5"}, "--passcode: \"-5\" is not a number from 0 to 32767"},
      {{"--passcode", "40000"}, "--passcode: \"40000\" is not a number from 0 to 32767"},
      {{"--print-to-pdf", file}, "--print-to-pdf: \""},
      {{"--config", file + "/below"}, "--config: \""},
      {{"--pace", "1", "--pace", "2"}, "--pace is given twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const TCommandLine line = Parse(c.args);
    EXPECT_EQ(line.Action, TCommandLine::caError);
    EXPECT_TRUE(line.Text.startsWith(QString::fromUtf8(c.error))) << line.Text.toStdString();
  }
}

// --printer picks a printer of the list for this run; a name not in it is reported and the
// system's default stays.
TEST(CommandLine, PrinterOptionChoosesThePrinterForThisRun) {
  for (const char* name : {"Office", "Missing"}) {
    SCOPED_TRACE(name);
    test::TFormEnvironment env;
    TMainFormSetup setup = env.Setup();
    setup.Printers = TPrinterList{{QStringLiteral("Desk"), QStringLiteral("Office")}, QStringLiteral("Desk")};
    setup.Options.Printer = QString::fromLatin1(name);
    TMainForm form(std::move(setup));
    const bool known = std::string(name) == "Office";
    EXPECT_EQ(form.Desk().PrinterName(), known ? QStringLiteral("Office") : QStringLiteral("Desk"));
    EXPECT_EQ(form.cbxPrinter->currentText(), known ? QStringLiteral("Office") : QStringLiteral("(default)"));
    EXPECT_EQ(env.Errors,
              known ? QStringList{} : QStringList{QStringLiteral("There is no printer \"Missing\" here")});
  }
}

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
  // The package's version, all four parts.
  EXPECT_EQ(version.Out, QByteArray("Quillmark ") + version::FileVersion + "\n");
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

}  // namespace
}  // namespace qm

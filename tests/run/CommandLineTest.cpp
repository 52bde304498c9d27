// The command line: what each option sets for the run and what is refused.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "generated/QuillmarkVersion.h"
#include "run/CommandLine.h"
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
             "--config", dir.filePath(QStringLiteral("new/conf")), "--areas", "ok_c109,TX_Z*"});
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
  EXPECT_EQ(all.Options.Areas, (std::vector<std::string>{"OK_C109", "TX_Z*"}));
  EXPECT_FALSE(Parse({}).Options.Areas);
  EXPECT_EQ(Parse({"--version"}).Text, QStringLiteral("Quillmark ") + QLatin1String(version::ReleaseText));
  EXPECT_TRUE(Parse({"--help"}).Text.contains(QStringLiteral("--print-to-pdf <DIR>")));
}

TEST(CommandLine, AlarmKindsAreChosenForThisRunOnly) {
  const TCommandLine line = Parse({"--alarm", "warning,Own"});
  ASSERT_EQ(line.Action, TCommandLine::caRun) << line.Text.toStdString();
  TDeskChoices choices;
  choices.AlarmKinds = ParseAlarmKinds("bulletin");
  line.Options.ApplyTo(choices);
  EXPECT_EQ(AlarmKindsText(choices.AlarmKinds), "own,warning");
  // "none" turns the stored kinds off; without the option they stay.
  Parse({"--alarm", "none"}).Options.ApplyTo(choices);
  EXPECT_TRUE(choices.AlarmKinds.Empty());
  choices.AlarmKinds = ParseAlarmKinds("watch");
  Parse({}).Options.ApplyTo(choices);
  EXPECT_EQ(AlarmKindsText(choices.AlarmKinds), "watch");
  EXPECT_TRUE(Parse({"--help"}).Text.contains(QStringLiteral("--alarm <KIND,...>")));
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
      {{"--areas", "OK_C109,OKLAHOMA"}, "--areas: \"OKLAHOMA\" is no NWS area: give a county or zone code"},
      {{"--alarm", "own,siren"},
       "--alarm: \"siren\" is no alarm kind; the kinds are own, listed, bulletin, announcement, watch, "
       "warning, advisory"},
      {{"--alarm"}, "Missing value after '--alarm'."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const TCommandLine line = Parse(c.args);
    EXPECT_EQ(line.Action, TCommandLine::caError);
    EXPECT_TRUE(line.Text.startsWith(QString::fromUtf8(c.error))) << line.Text.toStdString();
  }
}

}  // namespace
}  // namespace qm

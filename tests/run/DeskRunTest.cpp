// A run's assembly: the sources it puts from the settings file with the command line's over
// them, and where the first source's pages go.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <stdexcept>

#include "print/PrintJobs.h"
#include "run/DeskRun.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

TDeskRunSetup SetupIn(const QTemporaryDir& dir, TRunOptions options) {
  test::App();
  TDeskRunSetup s;
  s.Desk.DataDir = dir.path().toStdString();
  s.Desk.Printers = TPrinterList{{QStringLiteral("Desk")}, QStringLiteral("Desk")};
  s.IniFile = dir.filePath(QStringLiteral("Quillmark.ini")).toStdString();
  s.Options = std::move(options);
  return s;
}

TEST(DeskRun, TheCommandLinesSourceIsTheRunsOnlyOneAndItsChoicesGoOverEverySource) {
  TRunOptions replay, pace;
  replay.Transport = THostSettings::htReplay;
  replay.CaptureFile = "/tmp/capture.txt";
  pace.Pace = 7;
  const struct {
    const char* Name;
    TRunOptions Options;
    std::vector<std::string> Sources;  // the server, or a replay's file
    double Pace;
  } cases[] = {{"none", {}, {"rotate.aprs2.net", "tnc.lan"}, 2},
               {"--replay", replay, {"/tmp/capture.txt"}, 2},
               {"--pace alone", pace, {"rotate.aprs2.net", "tnc.lan"}, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("Quillmark.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[Connection]\r\nTransport=aprs-is\r\nServer=rotate.aprs2.net\r\nPace=2\r\n"
        "[Connection2]\r\nTransport=kiss-tcp\r\nServer=tnc.lan\r\nPort=8001\r\nPace=2\r\n"
        "AnswerPath=WIDE1-1,,WIDE2-1\r\n");
    ini.close();
    TDeskRun run(SetupIn(dir, c.Options));
    run.LoadSources();
    ASSERT_EQ(run.Sources().Count(), c.Sources.size());
    for (std::size_t i = 0; i < c.Sources.size(); ++i) {
      const THostSettings& s = run.Sources().At(i).Settings;
      EXPECT_EQ(s.Transport == THostSettings::htReplay ? s.CaptureFile : s.Server, c.Sources[i]) << i;
      EXPECT_EQ(s.Pace, c.Pace) << i;
      EXPECT_EQ(run.Sources().Link(i), nullptr) << "put, not made";
    }
    // A path no frame carries stays as written, for the link to refuse with a line.
    if (c.Sources.size() == 2) {
      EXPECT_EQ(run.Sources().At(1).Settings.AnswerPath, "WIDE1-1,,WIDE2-1");
    }
  }
}

TEST(DeskRun, TheDemosPagesBecomeFilesAndTheDemoPlaysAlone) {
  const QTemporaryDir dir;
  const QString capture = dir.filePath(QStringLiteral("capture.txt")),
                own = dir.filePath(QStringLiteral("own"));
  QFile(capture).open(QIODevice::WriteOnly);
  THostSettings demo, file, kiss;
  demo.Transport = file.Transport = THostSettings::htReplay;
  file.CaptureFile = capture.toStdString();
  kiss.Transport = THostSettings::htKissTcp;
  const struct {
    const char* Name;
    THostSettings First;
    QString PdfOption;
    bool BesideKiss;
    QString Folder;  // "": the printer
  } cases[] = {{"the demo", demo, {}, false, QDir(dir.path()).absoluteFilePath(QStringLiteral("demo-pages"))},
               {"the demo with --print-to-pdf", demo, own, false, own},
               {"a capture file", file, {}, false, {}},
               {"the demo beside a TNC", demo, {}, true, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRunOptions options;
    options.PrintToFolder = c.PdfOption;
    TDeskRun run(SetupIn(dir, options));
    int made = 0;
    QObject::connect(&run, &TDeskRun::LinkMade, [&](int index, THostLink* link) {
      made += index == 0 && link == run.Sources().Link(0);
    });
    if (c.BesideKiss) {
      run.Sources().Put(1, kiss, false);
      EXPECT_THROW(run.ConnectSource(0, c.First), std::runtime_error);
      EXPECT_TRUE(run.Sources().At(0).State.startsWith(QStringLiteral("Not connected: ")));
    } else {
      run.ConnectSource(0, c.First);
    }
    EXPECT_EQ(made, c.BesideKiss ? 0 : 1);
    EXPECT_EQ(run.Desk().PrintFolder(), c.Folder);
  }
}

}  // namespace
}  // namespace qm

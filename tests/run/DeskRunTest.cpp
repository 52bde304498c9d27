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

struct TRunPlace {
  TRunPlace() { test::App(); }
  std::string Ini() const { return Dir.filePath(QStringLiteral("Quillmark.ini")).toStdString(); }
  void WriteIni(const QByteArray& text) const {
    QFile ini(QString::fromStdString(Ini()));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(text);
  }
  TDeskRunSetup Setup(TRunOptions options = {}) const {
    TDeskRunSetup s;
    s.Desk.DataDir = Dir.path().toStdString();
    s.Desk.Printers = TPrinterList{{QStringLiteral("Desk")}, QStringLiteral("Desk")};
    s.IniFile = Ini();
    s.Options = std::move(options);
    return s;
  }
  QTemporaryDir Dir;
};

TEST(DeskRun, TheCommandLinesSourceIsTheRunsOnlyOneAndItsChoicesGoOverEverySource) {
  const struct {
    const char* Name;
    TRunOptions Options;
    std::vector<std::pair<THostSettings::TTransport, std::string>> Sources;  // transport, server or file
    double Pace;
  } cases[] = {
      {"none", {}, {{THostSettings::htAprsIs, "rotate.aprs2.net"}, {THostSettings::htKissTcp, "tnc.lan"}}, 2},
      {"--replay",
       [] {
         TRunOptions o;
         o.Transport = THostSettings::htReplay;
         o.CaptureFile = "/tmp/capture.txt";
         return o;
       }(),
       {{THostSettings::htReplay, "/tmp/capture.txt"}},
       2},
      {"--pace alone",
       [] {
         TRunOptions o;
         o.Pace = 7;
         return o;
       }(),
       {{THostSettings::htAprsIs, "rotate.aprs2.net"}, {THostSettings::htKissTcp, "tnc.lan"}},
       7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRunPlace place;
    place.WriteIni(
        "[Connection]\r\nTransport=aprs-is\r\nServer=rotate.aprs2.net\r\nCallsign=N0CALL\r\nPace=2\r\n"
        "[Connection2]\r\nTransport=kiss-tcp\r\nServer=tnc.lan\r\nPort=8001\r\nPace=2\r\n");
    TDeskRun run(place.Setup(c.Options));
    EXPECT_FALSE(run.FirstStart());
    run.LoadSources();
    ASSERT_EQ(run.Sources().Count(), c.Sources.size());
    for (std::size_t i = 0; i < c.Sources.size(); ++i) {
      const THostSettings& s = run.Sources().At(i).Settings;
      EXPECT_EQ(s.Transport, c.Sources[i].first) << i;
      EXPECT_EQ(s.Transport == THostSettings::htReplay ? s.CaptureFile : s.Server, c.Sources[i].second) << i;
      EXPECT_EQ(s.Pace, c.Pace) << i;
      EXPECT_EQ(run.Sources().Link(i), nullptr) << "put, not made";
    }
  }
}

TEST(DeskRun, TheDemosPagesBecomeFilesAndTheDemoPlaysAlone) {
  TRunPlace place;
  const QString capture = place.Dir.filePath(QStringLiteral("capture.txt"));
  {
    QFile f(capture);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("K1ABC>APRS::BLN1     :Net\r\n");
  }
  const QString own = place.Dir.filePath(QStringLiteral("own"));
  THostSettings demo;
  demo.Transport = THostSettings::htReplay;
  THostSettings file = demo;
  file.CaptureFile = capture.toStdString();
  THostSettings kiss;
  kiss.Transport = THostSettings::htKissTcp;
  kiss.Server = "127.0.0.1";
  const struct {
    const char* Name;
    THostSettings First;
    QString PdfOption;
    bool BesideKiss;
    QString Folder;  // "": the printer
  } cases[] = {
      {"the demo", demo, {}, false, QDir(place.Dir.path()).absoluteFilePath(QStringLiteral("demo-pages"))},
      {"the demo with --print-to-pdf", demo, own, false, own},
      {"a capture file", file, {}, false, {}},
      {"the demo beside a TNC", demo, {}, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRunOptions options;
    options.PrintToFolder = c.PdfOption;
    TDeskRun run(place.Setup(options));
    if (c.BesideKiss) run.Sources().Put(1, kiss, false);
    if (c.BesideKiss) {
      EXPECT_THROW(run.ConnectSource(0, c.First), std::runtime_error);
      EXPECT_EQ(run.Sources().Link(0), nullptr);
      EXPECT_TRUE(run.Sources().At(0).State.startsWith(QStringLiteral("Not connected: ")))
          << run.Sources().At(0).State.toStdString();
    } else {
      int made = 0;
      QObject::connect(&run, &TDeskRun::LinkMade, [&](int index, THostLink* link) {
        ++made;
        EXPECT_EQ(index, 0);
        EXPECT_EQ(link, run.Sources().Link(0));
      });
      run.ConnectSource(0, c.First);
      EXPECT_EQ(made, 1);
    }
    EXPECT_EQ(run.Desk().PrintFolder(), c.Folder);
  }
}

}  // namespace
}  // namespace qm

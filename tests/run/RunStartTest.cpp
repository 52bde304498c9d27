// The start in its one order, as a view sees it: each step once, the view's part at its place,
// and a step that fails handed to the view once while the start goes on.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "run/DeskRun.h"
#include "run/Unattended.h"
#include "tests/support/LogFiles.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

// Writes a settings file with a replay of one bulletin, and `more` after it.
std::string WriteIni(const QTemporaryDir& dir, const QByteArray& more = {}) {
  const QString capture = dir.filePath(QStringLiteral("capture.txt"));
  QFile c(capture);
  EXPECT_TRUE(c.open(QIODevice::WriteOnly));
  c.write("*12:00:00 K1ABC>APRS::BLN1     :Net tonight\r\n");
  const QString ini = dir.filePath(QStringLiteral("Quillmark.ini"));
  QFile f(ini);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[Connection]\r\nTransport=replay\r\nCaptureFile=" + capture.toLocal8Bit() + "\r\nPace=0\r\n" +
          more);
  return ini.toStdString();
}

// Writes down what the start asks of it, and in what state the desk is then.
struct TRecordingView : TRunView {
  QStringList Seen;
  void StepFailed(const QString& step, const QString& why) override { Seen << step + ": " + why; }
  void ReadChoices(TDeskRun& run) override {
    Seen << QStringLiteral("choices") + (run.Desk().Logging() ? " (logging)" : "");
  }
  void SourcesRead(TDeskRun& run) override {
    Seen << QStringLiteral("sources %1").arg(run.Sources().Count());
  }
  void ChoosePrinter(TDeskRun& run) override {
    Seen << QStringLiteral("printer");
    TRunView::ChoosePrinter(run);
  }
  void ConnectSource(TDeskRun& run, std::size_t index) override {
    const bool stored = QFileInfo::exists(QString::fromStdString(run.Desk().StoreFile()));
    Seen << QStringLiteral("source %1").arg(index) + (stored ? " (stored)" : "");
    TRunView::ConnectSource(run, index);
  }
  void HandOverChoices(TDeskRun& run) override {
    Seen << QStringLiteral("hand over") + (run.Sources().Link(0) ? " (linked)" : "");
  }
  void Ready(TDeskRun& run) override {
    Seen << QStringLiteral("ready");
    TRunView::Ready(run);
  }
};

TDeskRunSetup SetupIn(const QTemporaryDir& dir, std::string ini, const QString& printer = {}) {
  test::App();
  TDeskRunSetup s;
  s.Desk.DataDir = dir.path().toStdString();
  s.Desk.Printers = TPrinterList{{QStringLiteral("Desk")}, QStringLiteral("Desk")};
  s.IniFile = std::move(ini);
  s.Options.Printer = printer;
  return s;
}

TEST(RunStart, TheStepsComeInOneOrder) {
  const QTemporaryDir dir;
  TDeskRun run(SetupIn(dir, WriteIni(dir)));
  TRecordingView view;
  run.Start(view);
  EXPECT_EQ(view.Seen, (QStringList{"choices (logging)", "sources 1", "printer", "source 0 (stored)",
                                    "hand over (linked)", "ready"}));
}

TEST(RunStart, AStepThatFailsIsHandedToTheViewOnceAndTheStartGoesOn) {
  const QTemporaryDir dir;
  TDeskRun run(
      SetupIn(dir, WriteIni(dir, "[Connection2]\r\nTransport=aprs_is\r\n"), QStringLiteral("Missing")));
  TRecordingView view;
  run.Start(view);
  EXPECT_EQ(view.Seen,
            (QStringList{"choices (logging)", "sources 2", "printer",
                         "The printer: There is no printer \"Missing\" here", "source 0 (stored)",
                         "source 1 (stored)",
                         "The source: " + QString::fromStdString(UnknownTransportText(1, "aprs_is")),
                         "hand over (linked)", "ready"}));
}

// Without a window a failed step is said as the step and its reason, once, in the log too.
TEST(RunStart, TheRunWithoutAWindowSaysAFailedStepOnceInTheLog) {
  test::App();
  const QTemporaryDir dir;
  const std::string ini = WriteIni(dir);
  TRunOptions options;
  options.Printer = QStringLiteral("No such printer here");
  options.PrintToFolder = dir.filePath(QStringLiteral("pages"));
  {
    TUnattendedDesk desk({ini, dir.path().toStdString(), options});
    QSignalSpy ended(&desk, &TUnattendedDesk::Ended);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ended.isEmpty(); }, 20000));
  }  // the log written to its end
  const QString said = QStringLiteral("The printer: There is no printer \"No such printer here\" here");
  EXPECT_EQ(test::LogText(dir.path()).count(said), 1) << test::LogText(dir.path()).toStdString();
}

}  // namespace
}  // namespace qm

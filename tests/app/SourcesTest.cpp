// Several packet sources heard at once, as an operations desk has them: a TNC over KISS TCP and
// APRS-IS as the backup, both real links to loopback peers of their kind.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <atomic>
#include <thread>

#include "app/MainForm.h"
#include "run/Unattended.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/host/TestFrames.h"
#include "tests/support/LogFiles.h"
#include "tests/support/LoopbackServer.h"

namespace qm {
namespace {

using test::LogText;
using test::WaitFor;

// A loopback port nobody listens on: connecting is refused.
int ClosedPort() {
  const test::TLoopbackServer gone(nullptr);
  return gone.Port();
}

void WriteIni(const QString& path, const QString& text) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(text.toLatin1());
}

// The radio hears two messages for this station and a position; APRS-IS brings the same three
// (with its own path) and one more that only it heard. Each wanted message is listed and logged
// once: the second source is heard, and its copies of what the radio heard are repeats. A third
// source that cannot connect shows its own state and the red look, and the others go on. (The
// unattended desk with a real Direwolf: sources_direwolf_peer.)
TEST(Sources, AMessageHeardOnTwoSourcesIsListedAndLoggedOnce) {
  using test::Ax25Ui;
  using test::Kiss;
  const std::string kiss = Kiss(Ax25Ui("W1ABC", "APRS", {"WIDE1-1"}, ":N0CALL-5 :first{1")) +
                           Kiss(Ax25Ui("W1ABC", "APRS", {}, "!4903.50N/07201.75W-")) +
                           Kiss(Ax25Ui("W1ABC", "APRS", {"WIDE1-1"}, ":N0CALL-5 :second{2"));
  const std::string aprsIs =
      "# aprsc 2.1.14\r\nW1ABC>APRS,WIDE1-1,qAR,IGATE::N0CALL-5 :first{1\r\n"
      "W1ABC>APRS,qAR,IGATE:!4903.50N/07201.75W-\r\nW1ABC>APRS,qAR,IGATE::N0CALL-5 :second{2\r\n"
      "W1ABC>APRS,TCPIP*,qAC,T2::N0CALL-5 :third{3\r\n";
  test::TFormEnvironment env;
  const int deadPort = ClosedPort();
  test::TLoopbackServer tnc([&](int fd) {
    test::SendAll(fd, kiss);
    test::ReadToEnd(fd);
  });
  test::TLoopbackServer server([&](int fd) {
    test::SendAll(fd, aprsIs);
    test::ReadToEnd(fd);
  });
  const QString source =
      QStringLiteral("[Connection%1]\nTransport=%2\nServer=127.0.0.1\nPort=%3\nCallsign=N0CALL-5\n");
  WriteIni(QString::fromStdString(env.IniFile()), source.arg("", "kiss-tcp").arg(tnc.Port()) +
                                                      source.arg("2", "aprs-is").arg(server.Port()) +
                                                      source.arg("3", "kiss-tcp").arg(deadPort));
  TMainFormSetup setup = env.Setup();
  setup.CreateHost = nullptr;  // the real links the settings file names
  auto form = std::make_unique<TMainForm>(setup);
  ASSERT_TRUE(WaitFor([&] { return form->Desk().PacketsHeard() == 7 && form->MessageLineCount() >= 9; }));
  ASSERT_TRUE(WaitFor([&] { return LogText(env.Dir.path()).contains(":third{3"); }));
  // The outage line names its source.
  EXPECT_TRUE(WaitFor([&] {
    return LogText(env.Dir.path()).contains(QStringLiteral("KISS 127.0.0.1:%1 down at").arg(deadPort));
  }));
  EXPECT_EQ(form->MessageLineCount(), 9) << form->MessageLines().join('\n').toStdString();
  EXPECT_EQ(form->Sources().At(0).Packets, 3u);
  EXPECT_EQ(form->Sources().At(1).Packets, 4u);
  ASSERT_EQ(form->lbSources->count(), 3);
  EXPECT_TRUE(form->lbSources->item(1)->text().startsWith(
      QStringLiteral("2. APRS-IS 127.0.0.1:%1: Connected").arg(server.Port())))
      << form->lbSources->item(1)->text().toStdString();
  EXPECT_TRUE(WaitFor([&] { return form->lbSources->item(2)->text().contains("Retrying"); }));
  EXPECT_TRUE(form->lblLinkStatus->styleSheet().contains("#d32f2f"));
  // The tray's tip follows the counts at most four times a second.
  QStringList tip;
  EXPECT_TRUE(WaitFor([&] {
    tip = form->FTrayIcon->toolTip().split('\n');
    return tip.size() >= 4 && tip[2] == "APRS-IS: Connected, 4 packets";
  }));
  ASSERT_GE(tip.size(), 4);
  EXPECT_EQ(tip[1], "KISS: Connected, 3 packets");
  EXPECT_EQ(tip[2], "APRS-IS: Connected, 4 packets");
  EXPECT_TRUE(tip[3].startsWith("KISS: Retrying")) << tip[3].toStdString();
  form.reset();  // the log is written to its end
  // Once as a message; a copy judged a repeat is logged as one ("Duplicate packet: ...").
  const QString log = LogText(env.Dir.path());
  for (const char* body : {":first{1", ":second{2", ":third{3"})
    EXPECT_EQ(test::TimesLogged(log, "W1ABC", body), 1) << body;
}

// A second source written in the settings file that never connects hears nothing, so the
// sender's messages are judged as with one source: a copy of its second message within 20 s
// is listed again, as the one-source rule has it.
TEST(Sources, ASourceThatNeverConnectedLeavesTheOneSourceRepeatRule) {
  test::TFormEnvironment env;
  const int deadPort = ClosedPort();
  std::atomic<bool> go = false;
  test::TLoopbackServer server([&](int fd) {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    test::SendAll(fd,
                  "W1ABC>APRS,TCPIP*::N0CALL-5 :first{1\r\nW1ABC>APRS,TCPIP*::N0CALL-5 :second{2\r\n"
                  "W1ABC>APRS,TCPIP*::N0CALL-5 :second{2\r\n");
    test::ReadToEnd(fd);
  });
  const QString source =
      QStringLiteral("[Connection%1]\nTransport=%2\nServer=127.0.0.1\nPort=%3\nCallsign=N0CALL-5\n");
  WriteIni(QString::fromStdString(env.IniFile()),
           source.arg("", "aprs-is").arg(server.Port()) + source.arg("2", "kiss-tcp").arg(deadPort));
  TMainFormSetup setup = env.Setup();
  setup.CreateHost = nullptr;
  auto form = std::make_unique<TMainForm>(setup);
  // Sent once the first is connected and the second has failed.
  const bool ready = WaitFor([&] {
    return form->Sources().At(0).State.startsWith("Connected") &&
           form->Sources().At(1).State.startsWith("Retrying");
  });
  go = true;
  ASSERT_TRUE(ready);
  // The third is logged either way: listed, or as a duplicate.
  ASSERT_TRUE(WaitFor([&] { return LogText(env.Dir.path()).count(":second{2") == 2; }));
  EXPECT_EQ(form->MessageLineCount(), 9);
  EXPECT_FALSE(LogText(env.Dir.path()).contains("Duplicate packet"));
}

// A capture that ends beside a live source leaves the program running on that source; alone,
// its end ends the program as before.
TEST(Sources, AReplayThatEndsBesideALiveSourceDoesNotEndTheProgram) {
  test::TFormEnvironment env;
  const QString capture = env.Dir.filePath("short.txt");
  WriteIni(capture, "*12:00:00 W1ABC>APRS::N0CALL-5 :replayed{1\n");
  test::TLoopbackServer server([](int fd) { test::ReadToEnd(fd); });
  WriteIni(QString::fromStdString(env.IniFile()),
           QStringLiteral("[Connection]\nTransport=replay\nCaptureFile=%1\nPace=0\nCallsign=N0CALL-5\n"
                          "[Connection2]\nTransport=aprs-is\nServer=127.0.0.1\nPort=%2\nCallsign=N0CALL-5\n")
               .arg(capture)
               .arg(server.Port()));
  TMainFormSetup setup = env.Setup();
  setup.CreateHost = nullptr;
  TMainForm form(setup);
  int ended = 0;
  form.EndApplication = [&] { ++ended; };
  // The capture's last packet may still wait in the event queue when its end is told.
  ASSERT_TRUE(WaitFor([&] { return form.Sources().At(0).Ended && form.MessageLineCount() == 3; }));
  EXPECT_EQ(form.Sources().At(0).State, "Capture finished");
  EXPECT_EQ(ended, 0);
  form.Sources().Remove(1);  // the live one gone, the ended replay is all that was left
  emit form.clsUIV1->Closing();
  EXPECT_TRUE(WaitFor([&] { return ended == 1; }));
}

// A mistyped Transport leaves its own section out, named, and no other: the sources before
// and after it run, and the section is written back as it was when the others are saved.
TEST(Sources, ASectionWhoseTransportIsMistypedIsSkippedAndNamed) {
  test::TFormEnvironment env;
  const QString capture = env.Dir.filePath("capture.txt");
  WriteIni(capture, "*12:00:00 W1ABC>APRS::N0CALL-5 :replayed{1\n");
  test::TLoopbackServer server([](int fd) {
    test::SendAll(fd, "# aprsc 2.1.14\r\nW1ABC>APRS,TCPIP*,qAC,T2::N0CALL-5 :from the server{2\r\n");
    test::ReadToEnd(fd);
  });
  WriteIni(QString::fromStdString(env.IniFile()),
           QStringLiteral("[Connection]\nTransport=replay\nCaptureFile=%1\nPace=0\nCallsign=N0CALL-5\n"
                          "[Connection2]\nTransport=aprs_is\n"
                          "[Connection3]\nTransport=aprs-is\nServer=127.0.0.1\nPort=%2\nCallsign=N0CALL-5\n")
               .arg(capture)
               .arg(server.Port()));
  TMainFormSetup setup = env.Setup();
  setup.CreateHost = nullptr;
  TMainForm form(setup);
  form.EndApplication = [] {};
  ASSERT_TRUE(WaitFor([&] { return form.MessageLineCount() == 6; })) << env.Errors.join('\n').toStdString();
  const QString named = QString::fromStdString(UnknownTransportText(1, "aprs_is"));
  EXPECT_EQ(env.Errors, QStringList{named});
  ASSERT_EQ(form.lbSources->count(), 3);
  EXPECT_TRUE(form.lbSources->item(1)->text().contains(named))
      << form.lbSources->item(1)->text().toStdString();
  form.lbSources->setCurrentRow(2);
  form.btnRemoveSourceClick();
  QFile ini(QString::fromStdString(env.IniFile()));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  const QByteArray stored = ini.readAll();
  EXPECT_TRUE(stored.contains("[Connection2]\r\nTransport=aprs_is\r\n")) << stored.toStdString();
  EXPECT_FALSE(stored.contains("[Connection3]")) << stored.toStdString();
}

// One settings file, two runs: the window and the run without one put the same sources from
// it, with the same choices, each through the run's one assembly.
TEST(Sources, TheWindowAndTheRunWithoutOneHearTheSameSourcesFromOneFile) {
  test::TFormEnvironment env;
  const QString capture = env.Dir.filePath("capture.txt");
  WriteIni(capture, "*12:00:00 W1ABC>APRS:!4903.50N/07201.75W-\n");
  const int closed = ClosedPort();
  WriteIni(QString::fromStdString(env.IniFile()),
           QStringLiteral("[Settings]\ncbBull.Checked=True\n"
                          "[Connection]\nTransport=replay\nCaptureFile=%1\nPace=0\n"
                          "[Connection2]\nTransport=kiss-tcp\nServer=127.0.0.1\nPort=%2\n"
                          "[Connection3]\nTransport=aprs-is\nServer=127.0.0.1\nPort=%2\nCallsign=N0CALL\n")
               .arg(capture)
               .arg(closed));
  TMainForm form(env.Setup());
  form.EndApplication = [] {};
  const QTemporaryDir unattendedData;
  TUnattendedDesk unattended({env.IniFile(), unattendedData.path().toStdString(), {}});
  ASSERT_EQ(form.Sources().Count(), 3u);
  ASSERT_EQ(unattended.Sources().Count(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const THostSettings& w = form.Sources().At(i).Settings;
    const THostSettings& u = unattended.Sources().At(i).Settings;
    EXPECT_EQ(w.Transport, u.Transport);
    EXPECT_EQ(w.Server, u.Server);
    EXPECT_EQ(w.Port, u.Port);
    EXPECT_EQ(w.CaptureFile, u.CaptureFile);
    EXPECT_EQ(w.Pace, u.Pace);
  }
  EXPECT_EQ(form.Sources().At(2).Settings.Port, closed);
  EXPECT_TRUE(form.Desk().Choices().Selection.Bulletins);
  EXPECT_TRUE(unattended.Desk().Choices().Selection.Bulletins);
}

}  // namespace
}  // namespace qm

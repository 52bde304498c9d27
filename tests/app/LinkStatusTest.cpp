// The packet source in sight: the hint bar's link status and the tray tip with a real APRS-IS
// or KISS link to a loopback peer, the warning of a connection that stays quiet, and the
// caption the desktop shows.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QWindow>
#include <string>

#include "app/LinkLook.h"
#include "app/MainForm.h"
#include "generated/QuillmarkVersion.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/host/TestFrames.h"
#include "tests/support/LoopbackServer.h"

namespace qm {
namespace {

using test::WaitFor;

QString Caption() {
  return VersionCaption(version::Major, version::Minor, version::Release);
}

struct TPeerCase {
  const char* Kind;
  THostSettings::TTransport Transport;
  std::string Traffic;  // what the peer sends once connected
};

// A window whose host link is the real transport, connected to port, quiet after quietMs.
TMainFormSetup RealLinkSetup(test::TFormEnvironment& env, THostSettings::TTransport transport, int port,
                             int quietMs) {
  TMainFormSetup s = env.Setup();
  s.CreateHost = [=](THostSettings settings) {
    settings.Transport = transport;
    settings.Server = "127.0.0.1";
    settings.Port = port;
    settings.Callsign = "N0CALL-5";
    settings.QuietWarnMs = quietMs;
    settings.RfQuietWarnMs = quietMs;
    return CreateHostLink(settings);
  };
  s.Clock = [](TTimeFormat) { return EncodeDateTime({2026, 12, 7, 14, 5, 33, 0}); };
  return s;
}

// Three packets: a position, a message for another station and one for this station. Every
// one counts as heard; only the last is listed.
TEST(LinkStatus, ShowsSourceStateAndEveryPacketHeard) {  // slow
  using test::Ax25Ui;
  using test::Kiss;
  const TPeerCase cases[] = {
      {"APRS-IS", THostSettings::htAprsIs,
       "# aprsc 2.1.14\r\nW1ABC>APRS,TCPIP*:!4903.50N/07201.75W-\r\n"
       "W1ABC>APRS,TCPIP*::K1XYZ    :not ours{1\r\nW1ABC>APRS,TCPIP*::N0CALL-5 :for us{2\r\n"},
      {"KISS", THostSettings::htKissTcp,
       Kiss(Ax25Ui("W1ABC", "APRS", {"WIDE1-1"}, "!4903.50N/07201.75W-")) +
           Kiss(Ax25Ui("W1ABC", "APRS", {}, ":K1XYZ    :not ours{1")) +
           Kiss(Ax25Ui("W1ABC", "APRS", {}, ":N0CALL-5 :for us{2"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Kind);
    test::TFormEnvironment env;
    test::TLoopbackServer peer([&](int fd) {
      test::SendAll(fd, c.Traffic);
      test::ReadToEnd(fd);  // open until the window lets go
    });
    TMainForm form(RealLinkSetup(env, c.Transport, peer.Port(), 60000));
    const QString source = QString::fromLatin1(c.Kind) + " 127.0.0.1:" + QString::number(peer.Port());
    const QString expected = source + ": Connected \u2014 3 packets, last 14:05:33";
    // The first packet shows at once, the rest with the clock's next tick.
    EXPECT_TRUE(WaitFor([&] { return form.LinkStatusText() == expected; }))
        << form.LinkStatusText().toStdString();
    EXPECT_EQ(form.lblLinkStatus->text(), expected);
    EXPECT_EQ(form.lblLinkStatus->toolTip(), expected);
    EXPECT_EQ(form.MessageLineCount(), 3);
    EXPECT_EQ(form.FTrayIcon->toolTip(),
              QStringLiteral("Quillmark - right-click for options\n") + c.Kind + ": Connected, 3 packets");
    EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join("; ").toStdString();
  }
}

// A peer that accepts and sends nothing: after the (shortened) quiet time the state says so,
// on the Connection page, in the hint bar and in the tray tip.
TEST(LinkStatus, QuietConnectionIsReported) {
  const TPeerCase cases[] = {{"APRS-IS", THostSettings::htAprsIs, ""},
                             {"KISS", THostSettings::htKissTcp, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Kind);
    test::TFormEnvironment env;
    test::TLoopbackServer peer([](int fd) { test::ReadToEnd(fd); });
    TMainForm form(RealLinkSetup(env, c.Transport, peer.Port(), 300));
    const QString state = QStringLiteral("Connected, but no packets for over 0.3 s");
    ASSERT_TRUE(WaitFor([&] { return form.lblConnectionState->text() == state; }))
        << form.lblConnectionState->text().toStdString();
    EXPECT_EQ(form.LinkStatusText(), QString::fromLatin1(c.Kind) +
                                         " 127.0.0.1:" + QString::number(peer.Port()) + ": " + state +
                                         " \u2014 no packets yet");
    EXPECT_TRUE(
        form.FTrayIcon->toolTip().contains(QString::fromLatin1(c.Kind) + ": " + state + ", 0 packets"))
        << form.FTrayIcon->toolTip().toStdString();
  }
}

// A long state is cut in the middle, so the hint bar keeps room for the hints.
TEST(LinkStatus, LongStateIsCutAndTheWholeShowsAsTip) {
  test::TFormEnvironment env;
  TMainForm form(env.Setup());
  const QString state =
      QStringLiteral("Error: cannot open capture file ") + QString("/a-long-folder").repeated(30);
  emit env.Host->StateChanged(state);
  EXPECT_EQ(form.LinkStatusText(), state + " \u2014 no packets yet");
  EXPECT_EQ(form.lblLinkStatus->toolTip(), form.LinkStatusText());
  EXPECT_TRUE(form.lblLinkStatus->text().startsWith("Error: cannot open"))
      << form.lblLinkStatus->text().toStdString();
  EXPECT_TRUE(form.lblLinkStatus->text().endsWith("no packets yet"));
  form.show();
  EXPECT_LE(form.lblLinkStatus->width(), 420);
  EXPECT_EQ(form.width(), 680);
}

// A link that is down is red at a glance: the label, and a red mark in the icon's corner with
// the rest of the icon as it was.
TEST(LinkStatus, DownLookIsRed) {
  test::TFormEnvironment env;
  QLabel label;
  ShowLinkDown(label, IsLinkDown(QStringLiteral("Retrying in 4 s: Connection refused")));
  EXPECT_TRUE(label.styleSheet().contains("#d32f2f"));
  QPixmap plain(22, 22);
  plain.fill(Qt::green);
  const QImage marked = LinkDownIcon(QIcon(plain)).pixmap(22, 22).toImage();
  EXPECT_EQ(marked.pixelColor(2, 2), QColor(Qt::green));
  EXPECT_EQ(marked.pixelColor(15, 12), QColor(0xd3, 0x2f, 0x2f));
}

// Every source that is not well looks alike: a station program that is not there or does not
// answer, and an APRS-IS login the server did not verify while answering, are red on the
// Connection page and in the hint bar, and mark the tray; a quiet link is not.
TEST(LinkStatus, EverySourceNotWellIsRed) {
  const struct {
    const char* State;
    bool Red;
  } cases[] = {
      {"The station program is not running. Start it and Quillmark attaches to it; or choose another "
       "source on the Connection page.",
       true},
      {"The station program does not answer (Server execution failed). Quillmark tries again; or choose "
       "another source on the Connection page.",
       true},
      {"Connected, login not verified", true},
      {"Connected, but no packets for over 1 min", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.State);
    test::TFormEnvironment env;
    TMainForm form(env.Setup());
    emit env.Host->StateChanged(QStringLiteral("Connected"));
    const qint64 plainIcon = form.FTrayIcon->icon().cacheKey();
    emit env.Host->StateChanged(QString::fromLatin1(c.State));
    EXPECT_EQ(form.lblConnectionState->styleSheet().contains("#d32f2f"), c.Red);
    EXPECT_EQ(form.lblLinkStatus->styleSheet().contains("#d32f2f"), c.Red);
    EXPECT_EQ(form.FTrayIcon->icon().cacheKey() != plainIcon, c.Red);
    EXPECT_TRUE(form.FTrayIcon->toolTip().contains(QString::fromLatin1(c.State)));
  }
}

// Advice that matters stays in the notice line while the hint bar moves on, each text once, and
// a source that falls is noticed once however often it retries; Seen clears the line.
TEST(LinkStatus, AdviceStaysInTheNoticeLineUntilSeen) {
  test::TFormEnvironment env;
  TMainForm form(env.Setup());
  form.show();
  EXPECT_FALSE(form.pnlNotice->isVisible());
  const QString login = QStringLiteral(
      "APRS-IS did not verify the login of Q1ABC-7: the passcode does not fit the callsign, so messages are "
      "not acknowledged there");
  emit env.Host->AnswerNotice(login);
  emit env.Host->AnswerNotice(login);
  form.SetHintText(QStringLiteral("a later hint"));
  emit env.Host->StateChanged(QStringLiteral("Retrying in 1 s: Connection refused"));
  emit env.Host->StateChanged(QStringLiteral("Connecting"));
  emit env.Host->StateChanged(QStringLiteral("Retrying in 2 s: Connection refused"));
  ASSERT_EQ(form.Notices().size(), 2) << form.Notices().join('\n').toStdString();
  EXPECT_EQ(form.Notices()[0], login);
  EXPECT_TRUE(form.Notices()[1].contains(" is down since ")) << form.Notices()[1].toStdString();
  EXPECT_TRUE(form.Notices()[1].endsWith(": Retrying in 1 s: Connection refused"));
  EXPECT_TRUE(form.pnlNotice->isVisible());
  EXPECT_EQ(form.lblNotice->text(), form.Notices().join('\n'));
  form.btnDismissNotice->click();
  EXPECT_TRUE(form.Notices().isEmpty());
  EXPECT_FALSE(form.pnlNotice->isVisible());
}

// Qt adds the application's display name to every window title the desktop shows; the
// program sets none, so the caption is the version alone.
TEST(Window, CaptionIsTheVersionAlone) {
  test::TFormEnvironment env;
  const QString name = QGuiApplication::applicationName();
  SetUpApplication();
  TMainForm form(env.Setup());
  form.show();
  ASSERT_NE(form.windowHandle(), nullptr);
  EXPECT_EQ(form.windowTitle(), Caption());
  // The one release the login, --version and the packages say too.
  EXPECT_EQ(Caption(), QStringLiteral("Quillmark v") + QLatin1String(version::ReleaseText));
  EXPECT_EQ(form.windowHandle()->title(), Caption());
  EXPECT_EQ(QGuiApplication::applicationName(), QStringLiteral("Quillmark"));
  // Unset, the display name falls back to the name and the platform adds nothing.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
  QGuiApplication::setApplicationName(name);
}

}  // namespace
}  // namespace qm

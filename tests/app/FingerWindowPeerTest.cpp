// The window against a real Finger server: efingerd behind socat on loopback, started by
// scripts/finger-peer.sh. Its canned reply quotes the query and keeps the script's line
// ends (CR LF when the name holds "CRLF", LF otherwise); efingerd adds one CR LF at the end.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "tests/app/FingerWindowSupport.h"
#include "tests/app/FormTestEnvironment.h"

namespace qm {
namespace {

int PeerPort() {
  const char* port = std::getenv("QM_FINGER_PORT");
  if (port == nullptr)
    throw std::runtime_error("QM_FINGER_PORT is not set; run through scripts/finger-peer.sh");
  return std::atoi(port);
}

// Warnings for OK wanted, their full texts printed, fetched from the peer.
void AlertsFromThePeer(TMainForm& form) {
  test::WantAlerts(form, "OK");
  form.cbNWSWarningsPrint->setChecked(true);
  form.Desk().SetFingerServer("127.0.0.1", PeerPort());
}

TEST(FingerWindowPeer, WindowPrintsAndLogsTheServersFullText) {
  const struct {
    test::TAlert alert;
    std::string reply;
    QStringList printed;  // the reply's lines on paper
  } cases[] = {
      {{"NOCALL", "NWS-WARN", "12345"},
       "Query: NOCALL123\nWWUS54 KOUN 072130\nSEVERE THUNDERSTORM WARNING\n\nEND\n\r\n",
       {"Query: NOCALL123", "WWUS54 KOUN 072130", "SEVERE THUNDERSTORM WARNING", "", "END"}},
      {{"CRLF-5", "NWS-WARN", "987"},
       "Query: CRLF-5987\r\nWWUS54 KOUN 072130\r\nTORNADO WARNING\r\n\r\nEND\r\n\r\n",
       {"Query: CRLF-5987", "WWUS54 KOUN 072130", "TORNADO WARNING", "", "END"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.alert.Source);
    test::TFormEnvironment env;
    TMainForm form(env.Setup());
    AlertsFromThePeer(form);
    test::HandleAlert(form, *env.Host, c.alert);

    const QStringList lines = form.MessageLines();
    ASSERT_EQ(lines.size(), 3);
    QStringList expected{lines[0].simplified(), lines[2].simplified(), QString()};
    expected += c.printed;
    EXPECT_EQ(test::PdfLines(env.PdfFile()), test::Joined(expected));
    // The reply's own lines, efingerd's closing empty line, and the four of the heading.
    EXPECT_EQ(form.Desk().LastPrinted().Lines, 4 + static_cast<int>(c.printed.size()) + 1);
    const std::string log = test::ReadLog(form);
    const std::size_t replyAt = log.find("> " + test::AsLogged(c.reply) + "\r\n");
    EXPECT_NE(replyAt, std::string::npos) << log;
    EXPECT_LT(replyAt, log.find("> " + c.alert.PacketLine() + "\r\n"));
  }
}

// efingerd drips the reply of a "DRIP" query: the window's events run during the fetch (a
// timer fires), and a packet that comes meanwhile waits its turn, so entries and log lines
// come out in order.
TEST(FingerWindowPeer, APacketDuringASlowFetchWaitsWhileTheWindowRunsOn) {
  test::TFormEnvironment env;
  TMainForm form(env.Setup());
  AlertsFromThePeer(form);
  const test::TAlert slow{"DRIP", "NWS-WARN", "1"}, next{"NOCALL", "NWS-WARN", "2"};
  const std::string slowReply = "Query: DRIP1\nDRIP 1\nDRIP 2\nDRIP 3\n\r\n";
  int ticksDuringFetch = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!form.Desk().Idle() && ++ticksDuringFetch == 1) env.Host->Deliver("*12:00:01 " + next.PacketLine());
  });
  timer.start(10);
  test::HandleAlert(form, *env.Host, slow);
  timer.stop();

  EXPECT_GE(ticksDuringFetch, 1);
  const QStringList lines = form.MessageLines();
  ASSERT_EQ(lines.size(), 6);
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral("{1")) && lines[5].endsWith(QStringLiteral("{2")))
      << test::Joined(lines);
  const std::string log = test::ReadLog(form);
  const std::size_t order[] = {log.find("> " + test::AsLogged(slowReply) + "\r\n"),
                               log.find("> " + slow.PacketLine() + "\r\n"), log.find("> Query: NOCALL2"),
                               log.find("> " + next.PacketLine() + "\r\n")};
  EXPECT_EQ(std::count(std::begin(order), std::end(order), std::string::npos), 0) << log;
  EXPECT_TRUE(std::is_sorted(std::begin(order), std::end(order))) << log;
}

}  // namespace
}  // namespace qm

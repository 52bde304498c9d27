// The desk on a KISS TNC with its store in DATADIR, for the sweep that kills it in the middle
// of a sending schedule (three tries, 10 s and 20 s apart, a second lasting 20 ms), its own
// traffic listed. With "send"
// it sends one message; either way it ends once no message of its own is being sent, saying
// how each ended.
//
// send_kill_child PORT DATADIR [send]
#include <QTimer>
#include <cstdio>
#include <string>

#include "host/KissTcpHostLink.h"
#include "tests/support/DeskRig.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s PORT DATADIR [send]\n", argv[0]);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  qm::test::TDeskRig rig;
  rig.Setup.DataDir = argv[2];
  rig.Setup.SendSecond = std::chrono::milliseconds(20);
  rig.Choices.Selection.StationCall = "Q1ABC-7";
  rig.Choices.SendTries = 3;
  rig.Choices.SendFirstGapSeconds = 10;
  rig.Choices.OwnTraffic = true;
  rig.Make();
  qm::TKissTcpHostLink link(qm::test::AnsweringKissSettings(std::stoi(argv[1])));
  QObject::connect(&link, &qm::THostLink::DataReady, [&] { rig.Desk->DataAvailable(link); });
  rig.Desk->LogOutages(link);
  const auto endIfDone = [&] {
    for (const qm::TSentMessage& sent : rig.Desk->SentMessages())
      if (sent.State == qm::ssSending) return;
    for (const qm::TSentMessage& sent : rig.Desk->SentMessages())
      std::printf("%s %d\n", qm::SentStateName(sent.State), sent.Tries);
    std::printf("ended\n");
    QCoreApplication::exit();
  };
  QObject::connect(rig.Desk.get(), &qm::TMessageDesk::SentChanged, endIfDone);
  QObject::connect(&link, &qm::THostLink::StateChanged, [&](const QString& state) {
    if (state != QStringLiteral("Connected")) return;
    // Once the link has taken its state: it answers from then on.
    QTimer::singleShot(0, [&] {
      if (argc != 4) return endIfDone();  // after the restored messages' first turn
      try {
        rig.Desk->Send("K2XYZ-9", "Roger, 20 cots");
      } catch (const qm::ESendRefused& e) {
        std::printf("refused: %s\n", e.what());
        QCoreApplication::exit(1);
      }
    });
  });
  link.Start();
  return QCoreApplication::exec();
}

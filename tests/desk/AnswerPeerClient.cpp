// The desk on a real KISS TNC with answering on: it waits for a message to Q1ABC-7 that the
// TNC decodes from the air and ends once it has handed the acknowledgement to the TNC. Used by
// the Direwolf acknowledgement peer test, which then decodes what Direwolf transmitted.
//
// answer_peer_client PORT TIMEOUT_MS
#include <QTimer>
#include <cstdio>
#include <string>

#include "host/KissTcpHostLink.h"
#include "tests/support/DeskRig.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PORT TIMEOUT_MS\n", argv[0]);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  qm::test::TDeskRig rig;
  rig.Choices.Selection.StationCall = "Q1ABC-7";
  rig.Make();
  qm::THostSettings settings = qm::test::AnsweringKissSettings(std::stoi(argv[1]));
  settings.RetryFirstMs = 50;
  qm::TKissTcpHostLink link(settings);
  QObject::connect(&link, &qm::THostLink::StateChanged,
                   [](const QString& s) { std::printf("state: %s\n", qPrintable(s)); });
  QObject::connect(&link, &qm::THostLink::DataReady, [&] { rig.Desk->DataAvailable(link); });
  int rc = 1;
  QObject::connect(rig.Desk.get(), &qm::TMessageDesk::HintChanged,
                   [](const QString& hint) { std::printf("hint: %s\n", qPrintable(hint)); });
  // The acknowledgement is written to the TNC (or fails) once the message is kept, right after
  // its listing and log line: looked for once the listing's step is over.
  QObject::connect(rig.Desk.get(), &qm::TMessageDesk::EntryListed, [&] {
    QTimer::singleShot(0, [&] {
      const QString log = rig.Log();
      rc = log.contains(QStringLiteral("Acknowledged K2XYZ-9's message 12 on KISS 127.0.0.1:")) ? 0 : 1;
      std::printf("%s", qPrintable(log));
      QCoreApplication::exit();
    });
  });
  QTimer::singleShot(std::stoi(argv[2]), [] {
    std::printf("FAIL timed out\n");
    QCoreApplication::exit();
  });
  link.Start();
  QCoreApplication::exec();
  std::printf("%s\n", rc == 0 ? "PASS acknowledged" : "FAIL not acknowledged");
  return rc;
}

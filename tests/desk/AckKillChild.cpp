// The desk on a KISS TNC with answering on and its store in DATADIR, for the test that kills
// it while its commits wait on the disk. Runs until killed.
//
// ack_kill_child PORT DATADIR
#include <cstdio>
#include <string>

#include "host/KissTcpHostLink.h"
#include "tests/support/DeskRig.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PORT DATADIR\n", argv[0]);
    return 2;
  }
  qm::test::TDeskRig rig;
  rig.Setup.DataDir = argv[2];
  // The real clocks: the acknowledgements' pace counts real time.
  rig.Setup.Ticks = [] { return qm::TickCount32(); };
  rig.Setup.Clock = [](qm::TTimeFormat f) { return qm::CurrentDateTime(f); };
  rig.Choices.Selection.StationCall = "Q1ABC-7";
  rig.Make();
  qm::TKissTcpHostLink link(qm::test::AnsweringKissSettings(std::stoi(argv[1])));
  QObject::connect(&link, &qm::THostLink::DataReady, [&] { rig.Desk->DataAvailable(link); });
  rig.Desk->LogOutages(link);
  link.Start();
  return QCoreApplication::exec();
}

// Listens to a KISS TNC through the host link and checks that every packet of a list arrives,
// in order, as the window's intake expects it. Used by the Direwolf peer tests.
//
// kiss_peer_client PORT|DEVICE PACKETS_FILE TIMEOUT_MS [ROUNDS]
// A TCP port number, or a serial device's path. PACKETS_FILE: one packet a line,
// "sent<TAB>expected" (expected defaults to sent). With ROUNDS, the list arrives that many
// times, each round over a connection of its own: the TNC goes away between rounds.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host/HostLink.h"
#include "tests/host/TestIntake.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // The peer script follows the states and packets as they come.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s PORT|DEVICE PACKETS_FILE TIMEOUT_MS [ROUNDS]\n", argv[0]);
    return 2;
  }
  std::vector<std::string> expected;
  std::ifstream file(argv[2]);
  for (std::string line; std::getline(file, line);) {
    if (line.empty()) continue;
    const auto tab = line.find('\t');
    expected.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
  }
  if (expected.empty()) {
    std::fprintf(stderr, "kiss_peer_client: no packets in %s\n", argv[2]);
    return 2;
  }
  const std::size_t rounds = argc == 5 ? std::stoul(argv[4]) : 1;
  const std::size_t total = expected.size() * rounds;

  qm::THostSettings settings;
  const std::string where = argv[1];
  if (where.find('/') != std::string::npos) {
    settings.Transport = qm::THostSettings::htKissSerial;
    settings.SerialDevice = where;
  } else {
    settings.Transport = qm::THostSettings::htKissTcp;
    settings.Port = std::stoi(where);
  }
  settings.RetryFirstMs = 50;
  settings.RetryMaxMs = 200;
  auto link = qm::CreateHostLink(settings);
  std::size_t received = 0;
  std::size_t connections = 0;
  int failures = 0;
  QObject::connect(link.get(), &qm::THostLink::StateChanged, [&](const QString& s) {
    std::printf("state: %s\n", qPrintable(s));
    connections += s == QStringLiteral("Connected");
  });
  QObject::connect(link.get(), &qm::THostLink::DataReady, [&] {
    const std::string text = link->PacketText();
    std::printf("packet: %s\n", text.c_str());
    const std::size_t round = received / expected.size();
    if (received >= total) {
      std::printf("FAIL unexpected extra packet\n");
      ++failures;
    } else if (auto error = qm::test::StationFormError(text, expected[received % expected.size()], true);
               !error.empty()) {
      std::printf("FAIL packet %zu: %s\n", received + 1, error.c_str());
      ++failures;
    } else if (connections != round + 1) {
      std::printf("FAIL packet %zu of round %zu arrived on connection %zu\n", received + 1, round + 1,
                  connections);
      ++failures;
    }
    if (++received == total) QTimer::singleShot(0, &app, [&] { app.exit(failures ? 1 : 0); });
  });
  QTimer::singleShot(std::stoi(argv[3]), &app, [&] {
    std::printf("FAIL timed out with %zu of %zu packets\n", received, total);
    app.exit(1);
  });
  link->Start();
  const int rc = app.exec();
  std::printf("%s: %zu of %zu packets as expected\n", rc == 0 ? "PASS" : "FAIL", received - failures, total);
  return rc;
}

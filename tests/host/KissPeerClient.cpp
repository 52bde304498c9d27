// Listens to a KISS TNC through the host link and checks that every packet of a list arrives,
// in order, as the window's intake expects it. Used by the Direwolf peer test.
//
// kiss_peer_client PORT PACKETS_FILE TIMEOUT_MS
// PACKETS_FILE: one packet a line, "sent<TAB>expected" (expected defaults to sent).
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
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PORT PACKETS_FILE TIMEOUT_MS\n", argv[0]);
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

  qm::THostSettings settings;
  settings.Transport = qm::THostSettings::htKissTcp;
  settings.Port = std::stoi(argv[1]);
  settings.RetryFirstMs = 50;
  settings.RetryMaxMs = 200;
  auto link = qm::CreateHostLink(settings);
  std::size_t received = 0;
  int failures = 0;
  QObject::connect(link.get(), &qm::TclsUIV::StateChanged,
                   [](const QString& s) { std::printf("state: %s\n", qPrintable(s)); });
  QObject::connect(link.get(), &qm::TclsUIV::OnDataAvailable, [&] {
    const std::string text = link->PacketText();
    std::printf("packet: %s\n", text.c_str());
    if (received >= expected.size()) {
      std::printf("FAIL unexpected extra packet\n");
      ++failures;
    } else if (auto error = qm::test::StationFormError(text, expected[received], true); !error.empty()) {
      std::printf("FAIL packet %zu: %s\n", received + 1, error.c_str());
      ++failures;
    }
    if (++received == expected.size()) QTimer::singleShot(0, &app, [&] { app.exit(failures ? 1 : 0); });
  });
  QTimer::singleShot(std::stoi(argv[3]), &app, [&] {
    std::printf("FAIL timed out with %zu of %zu packets\n", received, expected.size());
    app.exit(1);
  });
  link->Start();
  const int rc = app.exec();
  std::printf("%s: %zu of %zu packets as expected\n", rc == 0 ? "PASS" : "FAIL", received - failures,
              expected.size());
  return rc;
}

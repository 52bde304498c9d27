// Two real sources at once: Direwolf over KISS TCP (the radio) and a loopback APRS-IS server
// that passes on the same packets once the radio has heard the first, plus one that only it
// heard. Runs the unattended desk on both and checks that each wanted message is listed and
// logged once. Run by scripts/direwolf-peer.sh:
//
// sources_peer_client PORT PACKETS_FILE TIMEOUT_MS
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "run/Unattended.h"
#include "tests/support/LogFiles.h"
#include "tests/support/LoopbackServer.h"

namespace {

int Run(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PORT PACKETS_FILE TIMEOUT_MS\n", argv[0]);
    return 2;
  }
  std::vector<std::string> sent;
  std::ifstream file(argv[2]);
  for (std::string line; std::getline(file, line);)
    if (!line.empty()) sent.push_back(line.substr(0, line.find('\t')));
  const std::string onlyHere = "W1ABC-7>APRS,TCPIP*,qAC,T2::N0CALL-5 :Water on route 9{3";

  std::mutex mutex;
  std::condition_variable radioHeard;
  bool heard = false;
  qm::test::TLoopbackServer server([&](int fd) {
    qm::test::SendAll(fd, "# aprsc 2.1.14\r\n");
    {
      std::unique_lock lock(mutex);
      radioHeard.wait(lock, [&] { return heard; });
    }
    for (const std::string& line : sent) qm::test::SendAll(fd, line + "\r\n");
    qm::test::SendAll(fd, onlyHere + "\r\n");
    qm::test::ReadToEnd(fd);
  });
  const auto tellServer = [&] {
    const std::lock_guard lock(mutex);
    heard = true;
    radioHeard.notify_all();
  };

  QTemporaryDir dir;
  const std::string ini = dir.filePath("Quillmark.ini").toStdString();
  std::ofstream(ini) << "[Connection]\nTransport=kiss-tcp\nServer=127.0.0.1\nPort=" << argv[1]
                     << "\nCallsign=N0CALL-5\n[Connection2]\nTransport=aprs-is\nServer=127.0.0.1\nPort="
                     << server.Port() << "\nCallsign=N0CALL-5\n";
  int failures = 0;
  {
    qm::TUnattendedDesk unattended({ini, dir.path().toStdString(), {}});
    qm::TMessageDesk& desk = unattended.Desk();
    const std::size_t total = 2 * sent.size() + 1;
    // The count, not each packet: packets read in one go are told of once.
    QObject::connect(&desk, &qm::TMessageDesk::PacketHeard, &app, [&] {
      tellServer();
      if (desk.PacketsHeard() >= total) QTimer::singleShot(0, &app, [&] { app.exit(0); });
    });
    QTimer::singleShot(std::stoi(argv[3]), &app, [&] {
      std::printf("FAIL timed out with %llu of %zu packets\n",
                  static_cast<unsigned long long>(desk.PacketsHeard()), total);
      app.exit(1);
    });
    failures += QGuiApplication::exec();
    tellServer();  // a server still waiting lets go
    QCoreApplication::sendPostedEvents(&desk);
    // Listed once their commits came back.
    const QDeadlineTimer settled(10000);
    while (!desk.Settled() && !settled.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QStringList listed = desk.ListedLines();
    std::printf("listed:\n%s\n", qPrintable(listed.join('\n')));
    if (listed.size() != 9) {
      std::printf("FAIL %lld lines listed, not 9 (three messages)\n", static_cast<long long>(listed.size()));
      ++failures;
    }
  }
  // The desk is gone: its log is written to the end.
  const QString log = qm::test::LogText(dir.path());
  std::printf("log:\n%s\n", qPrintable(log));
  for (const char* body :
       {":Shelter open at the school{1", ":Bring cots to the school{2", ":Water on route 9{3"}) {
    const auto times = qm::test::TimesLogged(log, "W1ABC-7", body);
    if (times != 1) {
      std::printf("FAIL %s logged %lld times\n", body, static_cast<long long>(times));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::printf("FAIL %s\n", e.what());
    return 1;
  }
}

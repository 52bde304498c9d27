// A window under test: its settings and logs in a folder of its own, a host link the
// test drives by hand, and print jobs written to a PDF file instead of a printer.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <string>

#include "app/MainForm.h"
#include "host/HostLink.h"
#include "tests/support/QtTestApp.h"

namespace qm::test {

// A host link that hands over whatever the test gives it.
class TFakeHost : public THostLink {
 public:
  std::string PacketText() override {
    if (FailNextRead) {
      FailNextRead = false;
      throw std::runtime_error("The host could not give the packet text");
    }
    return Current;
  }
  void FillMyInfo(TOwnStation& info) override { info.SetMyCallsign(Callsign); }
  void Start() override {
    ++Starts;
    if (Absent.empty()) return;
    emit StateChanged(QString::fromStdString(Absent));
    throw EHostAbsent(Absent);
  }
  void Stop() override {}
  // The absent host comes, and with it the own station.
  void Appear(const std::string& callsign) {
    Absent.clear();
    Callsign = callsign;
    emit StateChanged(QStringLiteral("Connected"));
    emit OwnStationChanged();
  }
  // One monitored packet, in the station program's form.
  void Deliver(const std::string& hostText) {
    Current = hostText;
    emit DataReady();
  }
  void Close() { emit Closing(); }

  std::string Current;
  std::string Callsign = "nocall-9";
  bool FailNextRead = false;
  int Starts = 0;
  std::string Absent;  // non-empty: Start says this and waits for Appear
};

// Lets queued events run until the condition holds or the deadline passes.
inline bool WaitFor(const std::function<bool()>& condition, int deadlineMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > deadlineMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

struct TFormEnvironment {
  TFormEnvironment() { App(); }

  // The setup of a window in this environment; Host points at its host link once made.
  TMainFormSetup Setup() {
    TMainFormSetup s;
    s.IniFile = (Dir.path() + QStringLiteral("/Quillmark.ini")).toStdString();
    s.LogDir = Dir.path().toStdString();
    s.CreateHost = [this](const THostSettings& settings) {
      HostSettings = settings;
      auto host = std::make_unique<TFakeHost>();
      if (!HostAbsent.empty() && settings.Transport != THostSettings::htReplay) {
        host->Absent = HostAbsent;
        host->Callsign.clear();
      }
      Host = host.get();
      return std::unique_ptr<THostLink>(std::move(host));
    };
    s.Printers = TPrinterList{{QStringLiteral("Test-PDF")}, QStringLiteral("Test-PDF")};
    s.PrintToFile = PdfFile();
    s.ReportError = [this](const QString& m) { Errors << m; };
    s.TrayAvailable = [] { return true; };
    s.Beep = [this] { ++Beeps; };
    s.Ticks = [this] { return Tick; };
    s.AskPrintOnClose = [this] { return Answer; };
    return s;
  }
  QString PdfFile() const { return Dir.path() + QStringLiteral("/printed.pdf"); }
  std::string IniFile() const { return (Dir.path() + QStringLiteral("/Quillmark.ini")).toStdString(); }

  QTemporaryDir Dir;
  TFakeHost* Host = nullptr;
  THostSettings HostSettings;
  std::string HostAbsent;  // non-empty: every source but a replay is not there yet
  QStringList Errors;
  int Beeps = 0;
  std::uint32_t Tick = 100000;
  QMessageBox::StandardButton Answer = QMessageBox::Cancel;
};

}  // namespace qm::test

// A message desk with no window: packets handed to it as a host link would, what it signals
// kept for the test, pages written to one PDF file (or to a real printer), its clocks set by
// the test.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QStringList>

#include <memory>
#include <string>

#include "desk/MessageDesk.h"
#include "host/HostSettings.h"
#include "parse/HostIntake.h"
#include "tests/support/DeskParts.h"
#include "tests/support/TempDir.h"

namespace qm::test {

// One GUI application without widgets per test program (or the one a window test made): print
// jobs lay out fonts.
inline QGuiApplication& GuiApp() {
  // A test program of the window has its QApplication already.
  if (auto* existing = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return *existing;
  static int argc = 1;
  static char name[] = "quillmark-desk-test";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);  // never torn down at exit
  return *app;
}

// The 9-character addressee field.
inline std::string AddresseeField(const std::string& addressee) {
  std::string f = addressee;
  f.resize(9, ' ');
  return f;
}

// One APRS text message as a host hands it over (marker character first).
inline std::string HostMessage(const std::string& from, const std::string& to, const std::string& text,
                               const std::string& path = ",WIDE1-1") {
  return "*" + from + ">APRS" + path + "::" + AddresseeField(to) + ":" + text;
}

// Lets queued calls run until nothing waits on the desk (commits and full texts came back);
// false after `ms`.
inline bool SettleDesk(const TMessageDesk& desk, int ms = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!desk.Settled()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

struct TDeskRig {
  TDeskRig() { GuiApp(); }

  // A desk on this rig's folder, started as the window starts it; a second call is the next
  // start of the program on the same folder.
  TMessageDesk& Make() {
    Desk.reset();
    TDeskSetup s = Setup;
    if (s.DataDir.empty()) s.DataDir = Dir.Path().string();
    if (!s.Ticks) s.Ticks = [this] { return Tick; };
    if (!s.Clock) s.Clock = [this](TTimeFormat f) { return f == tfLocal ? Local : Utc; };
    if (!UsePrinter) {
      s.Printers = TPrinterList{{QStringLiteral("Test-PDF")}, QStringLiteral("Test-PDF")};
      s.PrintToFile = PdfFile();
    }
    Desk = std::make_unique<TMessageDesk>(std::move(s));
    QObject::connect(Desk.get(), &TMessageDesk::CountChanged, [this](const QString& t) { Count = t; });
    QObject::connect(Desk.get(), &TMessageDesk::HintChanged, [this](const QString& t) { Hint = t; });
    QObject::connect(Desk.get(), &TMessageDesk::FailureToReport,
                     [this](const QString& t, bool) { Failures << t; });
    QObject::connect(Desk.get(), &TMessageDesk::BeepRequested, [this] { ++Beeps; });
    QObject::connect(Desk.get(), &TMessageDesk::EndRequested, [this] { ++Ended; });
    Desk->CreateLogger();
    Desk->OpenStore();
    Desk->RestoreListed();
    Desk->SetChoices(Choices);
    Desk->SetReady();
    return *Desk;
  }
  // Changed choices reach the desk as the window hands them over.
  void Choose() { Desk->SetChoices(Choices); }

  // Handed over as the event queue would deliver it; returns once it is judged and, if
  // wanted, listed (its commit and full text came back), or after 30 s.
  void Send(const std::string& hostText) {
    Desk->Take(ParseAprsPacket(IntakePacketLine(hostText), Tick, Utc));
    Settle();
  }
  // As SettleDesk; the test may destroy the desk meanwhile.
  bool Settle(int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (Desk && !Desk->Settled()) {
      if (timer.elapsed() > ms) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
  }
  void SendBulletin(int n) { Send(HostMessage("N0CALL", "BLN1", "Bulletin " + std::to_string(n))); }

  int Entries() const { return static_cast<int>(Desk->Listed().size()); }
  QStringList Lines() const { return Desk->ListedLines(); }
  QString PdfFile() const { return QString::fromStdString(Dir.File("printed.pdf")); }
  bool Printed() const { return QFile::exists(PdfFile()); }
  // The log as written so far (all of it once the desk is gone).
  QString Log() const {
    if (Desk && TDeskParts::Logger(*Desk)) TDeskParts::Logger(*Desk)->WaitIdle(std::chrono::seconds(5));
    QString all;
    for (const QFileInfo& fi :
         QDir(QString::fromStdString(Dir.Path().string())).entryInfoList({QStringLiteral("*.log")})) {
      QFile f(fi.filePath());
      if (f.open(QIODevice::ReadOnly)) all += QString::fromLatin1(f.readAll());
    }
    return all;
  }
  int LogCount(const QString& text) const { return static_cast<int>(Log().count(text)); }

  TTempDir Dir;
  TDeskSetup Setup;
  bool UsePrinter = false;  // the system's printers instead of the PDF file
  TDeskChoices Choices;
  std::uint32_t Tick = 100000;
  TDateTime Local = 46363.75, Utc = 46363.25;  // 2026-12-07 18:00 local, 06:00 UTC
  std::unique_ptr<TMessageDesk> Desk;
  QString Count, Hint;
  QStringList Failures;
  int Beeps = 0, Ended = 0;
};

// The settings of a KISS TCP link on loopback that answers as the own test call, as the child
// desks of the kill sweeps and the answering peer use it.
inline THostSettings AnsweringKissSettings(int port) {
  THostSettings settings;
  settings.Transport = THostSettings::htKissTcp;
  settings.Server = "127.0.0.1";
  settings.Port = port;
  settings.Callsign = "Q1ABC-7";
  settings.AnswerMessages = true;
  return settings;
}

}  // namespace qm::test

// The desk with no window drops repeated bulletins and resent messages by what its store
// remembers, so the rules hold across a restart on the same data folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <string>

#include "desk/MessageDesk.h"
#include "parse/HostIntake.h"
#include "tests/support/DeskRig.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

constexpr TDateTime kStart = 46363.5;  // UTC days
constexpr double kHour = 1.0 / 24;

// One run of the desk on `dir` at UTC `utc`, as a fresh process: its ticks start anew.
struct TDeskRun {
  TDeskRun(const std::string& dir, TDateTime utc, bool options) : Utc(utc) {
    TDeskSetup s;
    s.DataDir = dir;
    s.Printers = TPrinterList{{QStringLiteral("Test-PDF")}, QStringLiteral("Test-PDF")};
    s.PrintToFile = QString::fromStdString(dir + "/printed.pdf");
    s.Ticks = [this] { return Tick; };
    s.Clock = [this](TTimeFormat) { return Utc; };
    Desk = std::make_unique<TMessageDesk>(std::move(s));
    Desk->CreateLogger();
    Desk->OpenStore();
    Desk->RestoreListed();
    TDeskChoices c;
    c.Selection.StationCall = "N0CALL-9";
    c.Selection.Bulletins = true;
    c.Selection.NwsWarnings = true;
    c.Selection.States = {{"OK", true}};
    c.PageSetting = "100";
    c.DropResent = c.BroadcastOnce = options;
    c.BroadcastHours = 12;
    Desk->SetChoices(c);
    Desk->SetReady();
  }
  // Whether the packet was listed.
  bool Listed(const std::string& text, double hoursLater) {
    Utc = Utc + hoursLater * kHour;
    Tick += static_cast<std::uint32_t>(hoursLater * 3600000) + 30000;  // past the 20 s rule
    const std::size_t before = Desk->Listed().size();
    Desk->Take(ParseAprsPacket(CleanPacketText("*" + text), Tick, Utc));
    EXPECT_TRUE(test::SettleDesk(*Desk));
    return Desk->Listed().size() > before;
  }
  TDateTime Utc;
  std::uint32_t Tick = 1000;
  std::unique_ptr<TMessageDesk> Desk;
};

const std::string kBulletin = "W5XYZ>APRS::BLN1     :Net tonight at 7";
const std::string kAlert = "WXSVR>APRS::NWS-WARN :072300z,TORNADO,OK_Z001";
const std::string kResent = "W1ABC>APRS::N0CALL-9 :are you there{7";

TEST(RepeatAcrossRestart, BulletinsAlertsAndResendsAreDroppedByTheStore) {
  test::App();
  test::TTempDir dir;
  const std::string data = dir.Path().string();
  {
    TDeskRun run(data, kStart, true);
    EXPECT_TRUE(run.Listed(kBulletin, 0));
    EXPECT_TRUE(run.Listed(kAlert, 0));
    EXPECT_TRUE(run.Listed(kResent, 0));
    EXPECT_FALSE(run.Listed(kBulletin, 1));  // an hour later, same run
    run.Desk->Close();
  }
  struct TCase {
    const char* What;
    std::string Packet;
    double HoursLater;  // after the previous one
    bool Listed;
  };
  const TCase cases[] = {
      {"the bulletin again", kBulletin, 0.1, false},
      {"the alert again", kAlert, 0, false},
      {"the resend", kResent, 0, false},
      {"the same text to another bulletin", "W5XYZ>APRS::BLN2     :Net tonight at 7", 0, true},
      {"the same text from another sender", "K5ABC>APRS::BLN1     :Net tonight at 7", 0, true},
      {"the resend past its 30 min", kResent, 0.5, true},
      {"the bulletin past its 12 h", kBulletin, 12, true},
  };
  TDeskRun run(data, kStart + 0.2 * kHour, true);
  for (const TCase& c : cases) EXPECT_EQ(run.Listed(c.Packet, c.HoursLater), c.Listed) << c.What;
  run.Desk->Close();

  // Off (the default), a restart lists them again.
  TDeskRun off(data, kStart + 13 * kHour, false);
  EXPECT_TRUE(off.Listed(kBulletin, 0.1));
  off.Desk->Close();

  QString log;
  for (const QFileInfo& f : QDir(QString::fromStdString(data)).entryInfoList({QStringLiteral("*.log")})) {
    QFile file(f.filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    log += QString::fromLatin1(file.readAll());
  }
  EXPECT_EQ(log.count(QStringLiteral("Duplicate packet: ") + QString::fromStdString(kBulletin)), 2)
      << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("Duplicate packet: ") + QString::fromStdString(kResent)));
}

}  // namespace
}  // namespace qm

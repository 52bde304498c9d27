// A packet source whose host is not there yet (the station program not running): said once in
// a box and on the Connection page, taken when it comes; a first start plays the demo instead.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "store/MessageStore.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

using test::WaitFor;
using TTransports = std::vector<THostSettings::TTransport>;

// As long as the station program's own text, which the page must show whole.
constexpr const char* kAbsent =
    "The station program is not running. Start it and Quillmark attaches to it; or choose another "
    "source on the Connection page.";
const QString kAbsentText = QString::fromLatin1(kAbsent);

// A window whose platform default is the station program, which is not running; the replay
// it may fall back on is the real one.
struct THostWait {
  test::TFormEnvironment env;
  TTransports made;  // the transports asked for, in order

  explicit THostWait(bool settingsFile) {
    env.HostAbsent = kAbsent;
    if (settingsFile) std::ofstream(env.IniFile(), std::ios::binary) << "[Info]\r\nVersion=1.3.3.1\r\n";
  }
  TMainFormSetup Setup() {
    TMainFormSetup setup = env.Setup();
    setup.DefaultTransport = THostSettings::htStationProgram;
    setup.CreateHost = [this, fake = setup.CreateHost](const THostSettings& s) {
      made.push_back(s.Transport);
      return s.Transport == THostSettings::htReplay ? CreateHostLink(s) : fake(s);
    };
    return setup;
  }
};

void ExpectWaiting(const TMainForm& form, const test::TFormEnvironment& env) {
  EXPECT_EQ(env.Errors, QStringList{kAbsentText});
  EXPECT_EQ(form.lblConnectionState->text(), kAbsentText);
  EXPECT_EQ(form.LinkStatusText(), kAbsentText + QStringLiteral(" \u2014 no packets yet"));
  EXPECT_EQ(form.lblStationCall->text(), QStringLiteral("[NOCALL]"));
}

TEST(HostWait, AFirstStartWithNothingChosenPlaysTheDemoElseTheSourceIsWaitedFor) {
  struct TCase {
    const char* Name;
    bool SettingsFile;
    std::optional<THostSettings::TTransport> CommandLine;
    TTransports Made;
  } cases[] = {
      {"first start", false, std::nullopt, {THostSettings::htStationProgram, THostSettings::htReplay}},
      {"first start, source on the command line",
       false,
       THostSettings::htStationProgram,
       {THostSettings::htStationProgram}},
      {"a later start", true, std::nullopt, {THostSettings::htStationProgram}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    THostWait wait(c.SettingsFile);
    TMainFormSetup setup = wait.Setup();
    setup.Options.Transport = c.CommandLine;
    TMainForm form(setup);
    form.show();  // asks the host for the own call again
    EXPECT_EQ(wait.made, c.Made);
    if (wait.made.back() == THostSettings::htReplay) {
      EXPECT_TRUE(wait.env.Errors.isEmpty()) << wait.env.Errors.join("; ").toStdString();
      EXPECT_EQ(static_cast<THostSettings::TTransport>(form.cbxTransport->currentData().toInt()),
                THostSettings::htReplay);
      EXPECT_EQ(wait.env.HostSettings.Transport, THostSettings::htStationProgram);  // only the fake's
      EXPECT_TRUE(form.lblSourceNote->text().contains(QStringLiteral("Demo traffic")))
          << form.lblSourceNote->text().toStdString();
      EXPECT_EQ(form.FStationCall, "Q0DEMO-9");
    } else {
      ExpectWaiting(form, wait.env);
    }
  }
}

TEST(HostWait, ASourceChosenWithApplyIsWaitedForEvenOnAFirstStart) {
  THostWait wait(false);
  TMainForm form(wait.Setup());
  ASSERT_EQ(wait.made.back(), THostSettings::htReplay);
  form.cbxTransport->setCurrentIndex(form.cbxTransport->findData(static_cast<int>(THostSettings::htKissTcp)));
  form.btnApplyConnection->click();
  EXPECT_EQ(wait.made, (TTransports{THostSettings::htStationProgram, THostSettings::htReplay,
                                    THostSettings::htKissTcp}));
  ExpectWaiting(form, wait.env);
}

// Choosing a source with Apply while the first start's demo plays takes the demo's entries
// off the list; the demo left nothing in the store, and the next page holds real ones only.
TEST(HostWait, ApplyingASourceDuringTheDemoLeavesOnlyRealMessages) {
  THostWait wait(false);
  TMainForm form(wait.Setup());
  ASSERT_TRUE(form.Desk().PlaysDemo());
  ASSERT_TRUE(WaitFor([&] { return form.MessageLineCount() >= 3; }, 20000)) << "no demo entry listed";
  form.cbxTransport->setCurrentIndex(form.cbxTransport->findData(static_cast<int>(THostSettings::htKissTcp)));
  form.btnApplyConnection->click();
  EXPECT_FALSE(form.Desk().PlaysDemo());
  EXPECT_EQ(form.MessageLineCount(), 0) << form.MessageLines().join('|').toStdString();
  EXPECT_TRUE(form.Desk().Listed().empty());
  ASSERT_NE(form.Desk().HistoryReader(), nullptr);
  EXPECT_EQ(form.Desk().HistoryReader()->FindMessages(THistoryFilter{}).size(), 0u);

  wait.env.Host->Appear("n0call-7");
  wait.env.Host->Deliver("*W1ABC>APRS,WIDE1-1::N0CALL-7 :Real traffic{1");
  ASSERT_TRUE(WaitFor([&] { return form.MessageLineCount() == 3; }));
  form.btnPrintNow->click();
  ASSERT_TRUE(WaitFor([&] { return form.Desk().Listed().empty(); }));
  const QString page = test::PdfText(wait.env.PdfFile());
  EXPECT_TRUE(page.contains(QStringLiteral("Real traffic"))) << page.toStdString();
  EXPECT_FALSE(page.contains(QStringLiteral("Q0DEMO"))) << page.toStdString();
}

TEST(HostWait, TheHostThatComesLaterIsTakenWithoutAnotherBox) {
  THostWait wait(true);
  TMainForm form(wait.Setup());
  form.PageControl1->setCurrentWidget(form.tsConnection);
  form.show();
  ExpectWaiting(form, wait.env);
  // The whole state shows on the page: on one line, or wrapped to its width.
  const QLabel* state = form.lblConnectionState;
  const auto whole = [state] {
    return state->isVisible() &&
           (state->fontMetrics().horizontalAdvance(state->text()) <= state->contentsRect().width() ||
            (state->wordWrap() && state->height() >= state->heightForWidth(state->width())));
  };
  EXPECT_TRUE(WaitFor(whole));
  ASSERT_NE(wait.env.Host, nullptr);
  ASSERT_EQ(form.clsUIV1, wait.env.Host);  // kept, to attach by itself

  wait.env.Host->Appear("n0call-7");
  EXPECT_EQ(form.lblConnectionState->text(), QStringLiteral("Connected"));
  EXPECT_EQ(form.FStationCall, "N0CALL-7");
  EXPECT_EQ(form.lblStationCall->text(), QStringLiteral("[N0CALL-7]"));
  wait.env.Host->Deliver("*W1ABC>APRS,WIDE1-1::N0CALL-7 :Hello{1");
  EXPECT_TRUE(WaitFor([&] { return form.MessageLineCount() == 3; }));
  EXPECT_EQ(wait.env.Errors.size(), 1);
}

}  // namespace
}  // namespace qm

// The alarms as the window shows them: the banner and the tray follow what the desk says, the
// window acknowledges as the account it runs for, and --alarm chooses for one run only.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <fstream>
#include <memory>
#include <string>

#include "app/AlarmBanner.h"
#include "app/MainForm.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

struct AlarmWindow : public ::testing::Test {
  void Make(TMainFormSetup s) {
    s.AlarmSound = [this] { ++Sounds; };
    form = std::make_unique<TMainForm>(std::move(s));
    // The desk's start ends in a queued step; choices changed before it would be overwritten.
    ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Idle(); }));
  }
  // A bulletin from N0CALL; with bulletins kept and alarming it raises an alarm.
  void SendBulletin(const std::string& text) {
    const std::size_t before = form->Desk().Alarms().size();
    env.Host->Deliver("*N0CALL>APRS,WIDE1-1::BLN1     :" + text);
    ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Alarms().size() > before; })) << text;
  }
  bool BannerShown() const { return form->AlarmBanner->isVisibleTo(form.get()); }

  test::TFormEnvironment env;
  std::unique_ptr<TMainForm> form;
  int Sounds = 0;
};

TEST_F(AlarmWindow, TheBannerShowsTheNewestAndGoesWhenAcknowledgedElsewhere) {
  Make(env.Setup());
  form->cbBull->setChecked(true);
  form->cbAlarmBull->setChecked(true);
  const QImage plain = form->FTrayIcon->icon().pixmap(22).toImage();
  SendBulletin("Net tonight at 2000");
  EXPECT_TRUE(BannerShown());
  EXPECT_EQ(form->AlarmBanner->lblAlarm->toolTip(),
            QStringLiteral("Bulletin from N0CALL to BLN1: Net tonight at 2000"));
  EXPECT_FALSE(form->AlarmBanner->lblMore->isVisibleTo(form.get()));
  EXPECT_TRUE(form->miAcknowledgeAlarms->isVisible());
  EXPECT_NE(form->FTrayIcon->icon().pixmap(22).toImage(), plain);
  EXPECT_EQ(Sounds, 1);  // at once, not only at the first repeat

  SendBulletin("Net moved to 2100");
  EXPECT_EQ(form->AlarmBanner->lblAlarm->toolTip(),
            QStringLiteral("Bulletin from N0CALL to BLN1: Net moved to 2100"));
  EXPECT_EQ(form->AlarmBanner->lblMore->text(), QStringLiteral("1 more"));
  EXPECT_EQ(Sounds, 2);
  emit form->Desk().AlarmDue();
  EXPECT_EQ(Sounds, 3);

  // Acknowledged on the board: the window lets go of it as the desk says.
  QSignalSpy changed(&form->Desk(), &TMessageDesk::AlarmsChanged);
  EXPECT_EQ(form->Desk().Acknowledge(std::nullopt, "alice", kAckOnBoard), 2);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_FALSE(BannerShown());
  EXPECT_FALSE(form->miAcknowledgeAlarms->isVisible());
  EXPECT_EQ(form->FTrayIcon->icon().pixmap(22).toImage(), plain);
}

TEST_F(AlarmWindow, AcknowledgedInTheWindowOneByOneOrAllFromTheTray) {
  Make(env.Setup());
  form->cbBull->setChecked(true);
  form->cbAlarmBull->setChecked(true);
  SendBulletin("First");
  SendBulletin("Second");
  const std::int64_t newest = form->AlarmBanner->ShownId();
  form->AlarmBanner->btnAcknowledge->click();
  ASSERT_EQ(form->Desk().Alarms().size(), 1u);
  EXPECT_NE(form->Desk().Alarms().front().Id, newest);
  EXPECT_EQ(form->AlarmBanner->lblAlarm->toolTip(), QStringLiteral("Bulletin from N0CALL to BLN1: First"));
  form->miAcknowledgeAlarms->trigger();
  EXPECT_TRUE(form->Desk().Alarms().empty());
  EXPECT_FALSE(BannerShown());
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(AlarmWindow, AlarmOnTheCommandLineHoldsForThisRunAndTheFileKeepsItsOwn) {
  { std::ofstream(env.IniFile(), std::ios::binary) << "[Alarms]\r\nKinds=own\r\nRepeatSeconds=60\r\n"; }
  TMainFormSetup s = env.Setup();
  s.Options.Alarms = ParseAlarmKinds("warning");
  Make(std::move(s));
  EXPECT_TRUE(form->cbAlarmWarnings->isChecked());
  EXPECT_FALSE(form->cbAlarmOwn->isChecked());
  EXPECT_FALSE(form->cbAlarmOwn->isEnabled());
  EXPECT_EQ(AlarmKindsText(form->Desk().Choices().AlarmKinds), "warning");
  form->btnSaveSettings1->click();
  TSettingsStore store(env.IniFile());
  EXPECT_EQ(AlarmKindsText(ReadDeskChoices(store).AlarmKinds), "own");
}

TEST_F(AlarmWindow, TheFirstStartOffersTheOwnStationsAlarmAndApplyKeepsIt) {
  Make(env.Setup());
  ASSERT_TRUE(form->FirstStart());
  ASSERT_TRUE(form->cbWelcomeAlarm->isVisibleTo(form.get()));
  form->cbWelcomeAlarm->click();
  EXPECT_TRUE(form->cbAlarmOwn->isChecked());
  form->btnApplyConnection->click();
  ASSERT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
  TSettingsStore store(env.IniFile());
  EXPECT_EQ(AlarmKindsText(ReadDeskChoices(store).AlarmKinds), "own");
}

}  // namespace
}  // namespace qm

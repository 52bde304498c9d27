// Alarms until acknowledged: raised for a kept message of a chosen kind, repeated while one
// sounds, restored by the next start, acknowledged one at a time or all at once; never said
// raised for a message a full disk did not keep.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSignalSpy>

#include "tests/support/DeskParts.h"
#include "tests/support/DeskRig.h"
#include "tests/support/LogFiles.h"
#include "tests/support/PrivateTmpfs.h"

namespace qm {
namespace {

void ChooseAlarms(test::TDeskRig& rig) {
  rig.Choices.Selection.StationCall = "N0CALL-5";
  rig.Choices.Selection.Bulletins = true;
  rig.Choices.Selection.UseStationList = true;
  rig.Choices.Selection.StationList = {"W2XYZ"};
  rig.Choices.AlarmKinds = ParseAlarmKinds("own,bulletin");
  rig.Choices.PrintingDisabled = true;
  rig.Setup.AlarmSecond = std::chrono::milliseconds(1);  // the shortest repeat, 10 s, lasts 10 ms
}

TEST(DeskAlarms, SoundAcrossARestartUntilAcknowledged) {
  test::TDeskRig rig;
  ChooseAlarms(rig);
  TMessageDesk& first = rig.Make();
  QSignalSpy raised(&first, &TMessageDesk::AlarmsChanged);
  rig.Send(test::HostMessage("K1ABC", "N0CALL-5", "Call me{12"));
  rig.Send(test::HostMessage("W2XYZ", "K9QRS", "listed, no alarm{3"));
  rig.SendBulletin(1);
  ASSERT_EQ(rig.Entries(), 3);
  ASSERT_EQ(first.Alarms().size(), 2u);
  EXPECT_EQ(raised.count(), 2);
  const TDeskAlarm own = first.Alarms()[0];
  EXPECT_EQ(own.Sender, "K1ABC");
  EXPECT_EQ(own.Addressee, "N0CALL-5");
  EXPECT_EQ(own.Text, "Call me");
  EXPECT_EQ(own.Kind, akOwn);
  EXPECT_EQ(own.SinceUtc, rig.Utc);
  EXPECT_EQ(first.Alarms()[1].Kind, akBulletin);
  EXPECT_EQ(rig.LogCount(QStringLiteral("Alarm (own): K1ABC to N0CALL-5: Call me")), 1);
  QSignalSpy due(&first, &TMessageDesk::AlarmDue);
  ASSERT_TRUE(due.wait(5000));

  TMessageDesk& second = rig.Make();
  ASSERT_EQ(second.Alarms().size(), 2u);
  EXPECT_EQ(second.Alarms()[0], own);
  EXPECT_TRUE(test::TDeskParts::AlarmRepeats(second));
  QSignalSpy changed(&second, &TMessageDesk::AlarmsChanged);
  EXPECT_EQ(second.Acknowledge(own.Id + 100, "alice", kAckOnBoard), 0);
  EXPECT_EQ(second.Acknowledge(own.Id, "alice", kAckOnBoard), 1);
  ASSERT_EQ(second.Alarms().size(), 1u);
  EXPECT_EQ(second.Alarms()[0].Kind, akBulletin);
  EXPECT_TRUE(test::TDeskParts::AlarmRepeats(second));
  EXPECT_EQ(second.Acknowledge(std::nullopt, "bob", kAckOnCommandLine), 1);
  EXPECT_TRUE(second.Alarms().empty());
  EXPECT_EQ(changed.count(), 2);
  EXPECT_FALSE(test::TDeskParts::AlarmRepeats(second));
  EXPECT_EQ(
      rig.LogCount(QStringLiteral("Alarm acknowledged by alice at the board: K1ABC to N0CALL-5: Call me")),
      1);
  EXPECT_EQ(rig.LogCount(QStringLiteral("Alarm acknowledged by bob at the command line: N0CALL to BLN1")), 1);

  TMessageDesk& third = rig.Make();
  EXPECT_TRUE(third.Alarms().empty());
  const TStoredMessage kept = test::TDeskParts::Store(third)->Message(own.Id);
  EXPECT_EQ(kept.Alarm, asAcknowledged);
  EXPECT_EQ(kept.AcknowledgedBy, "alice");
  EXPECT_EQ(kept.AcknowledgedWhere, "board");
  EXPECT_EQ(kept.AcknowledgedUtc, rig.Utc);
}

// The message goes on to the list while the full disk keeps it out of the file; its alarm sounds
// only once the file holds it.
TEST(DeskAlarms, AFullDiskRaisesNoAlarmUntilTheMessageIsKept) {
  test::TDeskRig rig;
  ChooseAlarms(rig);
  const std::string point = rig.Dir.File("disk");
  ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
  const test::TPrivateTmpfs disk(point, "4m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  rig.Setup.DataDir = point;
  TMessageDesk& desk = rig.Make();
  QSignalSpy raised(&desk, &TMessageDesk::AlarmsChanged);
  const std::string filler = disk.File("filler");
  ASSERT_TRUE(disk.FillUp(filler));
  rig.Send(test::HostMessage("K1ABC", "N0CALL-5", "Call me{12"));
  ASSERT_EQ(rig.Entries(), 1);
  ASSERT_TRUE(desk.StoreFailing());
  EXPECT_TRUE(desk.Alarms().empty());
  EXPECT_EQ(raised.count(), 0);

  ASSERT_EQ(::unlink(filler.c_str()), 0);
  ASSERT_TRUE(test::TDeskParts::Store(desk)->Flush());
  desk.RetryStore();
  ASSERT_EQ(desk.Alarms().size(), 1u);
  EXPECT_EQ(raised.count(), 1);
  const std::vector<TStoredMessage> sounding = test::TDeskParts::Store(desk)->Sounding();
  ASSERT_EQ(sounding.size(), 1u);
  EXPECT_EQ(sounding[0].Id, desk.Alarms()[0].Id);
}

}  // namespace
}  // namespace qm

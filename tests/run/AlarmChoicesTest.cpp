// The alarms' and the sending schedule's choices in Quillmark.ini: [Alarms] and [Sending] read
// and written, and a file from before them kept as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

// As the window wrote it before there were alarms, line ends and all.
constexpr const char* kFileBeforeAlarms =
    "[Info]\r\nVersion=1.3.3.1\r\n\r\n[Settings]\r\ncbThisStation.Checked=True\r\ncbBull.Checked=False\r\n"
    "edMsgCount.Text=20\r\n\r\n[History]\r\nDropResent=1\r\nResentMinutes=30\r\nArchivePdf=0\r\n";

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(AlarmChoices, AreReadFromTheirSectionAndAnUnreadableValueIsTheDefault) {
  test::TTempDir dir;
  struct Case {
    const char* section;
    const char* kinds;
    int seconds;
  } const cases[] = {
      {"", "", 60},
      {"[Alarms]\nKinds=own,warning\nRepeatSeconds=90\n", "own,warning", 90},
      {"[Alarms]\nKinds= Advisory , OWN,listed\nRepeatSeconds=10\n", "own,listed,advisory", 10},
      {"[Alarms]\nKinds=none\nRepeatSeconds=3600\n", "", 3600},
      // A word that is no kind (a later version's) leaves the alarms off rather than guessing.
      {"[Alarms]\nKinds=own,siren\nRepeatSeconds=9\n", "", 60},
      {"[Alarms]\nKinds=,\nRepeatSeconds=3601\n", "", 60},
      {"[Alarms]\nRepeatSeconds=ten\n", "", 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    const std::string file = dir.File("Quillmark.ini");
    WriteFile(file, c.section);
    TSettingsStore store(file);
    const TDeskChoices read = ReadDeskChoices(store);
    EXPECT_EQ(AlarmKindsText(read.AlarmKinds), c.kinds);
    EXPECT_EQ(read.AlarmRepeatSeconds, c.seconds);
  }
}

TEST(AlarmChoices, AFileFromBeforeThemIsWrittenBackByteForByteUntilOneIsChosen) {
  test::TTempDir dir;
  const std::string file = dir.File("Quillmark.ini");
  WriteFile(file, kFileBeforeAlarms);
  TSettingsStore store(file);
  TDeskChoices choices = ReadDeskChoices(store);
  EXPECT_TRUE(choices.AlarmKinds.Empty());
  WriteOptionSection(store, kHistorySection, choices);
  WriteOptionSection(store, kAlarmsSection, choices);
  EXPECT_EQ(test::ReadFileBytes(file), kFileBeforeAlarms);

  choices.AlarmKinds = ParseAlarmKinds("warning,own");
  WriteOptionSection(store, kAlarmsSection, choices);
  const std::string written = test::ReadFileBytes(file);
  EXPECT_NE(written.find("[Alarms]\r\nKinds=own,warning\r\nRepeatSeconds=60\r\n"), std::string::npos)
      << written;
  EXPECT_EQ(ReadDeskChoices(store).AlarmKinds, choices.AlarmKinds);

  // Back to no alarm: the section goes, and the file is as it was.
  choices.AlarmKinds = {};
  WriteOptionSection(store, kAlarmsSection, choices);
  EXPECT_EQ(test::ReadFileBytes(file), kFileBeforeAlarms);
}

// [Paper] as [Alarms]: written only while a choice differs from its default (the header
// off, the reprint's mark on), and gone again when both are back.
TEST(PaperChoices, TheirSectionIsWrittenOnlyWhileOneDiffers) {
  test::TTempDir dir;
  const std::string file = dir.File("Quillmark.ini");
  WriteFile(file, kFileBeforeAlarms);
  TSettingsStore store(file);
  TDeskChoices choices = ReadDeskChoices(store);
  EXPECT_FALSE(choices.HeaderFooter);
  EXPECT_TRUE(choices.ReprintMark);
  WriteOptionSection(store, kPaperSection, choices);
  EXPECT_EQ(test::ReadFileBytes(file), kFileBeforeAlarms);
  choices.ReprintMark = false;
  WriteOptionSection(store, kPaperSection, choices);
  const std::string written = test::ReadFileBytes(file);
  EXPECT_NE(written.find("[Paper]\r\nHeaderFooter=0\r\nReprintMark=0\r\n"), std::string::npos) << written;
  EXPECT_FALSE(ReadDeskChoices(store).ReprintMark);
  choices.ReprintMark = true;
  WriteOptionSection(store, kPaperSection, choices);
  EXPECT_EQ(test::ReadFileBytes(file), kFileBeforeAlarms);
}

// [Sending]: each number within its bounds or the default, and the section written only while
// the schedule differs from the default.
TEST(SendingChoices, AreReadWithinTheirBoundsAndWrittenOnlyWhileTheyDiffer) {
  test::TTempDir dir;
  const std::string file = dir.File("Quillmark.ini");
  struct Case {
    const char* section;
    int tries;
    int firstGap;
  } const cases[] = {
      {"", 6, 30},
      {"[Sending]\nTries=1\nFirstGapSeconds=10\n", 1, 10},
      {"[Sending]\nTries=10\nFirstGapSeconds=600\n", 10, 600},
      {"[Sending]\nTries=0\nFirstGapSeconds=9\n", 6, 30},
      {"[Sending]\nTries=11\nFirstGapSeconds=601\n", 6, 30},
      {"[Sending]\nTries=-3\nFirstGapSeconds=soon\n", 6, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    WriteFile(file, c.section);
    TSettingsStore store(file);
    const TDeskChoices read = ReadDeskChoices(store);
    EXPECT_EQ(read.SendTries, c.tries);
    EXPECT_EQ(read.SendFirstGapSeconds, c.firstGap);
  }
  WriteFile(file, kFileBeforeAlarms);
  TSettingsStore store(file);
  TDeskChoices choices = ReadDeskChoices(store);
  WriteOptionSection(store, kSendingSection, choices);
  EXPECT_EQ(test::ReadFileBytes(file), kFileBeforeAlarms);
  choices.SendTries = 3;
  WriteOptionSection(store, kSendingSection, choices);
  const std::string written = test::ReadFileBytes(file);
  EXPECT_NE(written.find("[Sending]\r\nTries=3\r\nFirstGapSeconds=30\r\n"), std::string::npos) << written;
  EXPECT_EQ(ReadOptionSection(store, kSendingSection).SendTries, 3);
  choices.SendTries = TSendSchedule::kDefaultTries;
  WriteOptionSection(store, kSendingSection, choices);
  EXPECT_EQ(test::ReadFileBytes(file), kFileBeforeAlarms);
}

}  // namespace
}  // namespace qm

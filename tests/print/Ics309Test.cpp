// The communications log: its period read from text, its rows in both directions, and what
// it writes as CSV and PDF.
#include "print/Ics309.h"
#include "tests/support/PdfTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TDateTime At(int day, int hour, int minute, int second = 0) {
  return EncodeDateTime({2026, 12, day, hour, minute, second, 0});
}

TEST(CommsLog, PeriodIsReadToTheMinuteOrRefusedWithItsReason) {
  const struct {
    const char* From;
    const char* To;
    const char* Said;  // "": taken
  } cases[] = {
      {"2026-12-10T08:00", "2026-12-10T20:00", ""},
      {"2024-02-29T23:59", "2024-03-01T00:00", ""},
      {"2026-12-10T08:00", "2026-12-10T08:00",
       "the period ends before it starts: 2026-12-10 08:00 is not after 2026-12-10 08:00"},
      {"2026-12-10T08:00", "2026-12-09T20:00",
       "the period ends before it starts: 2026-12-09 20:00 is not after 2026-12-10 08:00"},
      {"2026-02-29T08:00", "2026-12-10T08:00",
       "\"2026-02-29T08:00\" is not a time as yyyy-mm-ddThh:mm (UTC)"},
      {"2026-12-10T24:00", "2026-12-11T08:00",
       "\"2026-12-10T24:00\" is not a time as yyyy-mm-ddThh:mm (UTC)"},
      {"2026-12-10 08:00", "2026-12-11T08:00",
       "\"2026-12-10 08:00\" is not a time as yyyy-mm-ddThh:mm (UTC)"},
      {"2026-12-10T08:00", "2026-12-11T08:00:00",
       "\"2026-12-11T08:00:00\" is not a time as yyyy-mm-ddThh:mm (UTC)"},
      {"2026-12-10T08:00", "+026-12-11T08:00",
       "\"+026-12-11T08:00\" is not a time as yyyy-mm-ddThh:mm (UTC)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.From) + " " + c.To);
    TDateTime from = 0, to = 0;
    EXPECT_EQ(ReadLogPeriod(c.From, c.To, from, to).toStdString(), c.Said);
    if (*c.Said == 0) {
      EXPECT_LT(from, to);
    }
  }
  TDateTime from = 0, to = 0;
  ASSERT_TRUE(ReadLogPeriod("2026-12-10T08:00", "2026-12-10T20:30", from, to).isEmpty());
  EXPECT_DOUBLE_EQ(from, At(10, 8, 0));
  EXPECT_DOUBLE_EQ(to, At(10, 20, 30));
}

// Today is the whole UTC day; this operational period runs from the start to the end of the
// current minute, so what came this minute is in it.
TEST(CommsLog, NamedPeriods) {
  TDateTime from = 0, to = 0;
  NamedLogPeriod(lpToday, At(10, 23, 59, 59), At(9, 22, 0), from, to);
  EXPECT_EQ(MinuteText(from), QStringLiteral("2026-12-10 00:00"));
  EXPECT_EQ(MinuteText(to), QStringLiteral("2026-12-11 00:00"));
  NamedLogPeriod(lpOperational, At(10, 14, 5, 30), At(9, 22, 0, 12), from, to);
  EXPECT_DOUBLE_EQ(from, At(9, 22, 0, 12));
  EXPECT_EQ(MinuteText(to), QStringLiteral("2026-12-10 14:06"));
  EXPECT_GT(to, At(10, 14, 5, 59));
}

// Kept messages in, the desk's own out: the outgoing ones outside the period are left out
// (its end excluded), the rest fall in by time, a received one first at the same time.
TCommsLog TwoWayLog() {
  const std::vector<TLogRow> received = {
      {At(10, 8, 0), "KB1AB-7", "W1AW", "Shelter at the school, 40 cots"},
      {At(10, 9, 15, 30), "N0CALL-5", "BLN1", "Net tonight, 8 pm \"all\" welcome"},
      {At(10, 11, 0), "VE3XYZ", "W1AW",
       "Temp 72\xB0"
       "F, line one\nline two"},
  };
  const std::vector<TLogRow> outgoing = {
      {At(10, 7, 59, 59), "W1AW", "KB1AB-7", "before the period"},
      {At(10, 9, 15, 30), "W1AW", "KB1AB-7", "Roger, 20 cots on the way"},
      {At(10, 12, 0), "W1AW", "VE3XYZ", "at the period's end"},
  };
  return MakeCommsLog(QStringLiteral("W1AW"), QStringLiteral("alice"), At(10, 8, 0), At(10, 12, 0), received,
                      outgoing);
}

TEST(CommsLog, BothDirectionsInTimeOrderAsCsv) {
  const TCommsLog log = TwoWayLog();
  EXPECT_EQ(log.Received(), 3);
  EXPECT_EQ(log.Sent(), 1);
  ASSERT_EQ(log.Rows.size(), 4U);
  EXPECT_FALSE(log.Rows[1].Outgoing);
  EXPECT_TRUE(log.Rows[2].Outgoing);
  EXPECT_EQ(CommsLogCsv(log),
            "Time (UTC),From,To,Subject/Message\r\n"
            "2026-12-10 08:00,KB1AB-7,W1AW,\"Shelter at the school, 40 cots\"\r\n"
            "2026-12-10 09:15,N0CALL-5,BLN1,\"Net tonight, 8 pm \"\"all\"\" welcome\"\r\n"
            "2026-12-10 09:15,W1AW,KB1AB-7,\"Roger, 20 cots on the way\"\r\n"
            "2026-12-10 11:00,VE3XYZ,W1AW,\"Temp 72\xC2\xB0"
            "F, line one\nline two\"\r\n");
  const TCommsLog empty = MakeCommsLog({}, {}, At(10, 8, 0), At(10, 12, 0), {}, {});
  EXPECT_EQ(CommsLogCsv(empty), "Time (UTC),From,To,Subject/Message\r\n");
}

TEST(CommsLog, SavedAsPdfAndCsvNamedByThePeriod) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  QTemporaryDir dir;
  const TCommsLog log = TwoWayLog();
  const TCommsLogFiles files = SaveCommsLog(log, dir.path());
  EXPECT_EQ(files.Pdf, dir.filePath(QStringLiteral("ics309-20261210-0800-20261210-1200.pdf")));
  EXPECT_EQ(files.Csv, dir.filePath(QStringLiteral("ics309-20261210-0800-20261210-1200.csv")));
  QFile csv(files.Csv);
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().toStdString(), CommsLogCsv(log));

  const QStringList lines = test::PdfLines(files.Pdf);
  ASSERT_GE(lines.size(), 11);
  // The page's own header first, then the form's, the columns, the rows, the footer.
  EXPECT_THAT(lines[0].toStdString(), ::testing::MatchesRegex("W1AW   printed 20[0-9-]+ [0-9:]+ UTC"));
  EXPECT_THAT(test::StdLines(lines.mid(1, 9)),
              ElementsAre("COMMUNICATIONS LOG (ICS 309)", "Station: W1AW    Operator: alice",
                          "Period: 2026-12-10 08:00 to 2026-12-10 12:00 UTC", "Messages: 3 in, 1 out",
                          "Time (UTC)         From       To        Subject/Message",
                          "2026-12-10 08:00   KB1AB-7    W1AW      Shelter at the school, 40 cots",
                          "2026-12-10 09:15   N0CALL-5   BLN1      Net tonight, 8 pm \"all\" welcome",
                          "2026-12-10 09:15   W1AW       KB1AB-7   Roger, 20 cots on the way",
                          "2026-12-10 11:00   VE3XYZ     W1AW      Temp 72\xC2\xB0"
                          "F, line one line two"));
  EXPECT_EQ(lines.back(), QStringLiteral("W1AW   page 1"));

  // A long period goes on to more pages, each framed and numbered.
  TCommsLog busy = log;
  for (int i = 0; i < 200; ++i)
    busy.Rows.push_back({At(10, 10, 0), "KB1AB", "W1AW", "traffic " + std::to_string(i)});
  const TCommsLogFiles more = SaveCommsLog(busy, dir.path());
  const int pages = test::PdfPages(more.Pdf);
  ASSERT_GE(pages, 2);
  for (int page = 1; page <= pages; ++page) {
    SCOPED_TRACE(page);
    const QStringList text = test::PdfLines(more.Pdf, page, page);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_THAT(text.first().toStdString(), HasSubstr("W1AW   printed "));
    EXPECT_EQ(text.last(), QStringLiteral("W1AW   page %1").arg(page));
  }
  EXPECT_THAT(test::PdfText(more.Pdf).toStdString(), HasSubstr("traffic 199"));

  // A folder that is not there: the failure names the file, nothing is said written.
  try {
    SaveCommsLog(log, dir.filePath(QStringLiteral("gone")));
    ADD_FAILURE() << "written";
  } catch (const EPrintError& e) {
    EXPECT_THAT(e.what(),
                HasSubstr("Unable to write the log \"" + dir.filePath(QStringLiteral("gone")).toStdString()));
  }
}

}  // namespace
}  // namespace qm

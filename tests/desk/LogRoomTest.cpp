// The message log and the store on one small disk that fills and comes back: the store's
// write-ahead log must not take back the room it had, or the log beside it stops.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <chrono>
#include <filesystem>
#include <set>

#include "tests/support/DeskParts.h"
#include "tests/support/DeskRig.h"
#include "tests/support/LogFiles.h"
#include "tests/support/PrivateTmpfs.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Lets the logger's failure and recovery run on this thread until every entry is written.
bool LogCaughtUp(TMessageDesk& desk) {
  TMessageLogger& logger = *test::TDeskParts::Logger(desk);
  QElapsedTimer timer;
  timer.start();
  while (!logger.WaitIdle(std::chrono::milliseconds(0))) {
    if (timer.elapsed() > 30000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

// A 14 MiB disk filled while messages come, then given back 3 MiB: less than the store's log
// keeps once it has started over (4 MB and more) beside what the store and the log themselves
// take for what follows.
TEST(LogRoom, EveryMessageIsLoggedOnceADiskThatWasFullHasRoomAgain) {
  constexpr int kWhileFull = 300, kAll = 3000;
  constexpr off_t kRoomBack = 3 * 1024 * 1024;
  test::TDeskRig rig;
  const std::string point = rig.Dir.File("disk");
  ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
  const test::TPrivateTmpfs disk(point, "14m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  rig.Setup.DataDir = point;
  rig.Choices.Selection.Bulletins = true;
  rig.Choices.PrintingDisabled = true;
  TMessageDesk& desk = rig.Make();
  const std::string filler = disk.File("filler");
  ASSERT_TRUE(disk.FillUp(filler));

  int n = 0;
  while (n < kWhileFull) rig.SendBulletin(n++);
  ASSERT_TRUE(desk.StoreFailing()) << "the disk never filled";
  struct stat st {};
  ASSERT_EQ(::stat(filler.c_str(), &st), 0);
  ASSERT_EQ(::truncate(filler.c_str(), st.st_size - kRoomBack), 0);
  TDurableStore& store = *test::TDeskParts::Store(desk);
  ASSERT_TRUE(store.Flush()) << "the store could not write what waited";
  ASSERT_TRUE(LogCaughtUp(desk)) << "the log never had room again";
  while (n < kAll) rig.SendBulletin(n++);

  EXPECT_TRUE(store.Flush()) << "the store could not write what came";
  EXPECT_TRUE(LogCaughtUp(desk)) << "the log waits for room; the store's log holds "
                                 << fs::file_size(store.Path() + "-wal") << " bytes";
  const QString log = test::LogText(QString::fromStdString(point));
  std::set<int> logged;
  const QRegularExpression line(QStringLiteral(">APRS,WIDE1-1::BLN1     :Bulletin (\\d+)\\r?$"),
                                QRegularExpression::MultilineOption);
  for (auto it = line.globalMatch(log); it.hasNext();) logged.insert(it.next().captured(1).toInt());
  EXPECT_EQ(logged.size(), static_cast<std::size_t>(kAll));
  EXPECT_EQ(store.Listed().size(), static_cast<std::size_t>(kAll));
}

}  // namespace
}  // namespace qm

// `quillmark --acknowledge [N]` and the alarms in `--status`, asked of the real program running
// without a window on a store that kept two alarms from its last run.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

#include "store/MessageStore.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/StoredMessages.h"

namespace qm {
namespace {

TEST(AcknowledgeProgram, TheRunningDeskAcknowledgesOneOrAllAndStatusListsWhatSounds) {
  QTemporaryDir home;
  const QString config = home.filePath(QStringLiteral("config"));
  ASSERT_TRUE(QDir().mkpath(config));
  const std::string db = (config + QStringLiteral("/Quillmark-messages.db")).toStdString();
  {
    TMessageStore store(db);
    std::vector<std::int64_t> ids;
    for (int n = 1; n <= 2; ++n) {
      TStoredMessage m = test::Msg(n, 46366.5849537);  // 2026-12-10 14:02:20 UTC
      m.Alarm = asSounding;
      ids.push_back(store.Add(m));
    }
    store.CompleteJob(store.BeginJob(jkList, ids, "", 46366.6, ""));  // on paper already
  }
  QFile capture(home.filePath(QStringLiteral("capture.txt")));
  ASSERT_TRUE(capture.open(QIODevice::WriteOnly));
  for (int i = 0; i < 5000; ++i) capture.write("*12:00:01 W1ABC>APRS:!4903.50N/07201.75W-\n");
  capture.close();
  const QProcessEnvironment env = test::ProgramEnvironment(home.path());
  const QStringList onFolder{QStringLiteral("--config"), config};
  auto run =
      test::StartProgram(QStringList{QStringLiteral("--no-window"), QStringLiteral("--web"),
                                     QStringLiteral("off"), QStringLiteral("--replay"), capture.fileName(),
                                     QStringLiteral("--pace"), QStringLiteral("5")} +
                             onFolder,
                         env);
  QByteArray err;
  const QDeadlineTimer started(30000);
  while (!err.contains("running without a window") && run->state() == QProcess::Running &&
         !started.hasExpired()) {
    run->waitForReadyRead(100);
    err += run->readAllStandardError();
  }
  ASSERT_TRUE(err.contains("running without a window")) << err.toStdString();
  const auto ask = [&](const QStringList& args) {
    return test::Finish(*test::StartProgram(args + onFolder, env));
  };

  const test::TProgramResult status = ask({QStringLiteral("--status")});
  EXPECT_TRUE(
      status.Out.contains("Alarm: KB1AB-1 to NOCALL-9: message 1 (number 1, since 2026-12-10 14:02 UTC)\n"))
      << status.Out.toStdString();
  EXPECT_TRUE(status.Out.contains("Alarm: KB1AB-2 to NOCALL-9: message 2 (number 2,"))
      << status.Out.toStdString();

  const test::TProgramResult none = ask({QStringLiteral("--acknowledge"), QStringLiteral("7")});
  EXPECT_EQ(none.Code, 2);
  EXPECT_EQ(none.Out, "No alarm 7 sounds\n");
  const std::string account = ::getpwuid(::geteuid())->pw_name;
  const test::TProgramResult one = ask({QStringLiteral("--acknowledge"), QStringLiteral("2")});
  EXPECT_EQ(one.Code, 0) << one.Err.toStdString();
  EXPECT_EQ(one.Out.toStdString(), "1 alarm acknowledged by " + account + "\n");
  const test::TProgramResult left = ask({QStringLiteral("--status")});
  EXPECT_TRUE(left.Out.contains("Alarm: KB1AB-1 ")) << left.Out.toStdString();
  EXPECT_FALSE(left.Out.contains("Alarm: KB1AB-2 ")) << left.Out.toStdString();
  const test::TProgramResult all = ask({QStringLiteral("--acknowledge")});
  EXPECT_EQ(all.Code, 0);
  EXPECT_EQ(all.Out.toStdString(), "1 alarm acknowledged by " + account + "\n");
  EXPECT_FALSE(ask({QStringLiteral("--status")}).Out.contains("Alarm:"));

  ASSERT_EQ(::kill(static_cast<pid_t>(run->processId()), SIGTERM), 0);
  EXPECT_EQ(test::Finish(*run).Code, 0);
  EXPECT_EQ(ask({QStringLiteral("--acknowledge")}).Code, 3);  // no desk runs
  const TStoredMessage kept = TMessageStore(db).Message(2);
  EXPECT_EQ(kept.Alarm, asAcknowledged);
  EXPECT_EQ(kept.AcknowledgedBy, account);
  EXPECT_EQ(kept.AcknowledgedWhere, "command line");
  EXPECT_TRUE(TMessageStore(db).Sounding().empty());
}

}  // namespace
}  // namespace qm

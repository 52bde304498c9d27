// `quillmark --send CALL TEXT` asked of the real program running without a window on a KISS TCP
// stand-in: the number printed, the frame on the air, the refusals, a message stopped and no
// desk.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <csignal>

#include "host/KissDecoder.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ProgramRun.h"

namespace qm {
namespace {

TEST(SendProgram, TheRunningDeskSendsAndPrintsTheNumber) {
  QTemporaryDir home;
  const QString config = home.filePath(QStringLiteral("config"));
  ASSERT_TRUE(QDir().mkpath(config));
  std::string onAir;  // all the program sent the TNC, once it closed the connection
  test::TLoopbackServer tnc([&onAir](int fd) { onAir = test::ReadToEnd(fd); });
  const QProcessEnvironment env = test::ProgramEnvironment(home.path());
  const QStringList onFolder{QStringLiteral("--config"), config};
  auto run = test::StartProgram(
      QStringList{QStringLiteral("--no-window"), QStringLiteral("--web"), QStringLiteral("off"),
                  QStringLiteral("--kiss"), QStringLiteral("127.0.0.1:%1").arg(tnc.Port()),
                  QStringLiteral("--callsign"), QStringLiteral("Q1ABC-7"), QStringLiteral("--answer")} +
          onFolder,
      env);
  const auto ask = [&](const QStringList& args) {
    return test::Finish(*test::StartProgram(args + onFolder, env));
  };
  // Asked until the desk answers with its source connected.
  const QDeadlineTimer started(30000);
  test::TProgramResult status;
  while (!(status = ask({QStringLiteral("--status")})).Out.contains(": Connected") && !started.hasExpired() &&
         run->state() == QProcess::Running) {
  }
  ASSERT_TRUE(status.Out.contains(": Connected")) << status.Out.toStdString() << status.Err.toStdString();

  const test::TProgramResult sent = ask({QStringLiteral("--send"), QStringLiteral("k2xyz-9"),
                                         QStringLiteral("Roger,"), QStringLiteral("20 cots")});
  EXPECT_EQ(sent.Code, 0) << sent.Err.toStdString();
  EXPECT_EQ(sent.Out, "1\n");
  const test::TProgramResult again =
      ask({QStringLiteral("--send"), QStringLiteral("W1AW"), QStringLiteral("Next")});
  EXPECT_EQ(again.Out, "2\n");
  // Refused here for the text, by the desk for what only it knows.
  const test::TProgramResult text =
      ask({QStringLiteral("--send"), QStringLiteral("W1AW"), QStringLiteral("a|b")});
  EXPECT_EQ(text.Code, 2);
  EXPECT_EQ(text.Err, "quillmark: Cannot send '|': APRS reserves it\n");
  const test::TProgramResult own =
      ask({QStringLiteral("--send"), QStringLiteral("Q1ABC-7"), QStringLiteral("hi")});
  EXPECT_EQ(own.Code, 2);
  EXPECT_EQ(own.Err, "quillmark: Cannot send to the own call\n");
  EXPECT_EQ(own.Out, "");
  const test::TProgramResult bare = ask({QStringLiteral("--send"), QStringLiteral("W1AW")});
  EXPECT_EQ(bare.Code, 2);  // as every bad command line
  EXPECT_TRUE(bare.Err.contains("--send CALL: the text to send follows")) << bare.Err.toStdString();

  // Stopped once; the second time and for a number never sent it says why not.
  const test::TProgramResult stopped = ask({QStringLiteral("--cancel-send"), QStringLiteral("2")});
  EXPECT_EQ(stopped.Code, 0) << stopped.Err.toStdString();
  EXPECT_EQ(stopped.Out, "Stopped message 2 to W1AW\n");
  const test::TProgramResult ended = ask({QStringLiteral("--cancel-send"), QStringLiteral("2")});
  EXPECT_EQ(ended.Code, 2);
  EXPECT_TRUE(ended.Err.startsWith("quillmark: Message 2 to W1AW is no longer being sent: cancelled at "))
      << ended.Err.toStdString();
  const test::TProgramResult unknown = ask({QStringLiteral("--cancel-send"), QStringLiteral("9")});
  EXPECT_EQ(unknown.Code, 2);
  EXPECT_EQ(unknown.Err, "quillmark: No message 9 is being sent\n");

  ASSERT_EQ(::kill(static_cast<pid_t>(run->processId()), SIGTERM), 0);
  EXPECT_EQ(test::Finish(*run).Code, 0);
  EXPECT_EQ(ask({QStringLiteral("--send"), QStringLiteral("W1AW"), QStringLiteral("hi")}).Code, 3);
  tnc.Join();
  std::vector<std::string> heard;
  TKissDecoder decoder;
  decoder.Feed(onAir,
               [&](int, std::string_view ax25) { heard.push_back(DecodeAx25UiFrame(ax25).value_or("?")); });
  EXPECT_EQ(heard, (std::vector<std::string>{"Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :Roger, 20 cots{1",
                                             "Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::W1AW     :Next{2"}));
}

}  // namespace
}  // namespace qm

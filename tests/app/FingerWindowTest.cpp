// The NWS full text at window level: an alert the window wants is fetched from a Finger
// server on loopback, printed as a job of its own and logged; failures end the packet.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/FingerWindowSupport.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/DeskParts.h"
#include "tests/support/LoopbackServer.h"

namespace qm {
namespace {

using test::TAlert;

// A Finger server on loopback that takes any number of connections: it records each query
// line and answers with the canned reply, or holds the connection open without a word.
class TFingerStub {
 public:
  enum TMode { fmReply, fmHold };

  explicit TFingerStub(std::string reply, TMode mode = fmReply)
      : FReply(std::move(reply)), FMode(mode), FServer(nullptr, 16) {
    FThread = std::thread([this] { Serve(); });
  }
  ~TFingerStub() {
    ::shutdown(FServer.ListenFd(), SHUT_RDWR);  // wakes the accept
    FThread.join();
    for (const int fd : FHeld) ::close(fd);
  }
  TFingerStub(const TFingerStub&) = delete;
  TFingerStub& operator=(const TFingerStub&) = delete;

  int Port() const { return FServer.Port(); }
  std::vector<std::string> Queries() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FQueries;
  }

 private:
  void Serve() {
    for (;;) {
      const int client = ::accept(FServer.ListenFd(), nullptr, nullptr);
      if (client < 0) return;
      std::string query;
      char buffer[256];
      while (query.find("\r\n") == std::string::npos) {
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        query.append(buffer, static_cast<std::size_t>(got));
      }
      {
        std::lock_guard<std::mutex> lock(FLock);
        FQueries.push_back(query);
      }
      if (FMode == fmHold) {
        FHeld.push_back(client);
        continue;
      }
      test::SendAll(client, FReply);
      ::close(client);
    }
  }

  const std::string FReply;
  const TMode FMode;
  test::TLoopbackServer FServer;  // only its listening socket; this class accepts
  std::thread FThread;
  mutable std::mutex FLock;
  std::vector<std::string> FQueries;
  std::vector<int> FHeld;
};

// A loopback port that stays bound but no longer listens, so a connection there is refused.
class TClosedPort {
 public:
  TClosedPort() : FServer(nullptr) { ::shutdown(FServer.ListenFd(), SHUT_RDWR); }
  int Port() const { return FServer.Port(); }

 private:
  test::TLoopbackServer FServer;
};

const TAlert kWarning{"NOCALL", "NWS-WARN", "12345"};

struct FingerWindowTest : public ::testing::Test {
  void SetUp() override {
    TMainFormSetup s = env.Setup();
    // The duplicate filter ages entries against the packets' own ticks, which the parser
    // takes from the system counter; the window must count the same way here.
    s.Ticks = nullptr;
    form = std::make_unique<TMainForm>(s);
    test::WantAlerts(*form, "OK");
    form->Desk().SetFingerServer("127.0.0.1", 79);
  }
  void PointAt(int port) { form->Desk().SetFingerServer("127.0.0.1", port); }
  void Handle(const TAlert& alert) { test::HandleAlert(*form, *env.Host, alert); }
  std::string Log() { return test::ReadLog(*form); }

  test::TFormEnvironment env;
  std::unique_ptr<TMainForm> form;
};

TEST_F(FingerWindowTest, WarningIsFetchedPrintedAsItsOwnJobAndLogged) {
  const std::string reply = "WWUS54 KOUN 072130\nTORNADO WARNING\n\nEND\n";
  TFingerStub server(reply);
  PointAt(server.Port());
  form->cbNWSWarningsPrint->setChecked(true);
  Handle(kWarning);

  EXPECT_EQ(server.Queries(), std::vector<std::string>{"NOCALL123\r\n"});
  EXPECT_EQ(test::TDeskParts::Finger(form->Desk()).Query, "NOCALL123");
  const QStringList lines = form->MessageLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[2].toStdString(), "  NWS-WARN: " + kWarning.Text() + " {12345");
  // The entry stays in the list; only the full text went to paper.
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("1 of 20 messages collected"));
  EXPECT_EQ(test::PdfLines(env.PdfFile()),
            test::Joined({lines[0].simplified(), lines[2].simplified(), QString(), "WWUS54 KOUN 072130",
                          "TORNADO WARNING", QString(), "END"}));
  // The document's own empty first line and the empty line after the alert line.
  EXPECT_EQ(form->Desk().LastPrinted().Lines, 8);

  const std::string log = Log();
  const std::size_t replyAt = log.find("> " + test::AsLogged(reply) + "\r\n");
  ASSERT_NE(replyAt, std::string::npos) << log;
  EXPECT_LT(replyAt, log.find("> " + kWarning.PacketLine() + "\r\n"));
}

TEST_F(FingerWindowTest, QueryIsTheSenderAndAtMostThreeCharactersOfTheNumber) {
  TFingerStub server("TEXT\n");
  PointAt(server.Port());
  form->cbNWSWatches->setChecked(true);
  form->cbNWSAdvisiories->setChecked(true);
  form->cbNWSWatchesPrint->setChecked(true);
  form->cbNWSWarningsPrint->setChecked(true);
  form->cbNWSAdvisioriesPrint->setChecked(true);
  const struct {
    TAlert alert;
    const char* query;
  } cases[] = {
      {{"NOCALL", "NWS-WARN", "12"}, "NOCALL12\r\n"},
      {{"NOCALL", "NWS-WARN", ""}, "NOCALL\r\n"},
      {{"NOCALL-5", "NWS-WARN", "12345"}, "NOCALL-5123\r\n"},
      {{"nocall-15", "NWS-WATCH", "abc"}, "NOCALL-15abc\r\n"},
      {{"NOCALL", "NWS-ADVIS", "9"}, "NOCALL9\r\n"},
  };
  std::size_t fetched = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    Handle(c.alert);
    const std::vector<std::string> queries = server.Queries();
    ASSERT_EQ(queries.size(), ++fetched);
    EXPECT_EQ(queries.back(), c.query);
    EXPECT_EQ(form->MessageLineCount(), static_cast<int>(3 * fetched));
  }
}

TEST_F(FingerWindowTest, DisabledPrintingStillFetchesAndLogs) {
  const std::string reply = "SEVERE THUNDERSTORM WARNING\n";
  TFingerStub server(reply);
  PointAt(server.Port());
  form->cbNWSWarningsPrint->setChecked(true);
  form->cbDisablePrinting->setChecked(true);
  Handle(kWarning);

  EXPECT_EQ(server.Queries().size(), 1u);
  EXPECT_EQ(form->MessageLineCount(), 3);
  EXPECT_FALSE(QFile::exists(env.PdfFile()));
  EXPECT_NE(Log().find("> " + test::AsLogged(reply) + "\r\n"), std::string::npos);

  // Nor after a restart with printing on again: the full text stays off paper for good.
  form->SaveSettings();
  form.reset();
  form = std::make_unique<TMainForm>(env.Setup());
  form->cbDisablePrinting->setChecked(false);
  form->btnClearMessages->click();
  form->btnPrintNow->click();
  EXPECT_FALSE(QFile::exists(env.PdfFile()));
}

TEST_F(FingerWindowTest, FullTextIsFetchedOnlyForAWantedAlertOfACheckedCategory) {
  const struct {
    const char* name;
    TAlert alert;
    bool warnings;   // the "Warnings" display box
    bool state;      // OK checked in the state list
    bool watchText;  // "Print full text of watch"
    bool warnText;   // "Print full text of warning"
    int lines;
    std::size_t fetches;
  } cases[] = {
      {"all checked", kWarning, true, true, false, true, 3, 1},
      {"warnings unchecked", kWarning, false, true, false, true, 0, 0},
      {"state unchecked", kWarning, true, false, false, true, 0, 0},
      {"only the watch text box", kWarning, true, true, true, false, 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFingerStub server("TEXT\n");
    PointAt(server.Port());
    form->btnClearMessagesClick();
    form->Desk().ClearRepeats();
    form->cbNWSWarnings->setChecked(c.warnings);
    test::CheckState(*form, "OK", c.state);
    form->cbNWSWatchesPrint->setChecked(c.watchText);
    form->cbNWSWarningsPrint->setChecked(c.warnText);
    test::TDeskParts::Finger(form->Desk()).Query.clear();
    Handle(c.alert);
    // Every listed alert sets the query, whether its full text is wanted or not.
    EXPECT_EQ(test::TDeskParts::Finger(form->Desk()).Query, c.lines ? "NOCALL123" : "");
    EXPECT_EQ(form->MessageLineCount(), c.lines);
    EXPECT_EQ(server.Queries().size(), c.fetches);
  }
}

TEST_F(FingerWindowTest, RepeatWithinTwentySecondsIsNotFetchedAgain) {
  TFingerStub server("TEXT\n");
  PointAt(server.Port());
  form->cbNWSWarningsPrint->setChecked(true);
  Handle(kWarning);
  Handle(kWarning);
  EXPECT_EQ(server.Queries().size(), 1u);
  EXPECT_EQ(form->MessageLineCount(), 3);
  EXPECT_NE(Log().find("> Duplicate packet: " + kWarning.PacketLine()), std::string::npos);
}

TEST_F(FingerWindowTest, SilentServerGivesAnEmptyFullTextAndAnEmptyLogEntry) {
  TFingerStub server("");
  PointAt(server.Port());
  form->cbNWSWarningsPrint->setChecked(true);
  Handle(kWarning);

  ASSERT_EQ(server.Queries().size(), 1u);
  const QStringList lines = form->MessageLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(test::PdfLines(env.PdfFile()), test::Joined({lines[0].simplified(), lines[2].simplified()}));
  // Empty first line, time line, alert line, and the empty line that ends the document.
  EXPECT_EQ(form->Desk().LastPrinted().Lines, 4);
  const std::string log = Log();
  const std::size_t empty = test::FindEmptyEntry(log);
  ASSERT_NE(empty, std::string::npos) << log;
  EXPECT_LT(empty, log.find("> " + kWarning.PacketLine() + "\r\n"));
}

TEST_F(FingerWindowTest, ReplyLineEndsAreKeptInTheLogAndThePrint) {
  const std::string reply = "WWUS54 KOUN 072130\r\nTORNADO WARNING\r\n\r\nEND\r\n";
  TFingerStub server(reply);
  PointAt(server.Port());
  form->cbNWSWarningsPrint->setChecked(true);
  Handle(kWarning);

  const QStringList lines = form->MessageLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(test::PdfLines(env.PdfFile()),
            test::Joined({lines[0].simplified(), lines[2].simplified(), QString(), "WWUS54 KOUN 072130",
                          "TORNADO WARNING", QString(), "END"}));
  // CR LF is one line end on paper, not two.
  EXPECT_EQ(form->Desk().LastPrinted().Lines, 8);
  EXPECT_NE(Log().find("> " + test::AsLogged(reply) + "\r\n"), std::string::npos);
}

// A failed fetch costs the alert only its full text: its entry is whole, counted, on record
// as a repeat and logged, and the failure is one stamped log line and the hint.
struct TFetchFailure {
  const char* Name;
  std::string Text;    // the failure as the hint shows it after "could not be fetched: "
  std::string Logged;  // its log entry's first line ("Socket Error # ...")
};

void ExpectAlertKept(TMainForm& form, test::TFormEnvironment& env, const TFetchFailure& failure) {
  const QStringList lines = form.MessageLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[1], QStringLiteral("  NOCALL>APRS via WIDE2-1"));
  EXPECT_EQ(lines[2].toStdString(), "  NWS-WARN: " + TAlert::Text() + " {12345");
  EXPECT_EQ(env.Beeps, 1);
  EXPECT_EQ(form.Desk().RepeatCount(), 1u);
  EXPECT_EQ(form.lbMsgStatus->text(), QStringLiteral("1 of 20 messages collected"));
  const std::string warning = "The full text of NOCALL123 could not be fetched: " + failure.Text;
  EXPECT_EQ(form.HintText().toStdString(), warning);
  EXPECT_FALSE(QFile::exists(env.PdfFile()));
  const std::string log = test::ReadLog(form);
  EXPECT_NE(
      log.find("> " + failure.Logged + "\r\n  " +
               (failure.Text.starts_with("Socket") ? failure.Text.substr(failure.Logged.size() + 1) + "\r\n  "
                                                   : std::string()) +
               "The alert NOCALL123 was listed without its full text\r\n"),
      std::string::npos)
      << log;
  EXPECT_NE(log.find("> " + kWarning.PacketLine() + "\r\n"), std::string::npos) << log;
}

TEST_F(FingerWindowTest, RefusedConnectionKeepsTheAlertAndItsRepeatIsNotFetched) {
  TClosedPort closed;
  PointAt(closed.Port());
  form->cbNWSWarningsPrint->setChecked(true);
  form->cbBeepOnReceive->setChecked(true);
  Handle(kWarning);
  ExpectAlertKept(*form, env,
                  {"refused", "Socket Error # 10061 Connection refused.", "Socket Error # 10061"});

  // The same alert again within 20 s is a repeat; a new alert tries the server again.
  TFingerStub server("TEXT\n");
  PointAt(server.Port());
  Handle(kWarning);
  EXPECT_TRUE(server.Queries().empty());
  EXPECT_EQ(form->MessageLineCount(), 3);
  Handle(TAlert{"NOCALL", "NWS-WARN", "67890"});
  EXPECT_EQ(server.Queries(), std::vector<std::string>{"NOCALL678\r\n"});
  EXPECT_EQ(form->MessageLineCount(), 6);
}

TEST_F(FingerWindowTest, EndlessReplyKeepsTheAlertAndNothingOfIt) {
  form->cbNWSWarningsPrint->setChecked(true);
  form->cbBeepOnReceive->setChecked(true);
  {
    TFingerStub server(std::string(5000, 'X'));
    PointAt(server.Port());
    test::TDeskParts::Finger(form->Desk()).Bounds.MaxReplyBytes = 1000;
    Handle(kWarning);
    EXPECT_EQ(server.Queries().size(), 1u);
    ExpectAlertKept(*form, env,
                    {"too large", "Finger reply too large: the server sent more than 1000 bytes",
                     "Finger reply too large: the server sent more than 1000 bytes"});
    EXPECT_EQ(test::ReadLog(*form).find("XXXX"), std::string::npos);
  }
}

TEST_F(FingerWindowTest, SilentServerKeepsTheAlert) {
  form->cbNWSWarningsPrint->setChecked(true);
  form->cbBeepOnReceive->setChecked(true);
  {
    TFingerStub server("", TFingerStub::fmHold);
    PointAt(server.Port());
    test::TDeskParts::Finger(form->Desk()).Bounds.Connect = std::chrono::milliseconds(2000);
    test::TDeskParts::Finger(form->Desk()).Bounds.Idle = std::chrono::milliseconds(200);
    test::TDeskParts::Finger(form->Desk()).Bounds.Total = std::chrono::milliseconds(400);
    QElapsedTimer timer;
    timer.start();
    Handle(kWarning);
    // Far above the bounds; only a window that waits for the server would take this long.
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(server.Queries(), std::vector<std::string>{"NOCALL123\r\n"});
    ExpectAlertKept(*form, env,
                    {"silent", "Socket Error # 10060 Connection timed out.", "Socket Error # 10060"});
  }
}

TEST_F(FingerWindowTest, FailedPrintOfTheFullTextIsReportedAndPrintedWithTheNextPage) {
  const std::string reply = "UNIQUE FULL TEXT 4711\n";
  TFingerStub server(reply);
  PointAt(server.Port());
  form->cbNWSWarningsPrint->setChecked(true);
  test::TDeskParts::PrintJobs(form->Desk())
      .SetOutputFile(env.Dir.path() + QStringLiteral("/no such folder/printed.pdf"));
  Handle(kWarning);

  EXPECT_EQ(server.Queries().size(), 1u);
  EXPECT_EQ(form->MessageLineCount(), 3);
  EXPECT_EQ(form->Desk().RepeatCount(), 1u);
  EXPECT_EQ(env.Errors, QStringList{QStringLiteral("Printer selected is not valid")});
  const std::string log = Log();
  EXPECT_NE(log.find("> Printing failed: Printer selected is not valid\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("UNIQUE FULL TEXT 4711"), std::string::npos);
  EXPECT_NE(log.find(kWarning.PacketLine()), std::string::npos);

  // The printer back: the next print takes the full text first (the list is cleared here so
  // that the file holds the full text's job alone).
  test::TDeskParts::PrintJobs(form->Desk()).SetOutputFile(env.PdfFile());
  form->btnClearMessages->click();
  form->btnPrintNow->click();
  ASSERT_TRUE(QFile::exists(env.PdfFile()));
  EXPECT_NE(test::PdfLines(env.PdfFile()).find("UNIQUE FULL TEXT 4711"), std::string::npos);
  EXPECT_EQ(env.Errors.size(), 1);
}

// The end comes while a server holds the fetch without a word: the alert is listed (while
// the window lives) and logged all the same, and counted among the messages kept for the next
// start; the end waits at most for the bounds.
TEST(FingerWindowEnd, EndDuringAFetchKeepsTheAlert) {
  const std::string ended = "The program ended before the full text came";
  const struct {
    const char* name;
    std::function<void(std::unique_ptr<TMainForm>&, test::TFormEnvironment&)> end;
    std::string reason;  // why the alert has no full text, as logged
    bool counted;        // the end says how many messages it keeps
  } cases[] = {
      {"tray Exit", [](auto& form, auto&) { form->miExitClick(); }, ended, true},
      {"host closes (put off until the fetch fails)", [](auto&, auto& env) { env.Host->Close(); },
       "Socket Error # 10060", true},
      {"window destroyed",
       [](auto& form, auto&) {
         form.reset();
         QCoreApplication::exit(0);
       },
       ended, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TFormEnvironment env;
    auto form = std::make_unique<TMainForm>(env.Setup());
    test::WantAlerts(*form, "OK");
    form->cbNWSWarningsPrint->setChecked(true);
    TFingerStub server("", TFingerStub::fmHold);
    TFingerClient& client = test::TDeskParts::Finger(form->Desk());
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.Bounds.Idle = std::chrono::milliseconds(500);
    client.Bounds.Total = std::chrono::milliseconds(1000);
    const std::string logFile = form->Desk().LogFile();
    QTimer during;  // ends the run once the server holds the query
    QObject::connect(&during, &QTimer::timeout, [&] {
      if (server.Queries().empty() || !form || form->Ending()) return;
      during.stop();
      c.end(form, env);
    });
    QTimer hung;  // only if the end never came
    hung.setSingleShot(true);
    QObject::connect(&hung, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    during.start(5);
    hung.start(20000);
    QTimer::singleShot(0, [&] { test::DeliverAlert(*form, *env.Host, kWarning); });
    EXPECT_EQ(QCoreApplication::exec(), 0);

    if (form) {
      EXPECT_EQ(form->MessageLineCount(), 3);
    }
    form.reset();  // the logger writes what is queued
    std::ifstream in(logFile, std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t reasonAt = log.find("> " + c.reason);
    EXPECT_NE(reasonAt, std::string::npos) << log;
    const std::size_t alertAt = log.find("> " + kWarning.PacketLine() + "\r\n");
    EXPECT_LT(reasonAt, alertAt) << log;
    if (c.counted) {
      const std::size_t keptAt = log.find("> 1 unprinted messages are kept for the next start");
      EXPECT_NE(keptAt, std::string::npos) << log;
      EXPECT_LT(alertAt, keptAt) << log;
    }
  }
}

}  // namespace
}  // namespace qm

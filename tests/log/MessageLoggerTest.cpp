#include "log/MessageLogger.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/support/ClockPairDriver.h"

namespace qm {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms});
}

// A clock the test moves by hand; local time runs two hours ahead of UTC.
struct TTestClock {
  std::atomic<double> Utc{At(2003, 6, 15, 10, 20, 30, 40)};
  TClock Fn() {
    return [this](TTimeFormat f) { return f == tfUTC ? Utc.load() : Utc.load() + 2.0 / 24; };
  }
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    out.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return out;
}

void Touch(const fs::path& p, const std::string& content, std::chrono::hours age = 0h) {
  std::ofstream(p, std::ios::binary) << content;
  fs::last_write_time(p, fs::file_time_type::clock::now() - age);
}

// Calls handed to "the owner's thread", which is the test's thread running them one by one.
class TOwnerQueue {
 public:
  TMessageLogger::TOwnerPost Post() {
    return [this](TMessageLogger::TOwnerCall call) {
      std::lock_guard<std::mutex> lock(FLock);
      FCalls.push_back(std::move(call));
      FCond.notify_all();
    };
  }
  // Takes the next posted call, waiting for it up to the deadline.
  TMessageLogger::TOwnerCall Take() {
    std::unique_lock<std::mutex> lock(FLock);
    if (!FCond.wait_for(lock, kDeadline, [this] { return !FCalls.empty(); })) return {};
    auto call = std::move(FCalls.front());
    FCalls.pop_front();
    return call;
  }
  bool Empty() {
    std::lock_guard<std::mutex> lock(FLock);
    return FCalls.empty();
  }

 private:
  std::mutex FLock;
  std::condition_variable FCond;
  std::deque<TMessageLogger::TOwnerCall> FCalls;
};

// A small tmpfs over a folder in a mount namespace of its own, held by a shell and reached
// through /proc/<shell>/root, so the machine's mounts stay as they are. Needs root.
struct TPrivateTmpfs {
  explicit TPrivateTmpfs(const fs::path& dir) {
    const std::string command =
        "exec unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs -o size=256k none \"" +
        dir.string() + "\" && echo $$ && exec sleep 600' 2>&1";
    char line[256] = "";
    Pipe = ::popen(command.c_str(), "r");
    if (Pipe == nullptr || std::fgets(line, sizeof line, Pipe) == nullptr)
      std::strcpy(line, "unshare gave no answer");
    Shell = std::atoi(line);
    if (Shell > 0) Root = "/proc/" + std::to_string(Shell) + "/root" + dir.string();
    Skip = Shell > 0 ? "" : line;
  }
  ~TPrivateTmpfs() {
    if (Shell > 0) ::kill(Shell, SIGTERM);
    if (Pipe != nullptr) ::pclose(Pipe);
  }
  std::FILE* Pipe = nullptr;
  pid_t Shell = 0;
  fs::path Root;
  std::string Skip;
};

// Writes a file until its file system is full.
void FillUp(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  const std::string block(4096, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  const int error = errno;
  ::close(fd);
  ASSERT_EQ(error, ENOSPC);
}

class MessageLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    Dir = fs::temp_directory_path() / ("qm_log_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    TMessageLogger::ResetLastPurgeDay();
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::unique_ptr<TMessageLogger> MakeLogger() {
    auto logger = std::make_unique<TMessageLogger>();
    logger->SetLogFilePath(Dir.string());
    logger->SetLogFileName("Trace.txt");
    logger->SetClock(Clock.Fn());
    return logger;
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path Dir;
  TTestClock Clock;
};

TEST_F(MessageLoggerTest, Defaults) {
  TMessageLogger logger;
  EXPECT_EQ(logger.DateFormat(), "yy-mm-dd");
  EXPECT_EQ(logger.LogEntryFormat(), "<%s> %s");
  EXPECT_EQ(logger.MaxFileSize(), 0);
  EXPECT_EQ(logger.Priority(), tpLower);
  EXPECT_EQ(logger.PurgeFileDays(), 0);
  EXPECT_TRUE(logger.ShowLocalZulu());
  EXPECT_EQ(logger.TimeStampFormat(), "hh:nn:ss.zzz");
  EXPECT_FALSE(logger.UTC());
  const fs::path exe = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(logger.LogFileName(), exe.filename().string() + ".log");
  EXPECT_EQ(logger.LogFilePath(), exe.parent_path().string() + "/");
}

TEST_F(MessageLoggerTest, NameAndPathSetters) {
  struct Case {
    const char* given;
    const char* name;
    const char* path;
  } cases[] = {
      {"Trace.txt", "Trace", "Trace.txt/"},
      {"Trace", "Trace", "Trace/"},
      {"my.app.log", "my.app", "my.app.log/"},
      {"Trace.", "Trace", "Trace./"},
      {"/var/log/x/", "/var/log/x/", "/var/log/x/"},
      {"C:\\logs", "C:\\logs", "C:/logs/"},
      {"", "", ""},
  };
  TMessageLogger logger;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    logger.SetLogFileName(c.given);
    logger.SetLogFilePath(c.given);
    EXPECT_EQ(logger.LogFileName(), c.name);
    EXPECT_EQ(logger.LogFilePath(), c.path);
  }
}

TEST_F(MessageLoggerTest, BuildFileNames) {
  TTestClock clock;  // 2003-06-15 10:20:30 UTC, 12:20:30 local
  struct Case {
    const char* path;
    const char* name;
    bool utc, zone;
    const char* file;
    const char* rolled;
  } cases[] = {
      {"/d/", "Trace.txt", true, true, "/d/Trace 03-06-15Z.txt", "/d/Trace 03-06-15 10:20:30Z.txt"},
      {"/d/", "Trace", false, true, "/d/Trace 03-06-15L.log", "/d/Trace 03-06-15 12:20:30L.log"},
      {"", "Trace", true, false, "Trace 03-06-15.log", "Trace 03-06-15 10:20:30.log"},
      {"p/", "Trace.", false, false, "p/Trace 03-06-15.log", "p/Trace 03-06-15 12:20:30.log"},
      {"p/", "", true, false, "p/ 03-06-15.log", "p/ 03-06-15 10:20:30.log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(BuildLogFileName(c.path, c.name, c.utc, "yy-mm-dd", c.zone, clock.Fn()), c.file);
    EXPECT_EQ(BuildRollOverFileName(c.path, c.name, c.utc, "yy-mm-dd", "hh:nn:ss", c.zone, clock.Fn()),
              c.rolled);
  }
  // Without a clock of its own it reads the real one.
  const std::string today = FormatDateTime("yy-mm-dd", CurrentDateTime(tfUTC));
  const std::string real = BuildLogFileName("", "Q", true, "yy-mm-dd", false);
  EXPECT_TRUE(real == "Q " + today + ".log" || real > "Q " + today) << real;
}

TEST_F(MessageLoggerTest, LineFormatAndFileName) {
  struct Case {
    bool utc, zulu;
    const char* text;
    const char* line;
    const char* file;
  } cases[] = {
      {false, true, "hello", "<12:20:30.040L> hello", "Trace 03-06-15L.log"},
      {true, true, "hello", "<10:20:30.040Z> hello", "Trace 03-06-15Z.log"},
      {true, false, "hello", "<10:20:30.040> hello", "Trace 03-06-15.log"},
      {false, false, "a %s b", "<12:20:30.040> a %s b", "Trace 03-06-15.log"},
      {true, false, "", "<10:20:30.040> ", "Trace 03-06-15.log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fs::remove_all(Dir);
    std::vector<std::string> added;
    {
      auto logger = MakeLogger();
      logger->SetUTC(c.utc);
      logger->SetShowLocalZulu(c.zulu);
      logger->SetOnEntryAdded([&](const std::string& e) { added.push_back(e); });
      EXPECT_EQ(logger->PhysicalLogFileName(), (Dir / c.file).string());
      logger->LogMessage(c.text);
      ASSERT_TRUE(logger->WaitIdle(kDeadline));
    }
    EXPECT_EQ(added, std::vector<std::string>{c.line});
    EXPECT_EQ(ReadFile(Dir / c.file), std::string(c.line) + "\r\n");
  }
}

// A text cannot make a line of its own: breaks indent, control bytes are escaped.
TEST_F(MessageLoggerTest, TextStaysInsideItsEntry) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"plain", {"plain"}},
      {"", {""}},
      {"a\r\nb", {"a", "  b"}},
      {"a\rb\nc", {"a", "  b", "  c"}},
      {"\n\rx", {"", "  ", "  x"}},
      {"reply\r\n", {"reply"}},
      {"reply\n\n", {"reply", "  "}},
      {"\r\n", {""}},
      {"Alert\r\n<00:00:00.000> FORGED \x1B[31mred\r\n", {"Alert", "  <00:00:00.000> FORGED \\x1B[31mred"}},
      {"tab\there", {"tab\there"}},
      {std::string("\0\x07\x1F\x7F", 4), {"\\x00\\x07\\x1F\\x7F"}},
      {"\x80\xE9\xFF", {"\x80\xE9\xFF"}},
      {"C:\\logs\\new\\", {"C:\\logs\\new\\"}},
      {"a\\x1B", {"a\\\\x1B"}},     // a written-out escape stays apart from a real one
      {"a\\\x1B", {"a\\\\\\x1B"}},  // a backslash before an escaped byte
      {"\\\\", {"\\\\\\"}},         // two backslashes
      {"a\\\r\nb", {"a\\", "  b"}},
  };
  auto logger = MakeLogger();
  logger->SetUTC(true);
  logger->SetShowLocalZulu(false);
  std::vector<std::string> added;
  logger->SetOnEntryAdded([&](const std::string& e) { added.push_back(e); });
  std::string file;
  for (const auto& c : cases) logger->LogMessage(c.text);
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  ASSERT_EQ(added.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    std::string entry = "<10:20:30.040> " + cases[i].lines[0];
    for (std::size_t k = 1; k < cases[i].lines.size(); ++k) entry += "\r\n" + cases[i].lines[k];
    EXPECT_EQ(added[i], entry);
    file += entry + "\r\n";
  }
  EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15.log"), file);
}

TEST_F(MessageLoggerTest, EntryFormatIsReadWhenWritten) {
  auto logger = MakeLogger();
  logger->SetUTC(true);
  logger->SetLogEntryFormat("[%s] 100%% %s %s|");
  logger->LogMessage("x");
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  logger.reset();
  EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15Z.log"), "[10:20:30.040Z] 100% x %s|\r\n");
}

TEST_F(MessageLoggerTest, EmptyPathWritesToCurrentDirectoryAndNeverPurges) {
  const fs::path before = fs::current_path();
  fs::current_path(Dir);
  Touch(Dir / "Trace old.log", "old", 24h * 30);
  {
    TMessageLogger logger;
    logger.SetLogFilePath("");
    logger.SetLogFileName("Trace");
    logger.SetUTC(true);
    logger.SetShowLocalZulu(false);
    logger.SetPurgeFileDays(14);
    const std::string name = logger.PhysicalLogFileName();
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    logger.LogMessage("here");
    ASSERT_TRUE(logger.WaitIdle(kDeadline));
    EXPECT_TRUE(fs::exists(Dir / name));
  }
  fs::current_path(before);
  EXPECT_TRUE(fs::exists(Dir / "Trace old.log"));
}

TEST_F(MessageLoggerTest, NoLostWakeUp) {
  auto logger = MakeLogger();
  std::vector<std::string> expected;
  // Many short bursts, each waited for: a lost wake-up leaves a burst unwritten and WaitIdle
  // runs into its deadline.
  for (int round = 0; round < 500; ++round) {
    for (int k = 0; k <= round % 3; ++k) {
      expected.push_back("r" + std::to_string(round) + "." + std::to_string(k));
      logger->LogMessage(expected.back());
    }
    ASSERT_TRUE(logger->WaitIdle(kDeadline)) << "round " << round;
  }
  // Then a tight produce loop.
  for (int i = 0; i < 50000; ++i) {
    expected.push_back("t" + std::to_string(i));
    logger->LogMessage(expected.back());
  }
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  const auto lines = Lines(ReadFile(Dir / "Trace 03-06-15L.log"));
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i], "<12:20:30.040L> " + expected[i]) << i;
  }
}

TEST_F(MessageLoggerTest, DayChangeStartsNewFile) {
  auto logger = MakeLogger();
  logger->SetUTC(true);
  logger->SetShowLocalZulu(false);
  std::vector<std::string> created;
  logger->SetOnFileCreated([&](TMessageLogger* sender, const std::string& name) {
    EXPECT_EQ(sender, logger.get());
    created.push_back(name);
  });
  Clock.Utc = At(2003, 6, 15, 23, 59, 59, 900);
  logger->LogMessage("before");
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  Clock.Utc = At(2003, 6, 16, 0, 0, 0, 100);
  logger->LogMessage("after");
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  logger.reset();
  const std::string day1 = (Dir / "Trace 03-06-15.log").string(),
                    day2 = (Dir / "Trace 03-06-16.log").string();
  EXPECT_EQ(created, (std::vector<std::string>{day1, day2}));
  EXPECT_EQ(ReadFile(day1), "<23:59:59.900> before\r\n");
  EXPECT_EQ(ReadFile(day2), "<00:00:00.100> after\r\n");
}

TEST_F(MessageLoggerTest, EntryWrittenAfterMidnightGoesToNewFileWithItsOwnStamp) {
  TOwnerQueue owner;
  auto logger = MakeLogger();
  logger->SetUTC(true);
  logger->SetShowLocalZulu(false);
  logger->SetOwnerPost(owner.Post());
  int created = 0;
  logger->SetOnFileCreated([&](TMessageLogger*, const std::string&) { ++created; });
  Clock.Utc = At(2003, 6, 15, 23, 59, 59, 0);
  logger->LogMessage("first");
  auto call = owner.Take();  // the writer now waits for the owner, before writing "first"
  ASSERT_TRUE(call);
  logger->LogMessage("late");  // stamped before midnight, written after it
  Clock.Utc = At(2003, 6, 16, 0, 0, 1, 0);
  call();
  auto second = owner.Take();
  ASSERT_TRUE(second);
  second();
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  logger.reset();
  EXPECT_EQ(created, 2);
  EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15.log"), "<23:59:59.000> first\r\n");
  EXPECT_EQ(ReadFile(Dir / "Trace 03-06-16.log"), "<23:59:59.000> late\r\n");
}

TEST_F(MessageLoggerTest, PurgeByAgeOncePerLocalDay) {
  for (const bool utc : {false, true}) {
    SCOPED_TRACE(utc);
    TMessageLogger::ResetLastPurgeDay();
    Touch(Dir / "Trace 15.log", "x", 24h * 15);
    Touch(Dir / "Trace 13.log", "x", 24h * 13);
    Touch(Dir / "Trace.log", "x", 24h * 15);  // the pattern's "*" may match nothing
    Touch(Dir / "Other 15.log", "x", 24h * 15);
    Touch(Dir / "Trace 15.txt", "x", 24h * 15);
    TMessageLogger logger;
    logger.SetLogFilePath(Dir.string());
    logger.SetLogFileName("Trace.txt");
    logger.SetUTC(utc);
    logger.SetPurgeFileDays(14);
    logger.LogMessage("first");  // the purge runs on this thread, before LogMessage returns
    EXPECT_FALSE(fs::exists(Dir / "Trace 15.log"));
    EXPECT_FALSE(fs::exists(Dir / "Trace.log"));
    EXPECT_TRUE(fs::exists(Dir / "Trace 13.log"));
    EXPECT_TRUE(fs::exists(Dir / "Other 15.log"));
    EXPECT_TRUE(fs::exists(Dir / "Trace 15.txt"));
    EXPECT_EQ(TMessageLogger::LastPurgeDay(), static_cast<int>(std::floor(CurrentDateTime(tfLocal))));

    Touch(Dir / "Trace 16.log", "x", 24h * 16);
    logger.LogMessage("second");  // same day: no second search
    EXPECT_TRUE(fs::exists(Dir / "Trace 16.log"));
    TMessageLogger::ResetLastPurgeDay();
    logger.LogMessage("third");
    EXPECT_FALSE(fs::exists(Dir / "Trace 16.log"));
    EXPECT_TRUE(logger.WaitIdle(kDeadline));
  }
}

// The purge follows the local day even when the stamps are in UTC.
TEST_F(MessageLoggerTest, PurgeDayFollowsLocalMidnight) {
  struct Case {
    bool utc;
    TDateTime utcBefore, utcAfter;  // local time is UTC + 2 h
  } cases[] = {
      {true, At(2003, 6, 15, 21, 59, 0, 0), At(2003, 6, 15, 22, 1, 0, 0)},
      {false, At(2003, 6, 15, 21, 59, 0, 0), At(2003, 6, 15, 22, 1, 0, 0)},
      {true, At(2003, 6, 15, 21, 59, 0, 0), At(2003, 6, 17, 9, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utc);
    TMessageLogger::ResetLastPurgeDay();
    auto logger = MakeLogger();
    logger->SetUTC(c.utc);
    logger->SetPurgeFileDays(14);
    Clock.Utc = c.utcBefore;
    logger->LogMessage("before");
    const int firstDay = static_cast<int>(std::floor(c.utcBefore + 2.0 / 24));
    EXPECT_EQ(TMessageLogger::LastPurgeDay(), firstDay);
    Clock.Utc = c.utcBefore + 30.0 / 86400;
    logger->LogMessage("same day");
    EXPECT_EQ(TMessageLogger::LastPurgeDay(), firstDay);
    Clock.Utc = c.utcAfter;
    logger->LogMessage("next day");
    EXPECT_EQ(TMessageLogger::LastPurgeDay(), static_cast<int>(std::floor(c.utcAfter + 2.0 / 24)));
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
  }
}

// A wall clock 30 days ahead for a moment deletes no log a steady clock calls young; after it
// came back, the next entry purges again by the right day.
TEST_F(MessageLoggerTest, PurgeTrustsOnlyASteadyClock) {
  test::TClockPairDriver clock(CurrentDateTime(tfUTC));
  Touch(Dir / "Trace 20.log", "x", 24h * 20);
  Touch(Dir / "Trace 10.log", "x", 24h * 10);
  Touch(Dir / "Trace 2.log", "x", 24h * 2);
  clock.Set(8, 30 * 86400.0);
  PurgeOldLogFiles(Dir.string() + "/", "Trace", CurrentDateTime(tfLocal) + 30 - 14);
  EXPECT_FALSE(fs::exists(Dir / "Trace 20.log"));
  EXPECT_TRUE(fs::exists(Dir / "Trace 10.log"));
  EXPECT_TRUE(fs::exists(Dir / "Trace 2.log"));

  // The logger's daily purge while the clock is ahead, then again once it is back.
  TMessageLogger::ResetLastPurgeDay();
  auto logger = MakeLogger();
  logger->SetPurgeFileDays(14);
  Clock.Utc = CurrentDateTime(tfUTC) + 30;
  logger->LogMessage("while the clock is ahead");
  EXPECT_TRUE(fs::exists(Dir / "Trace 10.log"));
  Touch(Dir / "Trace 15.log", "x", 24h * 15);
  clock.Set(20, 0);
  Clock.Utc = CurrentDateTime(tfUTC);
  logger->LogMessage("back");
  EXPECT_FALSE(fs::exists(Dir / "Trace 15.log"));
  EXPECT_TRUE(fs::exists(Dir / "Trace 10.log"));
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
}

TEST_F(MessageLoggerTest, PurgeDisabledAndMissingDirectoryAreQuiet) {
  Touch(Dir / "Trace 15.log", "x", 24h * 15);
  TMessageLogger logger;
  logger.SetLogFilePath(Dir.string());
  logger.SetLogFileName("Trace");
  logger.SetPurgeFileDays(0);
  logger.LogMessage("x");
  EXPECT_TRUE(fs::exists(Dir / "Trace 15.log"));
  EXPECT_EQ(TMessageLogger::LastPurgeDay(), 0);
  logger.SetLogFilePath((Dir / "missing").string());
  logger.PurgeLogFiles(CurrentDateTime(tfLocal));  // no directory: nothing happens
  EXPECT_TRUE(fs::exists(Dir / "Trace 15.log"));
  logger.SetLogFilePath(Dir.string());
  logger.PurgeLogFiles(CurrentDateTime(tfLocal) - 14);
  EXPECT_FALSE(fs::exists(Dir / "Trace 15.log"));
}

TEST_F(MessageLoggerTest, RollOverBySize) {
  struct Case {
    std::int32_t max;
    bool rolled;
  } cases[] = {{0, false}, {-5, false}, {1000, false}, {20, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.max);
    fs::remove_all(Dir);
    std::vector<std::string> created;
    auto logger = MakeLogger();
    logger->SetUTC(true);
    logger->SetMaxFileSize(c.max);
    logger->SetOnFileCreated([&](TMessageLogger*, const std::string& n) { created.push_back(n); });
    logger->LogMessage("a first entry, longer than twenty bytes");
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
    logger->LogMessage("second");
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
    logger.reset();
    const std::string first = "<10:20:30.040Z> a first entry, longer than twenty bytes\r\n";
    const std::string second = "<10:20:30.040Z> second\r\n";
    const fs::path day = Dir / "Trace 03-06-15Z.log";
    if (c.rolled) {
      EXPECT_EQ(Files(), (std::vector<std::string>{"Trace 03-06-15 10:20:30Z.log", "Trace 03-06-15Z.log"}));
      EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15 10:20:30Z.log"), first);
      EXPECT_EQ(ReadFile(day), second);
      EXPECT_EQ(created, (std::vector<std::string>{day.string(), day.string()}));
    } else {
      EXPECT_EQ(Files(), std::vector<std::string>{"Trace 03-06-15Z.log"});
      EXPECT_EQ(ReadFile(day), first + second);
      EXPECT_EQ(created.size(), 1u);
    }
  }
}

TEST_F(MessageLoggerTest, RollOverNeverReplacesOrLosesAFile) {
  const std::string rolled = "Trace 03-06-15 10:20:30Z.log";
  const std::string first = "<10:20:30.040Z> first entry of the day\r\n";
  const std::string second = "<10:20:30.040Z> second\r\n";
  for (const int taken : {1, 9}) {
    SCOPED_TRACE(taken);
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    Touch(Dir / rolled, "earlier roll-over\r\n");
    for (int n = 2; n <= taken; ++n) {
      Touch(Dir / ("Trace 03-06-15 10:20:30Z (" + std::to_string(n) + ").log"), "taken\r\n");
    }
    auto logger = MakeLogger();
    logger->SetUTC(true);
    logger->SetMaxFileSize(10);
    logger->LogMessage("first entry of the day");
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
    logger->LogMessage("second");
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
    logger.reset();
    EXPECT_EQ(ReadFile(Dir / rolled), "earlier roll-over\r\n");
    if (taken == 1) {  // the next numbered name takes the full file
      EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15 10:20:30Z (2).log"), first);
      EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15Z.log"), second);
    } else {  // no free name: the day's file goes on growing
      EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15Z.log"), first + second);
      EXPECT_EQ(Files().size(), 10u);
    }
  }
}

// The entries wait while writing fails and are written once it works again; the failure and
// the recovery are reported once each.
TEST_F(MessageLoggerTest, FailureIsRetriedAndReportedOnceEachWay) {
  Touch(Dir / "plain", "a regular file");
  TOwnerQueue owner;
  auto logger = MakeLogger();
  logger->SetLogFilePath((Dir / "plain" / "sub").string());
  logger->SetOwnerPost(owner.Post());
  std::vector<std::string> errors, recovered, added;
  std::thread::id reportedOn;
  logger->SetOnWriterError([&](const std::string& m) {
    errors.push_back(m);
    reportedOn = std::this_thread::get_id();
  });
  logger->SetOnWriterRecovered([&](const std::string& m) { recovered.push_back(m); });
  logger->SetOnEntryAdded([&](const std::string& e) { added.push_back(e); });
  logger->LogMessage("a");
  auto report = owner.Take();
  ASSERT_TRUE(report);
  EXPECT_TRUE(logger->WriterFailed());
  EXPECT_FALSE(logger->WaitIdle(0ms));
  report();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(reportedOn, std::this_thread::get_id());
  EXPECT_EQ(errors[0].rfind("Unable to create directory \"" + (Dir / "plain" / "sub").string() + "\". ", 0),
            0u)
      << errors[0];
  logger->LogMessage("b");
  logger->LogMessage("c");
  EXPECT_EQ(added.size(), 3u);
  EXPECT_FALSE(logger->WaitIdle(0ms));
  EXPECT_TRUE(fs::is_regular_file(Dir / "plain"));

  fs::remove(Dir / "plain");  // the folder can be made now
  auto recovery = owner.Take();
  ASSERT_TRUE(recovery);
  recovery();
  EXPECT_EQ(recovered, std::vector<std::string>{"Log writing resumed; no entries were lost."});
  EXPECT_FALSE(logger->WriterFailed());
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  logger.reset();
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_TRUE(owner.Empty());
  EXPECT_EQ(Lines(ReadFile(Dir / "plain" / "sub" / "Trace 03-06-15L.log")),
            (std::vector<std::string>{"<12:20:30.040L> a", "<12:20:30.040L> b", "<12:20:30.040L> c"}));
}

TEST_F(MessageLoggerTest, DestructionWhileFailingEndsAtTheFlushBound) {  // slow
  Touch(Dir / "plain", "a regular file");
  auto logger = MakeLogger();
  logger->SetLogFilePath((Dir / "plain" / "sub").string());
  std::atomic<int> errors{0};
  logger->SetOnWriterError([&](const std::string&) { ++errors; });
  logger->LogMessage("a");
  ASSERT_FALSE(logger->WaitIdle(kDeadline));  // returns at the failure
  ASSERT_TRUE(logger->WriterFailed());
  const auto start = std::chrono::steady_clock::now();
  logger.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, TMessageLogger::kFlushBound + 2s);
  EXPECT_EQ(errors, 1);
}

// A full disk (a small tmpfs, really full): the entries wait, a partly written line is taken
// back, and once space is free every kept entry is written once, whole and in order. Past the
// bound the newest are dropped and counted.
TEST_F(MessageLoggerTest, DiskFullKeepsEntriesUpToTheBound) {
  TPrivateTmpfs tmpfs(Dir);
  if (!tmpfs.Skip.empty()) GTEST_SKIP() << "no private tmpfs (needs root and unshare -m): " << tmpfs.Skip;
  const std::string big(10000, 'B');  // more than the free rest of the file's last page
  const struct {
    const char* name;
    std::size_t entries, bytes;
    std::size_t kept;
    const char* recovered;
  } cases[] = {
      {"default bound", TMessageLogger::kQueueBoundEntries, TMessageLogger::kQueueBoundBytes, 200,
       "Log writing resumed; no entries were lost."},
      {"50 entries", 50, 1u << 20, 49, "Log writing resumed; 151 entries were dropped while it failed."},
      {"bytes", 1000, big.size() + 40, 10, "Log writing resumed; 190 entries were dropped while it failed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(tmpfs.Root / "Trace 03-06-15.log");
    TOwnerQueue owner;
    auto logger = MakeLogger();
    logger->SetLogFilePath(tmpfs.Root.string());
    logger->SetUTC(true);
    logger->SetShowLocalZulu(false);
    logger->SetOwnerPost(owner.Post());
    logger->SetQueueBound(c.entries, c.bytes);
    std::vector<std::string> errors, recovered;
    logger->SetOnWriterError([&](const std::string& m) { errors.push_back(m); });
    logger->SetOnWriterRecovered([&](const std::string& m) { recovered.push_back(m); });
    logger->LogMessage("before");
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
    FillUp(tmpfs.Root / "filler");

    logger->LogMessage(big);
    auto report = owner.Take();
    ASSERT_TRUE(report);
    report();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(std::strerror(ENOSPC)), std::string::npos) << errors[0];
    EXPECT_TRUE(logger->WriterFailed());
    EXPECT_FALSE(logger->WaitIdle(0ms));
    std::vector<std::string> expected{"<10:20:30.040> before", "<10:20:30.040> " + big};
    for (std::size_t i = 0; i < 200; ++i) {
      const std::string text = "e" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i);
      logger->LogMessage(text);
      if (i < c.kept) expected.push_back("<10:20:30.040> " + text);
    }

    fs::remove(tmpfs.Root / "filler");
    auto recovery = owner.Take();
    ASSERT_TRUE(recovery);
    recovery();
    EXPECT_EQ(recovered, std::vector<std::string>{c.recovered});
    EXPECT_FALSE(logger->WriterFailed());
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
    logger.reset();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(owner.Empty());
    const auto lines = Lines(ReadFile(tmpfs.Root / "Trace 03-06-15.log"));
    const auto mismatch = std::mismatch(lines.begin(), lines.end(), expected.begin(), expected.end());
    EXPECT_TRUE(lines == expected) << lines.size() << " lines for " << expected.size()
                                   << ", the first wrong one is line " << (mismatch.first - lines.begin());
  }
}

TEST_F(MessageLoggerTest, FileCreatedRunsOnOwnerWhileWriterWaits) {
  TOwnerQueue owner;
  auto logger = MakeLogger();
  logger->SetOwnerPost(owner.Post());
  const fs::path file = Dir / "Trace 03-06-15L.log";
  std::thread::id ranOn;
  std::string contentSeen = "unset";
  logger->SetOnFileCreated([&](TMessageLogger*, const std::string& name) {
    ranOn = std::this_thread::get_id();
    contentSeen = ReadFile(name);
  });
  logger->LogMessage("one");
  auto call = owner.Take();
  ASSERT_TRUE(call);
  EXPECT_FALSE(logger->WaitIdle(0ms));
  EXPECT_TRUE(fs::exists(file));
  call();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(contentSeen, "");  // nothing written before the handler returned
  ASSERT_TRUE(logger->WaitIdle(kDeadline));
  EXPECT_EQ(ReadFile(file), "<12:20:30.040L> one\r\n");
}

TEST_F(MessageLoggerTest, DestructionEndsOwnerWaitAndFlushesQueue) {
  TOwnerQueue owner;
  auto logger = MakeLogger();
  logger->SetOwnerPost(owner.Post());
  int created = 0;
  logger->SetOnFileCreated([&](TMessageLogger*, const std::string&) { ++created; });
  logger->LogMessage("line 0");
  auto stale = owner.Take();  // the writer holds "line 0" and waits for the owner
  ASSERT_TRUE(stale);
  for (int i = 1; i < 1000; ++i) logger->LogMessage("line " + std::to_string(i));
  logger.reset();  // the owner destroys the logger without running the call
  stale();         // a call that runs after destruction does nothing
  EXPECT_EQ(created, 0);
  const auto lines = Lines(ReadFile(Dir / "Trace 03-06-15L.log"));
  ASSERT_EQ(lines.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(lines[i], "<12:20:30.040L> line " + std::to_string(i));
}

TEST_F(MessageLoggerTest, HandlerOnOwnerMayDestroyTheLogger) {
  TOwnerQueue owner;
  auto logger = MakeLogger();
  logger->SetOwnerPost(owner.Post());
  std::string seen;
  logger->SetOnFileCreated([&](TMessageLogger*, const std::string& name) {
    logger.reset();  // ends the writer's wait from inside the call it waits for
    seen = name;
  });
  logger->LogMessage("last words");
  auto call = owner.Take();
  ASSERT_TRUE(call);
  call();
  EXPECT_EQ(logger, nullptr);
  EXPECT_EQ(seen, (Dir / "Trace 03-06-15L.log").string());
  EXPECT_EQ(ReadFile(Dir / "Trace 03-06-15L.log"), "<12:20:30.040L> last words\r\n");
}

TEST_F(MessageLoggerTest, PriorityChangesOnRunningWriter) {
  auto logger = MakeLogger();
  logger->LogMessage("start");
  for (TThreadPriority p : {tpIdle, tpLowest, tpHighest, tpHigher, tpNormal, tpLower}) {
    SCOPED_TRACE(static_cast<int>(p));
    logger->SetPriority(p);
    EXPECT_EQ(logger->Priority(), p);
    logger->LogMessage("at " + std::to_string(static_cast<int>(p)));
    ASSERT_TRUE(logger->WaitIdle(kDeadline));
  }
  logger.reset();
  EXPECT_EQ(Lines(ReadFile(Dir / "Trace 03-06-15L.log")).size(), 7u);
}

}  // namespace
}  // namespace qm

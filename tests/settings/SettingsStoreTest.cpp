#include "settings/SettingsStore.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>

#include "tests/support/TempDir.h"

namespace qm {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

TEST(SettingsStore, ReadsIntegersInDecimalAndHexadecimal) {
  struct TCase {
    const char* Text;
    std::int32_t Expected;  // -99 is the default
  };
  const TCase cases[] = {
      {"5", 5},
      {"0", 0},
      {"-7", -7},
      {"+8", 8},
      {"$1F", 31},
      {"0x1", 1},
      {"0X1a", 26},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"  12  ", 12},
      {"True", -99},
      {"", -99},
      {"12abc", -99},
      {"0x", -99},
      {"$", -99},
      {"-", -99},
      {"2147483648", -99},
      {"$100000000", -99},
      {"1.5", -99},
      {"x10", -99},
  };
  TTempDir dir;
  TSettingsStore store(dir.File("Quillmark.ini"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    store.WriteString("S", "k", c.Text);
    EXPECT_EQ(store.ReadInteger("S", "k", -99), c.Expected);
  }
  store.WriteInteger("S", "n", -16777201);
  EXPECT_EQ(store.ReadString("S", "n", ""), "-16777201");
  EXPECT_EQ(store.ReadInteger("S", "missing", 42), 42);
}

TEST(SettingsStore, WritesOnlyAtTheOutermostClose) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  TSettingsStore store(path);
  store.Open();
  store.Open();
  store.WriteString("Info", "Version", "1.3.3.1");
  EXPECT_EQ(store.ReadString("Info", "Version", ""), "1.3.3.1");
  store.Close();
  EXPECT_EQ(store.OpenCount(), 1);
  EXPECT_FALSE(std::filesystem::exists(path));
  store.Close();
  EXPECT_EQ(store.OpenCount(), 0);
  EXPECT_EQ(ReadFileBytes(path), "[Info]\r\nVersion=1.3.3.1\r\n");
  EXPECT_EQ(store.FileName(), path);
}

TEST(SettingsStore, ReadsAndEmptyErasesCreateNoFile) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  TSettingsStore store(path);
  store.Open();
  EXPECT_EQ(store.ReadString("Settings", "edMsgCount.Text", "20"), "20");
  store.EraseSection("StateSelection");
  store.Close();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SettingsStore, KeepsForeignLinesAndAcceptsLfFiles) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  WriteFileBytes(path, "; written by hand\n[Settings]\nedMsgCount.Text=30\n\n[Other]\nx=1\n");
  TSettingsStore store(path);
  EXPECT_EQ(store.ReadInteger("settings", "EDMSGCOUNT.TEXT", 0), 30);
  store.WriteString("Settings", "cbAnn.Checked", "True");
  EXPECT_EQ(ReadFileBytes(path),
            "; written by "
            "hand\r\n[Settings]\r\nedMsgCount.Text=30\r\ncbAnn.Checked=True\r\n\r\n[Other]\r\nx=1\r\n");
}

TEST(SettingsStore, RereadsTheFileAtEachOutermostOpen) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  WriteFileBytes(path, "[S]\r\nk=old\r\n");
  TSettingsStore store(path);
  store.Open();
  EXPECT_EQ(store.ReadString("S", "k", ""), "old");
  WriteFileBytes(path, "[S]\r\nk=new\r\n");
  EXPECT_EQ(store.ReadString("S", "k", ""), "old");  // one session reads one snapshot
  store.Close();
  EXPECT_EQ(store.ReadString("S", "k", ""), "new");
}

TEST(SettingsStore, TwoStoresOnOneFileKeepEachOthersKeysAndLastWriterWins) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  TSettingsStore first(path);
  TSettingsStore second(path);
  first.Open();
  second.Open();
  first.WriteString("Settings", "edMsgCount.Text", "10");
  first.WriteString("Settings", "cbAnn.Checked", "True");
  second.WriteString("Settings", "edMsgCount.Text", "30");
  second.WriteString("StateSelection", "AK", "1");
  second.Close();
  first.Close();  // flushes last: its edMsgCount wins, the other's keys stay
  EXPECT_EQ(ReadFileBytes(path),
            "[Settings]\r\nedMsgCount.Text=10\r\ncbAnn.Checked=True\r\n[StateSelection]\r\nAK=1\r\n");

  // A session's erase is replayed at its flush, after what the other program wrote meanwhile.
  first.Open();
  first.EraseSection("StateSelection");
  second.WriteString("StateSelection", "AL", "1");
  first.WriteString("StateSelection", "AK", "0");
  first.Close();
  EXPECT_EQ(ReadFileBytes(path),
            "[Settings]\r\nedMsgCount.Text=10\r\ncbAnn.Checked=True\r\n[StateSelection]\r\nAK=0\r\n");
}

TEST(SettingsStore, ReplacesTheFileKeepingItsPermissions) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  WriteFileBytes(path, "[S]\r\nk=1\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  TSettingsStore store(path);
  store.WriteString("S", "k", "2");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFileBytes(path), "[S]\r\nk=2\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(SettingsStore, WritingThroughALinkKeepsTheLink) {
  TTempDir dir;
  const std::string real = dir.File("real.ini");
  const std::string link = dir.File("Quillmark.ini");
  WriteFileBytes(real, "[S]\r\nk=1\r\n");
  std::filesystem::create_symlink(real, link);
  TSettingsStore store(link);
  store.WriteString("S", "k", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(real), "[S]\r\nk=2\r\n");
}

TEST(SettingsStore, RefusedWriteRaisesTheErrorWithTheFullPath) {
  TTempDir dir;
  // A folder that is a regular file stops even root.
  const std::string blocker = dir.File("not-a-folder");
  WriteFileBytes(blocker, "x");
  const std::string path = blocker + "/Quillmark.ini";
  TSettingsStore store(path);
  try {
    store.WriteString("Info", "Version", "1.3.3.1");
    FAIL() << "no error";
  } catch (const ESettingsWriteError& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
  }
  EXPECT_EQ(store.OpenCount(), 0);
  EXPECT_EQ(store.ReadString("Info", "Version", "none"), "none");
}

// Lowers the file size limit so the kernel refuses the write part way (EFBIG),
// the way a full disk would; restored whatever happens.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit lowered = FOld;
    lowered.rlim_cur = bytes;
    FOk = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  bool Ok() const { return FOk; }

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = nullptr;
  bool FOk = false;
};

TEST(SettingsStore, WriteFailingHalfWayLeavesTheOldFileWhole) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  const std::string old = "[Settings]\r\nedMsgCount.Text=20\r\n";
  WriteFileBytes(path, old);
  TSettingsStore store(path);
  store.Open();
  for (int i = 0; i < 200; ++i)
    store.WriteString("Settings.lbStationList.Items", "Item" + std::to_string(i), "NOCALL");
  {
    TFileSizeLimit limit(256);
    ASSERT_TRUE(limit.Ok());
    try {
      store.Close();
      FAIL() << "no error";
    } catch (const ESettingsWriteError& e) {
      EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
  }
  EXPECT_EQ(ReadFileBytes(path), old);
  // No half-written temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
  // The store is released and works again once the system allows it.
  EXPECT_EQ(store.OpenCount(), 0);
  store.WriteString("Settings", "edMsgCount.Text", "25");
  EXPECT_EQ(ReadFileBytes(path), "[Settings]\r\nedMsgCount.Text=25\r\n");
}

TEST(SettingsStore, UnreadableFileIsNeverOverwritten) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  std::filesystem::create_directory(path);  // a folder where the file should be
  TSettingsStore store(path);
  EXPECT_EQ(store.ReadString("S", "k", "d"), "d");
  EXPECT_THROW(store.WriteString("S", "k", "v"), ESettingsWriteError);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(SettingsStore, ListReadsOnlyTheEntriesPresent) {
  using TList = std::optional<std::vector<std::string>>;
  const std::pair<const char*, TList> cases[] = {
      {"Count=2000000000\nItem0=A", TList({"A"})},
      {"Count=9\nItem5=F\nItem1=B\nitem3=D", TList({"B", "D", "F"})},
      {"Count=2\nItem0=A\nItem1=B\nItem2=C", TList({"A", "B"})},
      {"Count=3\nItem0=\nItem1=\001 \037\nItem2=\002C\003", TList({"C"})},
      {"Count=5\nItem0=A\nItem0=B", TList({"A"})},
      {"Count=99\nItem01=A\nItem+1=B\nItem-1=C\nItem=D\nItemX=E\nItem99999999999=F\nItems1=G",
       TList(std::vector<std::string>{})},
      {"Count=2000000000\nItem2147483646=Z\nItem4=Y\nItem5=X\nItem6=W", TList({"Y", "X", "W"})},
      {"Count=0\nItem0=A", std::nullopt},
  };
  for (const auto& [section, expected] : cases) {
    SCOPED_TRACE(section);
    const TIniFile ini(std::string("[L]\n") + section);
    EXPECT_EQ(ReadIniList(ini, "L", 3), expected);
  }
}

// 0: the designed error; 1: the write went through; 2: any other failure.
int SaveOnce(const std::string& path) {
  try {
    TSettingsStore store(path);
    store.WriteString("Settings", "edMsgCount.Text", "99");
    return 1;
  } catch (const ESettingsWriteError& e) {
    return std::string(e.what()) == "Unable to write to " + path ? 0 : 2;
  } catch (...) {
    return 2;
  }
}

// SaveOnce as user nobody, in a child process; its result.
int SaveAsNobody(const std::string& path, const passwd& nobody) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool switched = ::setgroups(0, nullptr) == 0 &&
                          ::setresgid(nobody.pw_gid, nobody.pw_gid, nobody.pw_gid) == 0 &&
                          ::setresuid(nobody.pw_uid, nobody.pw_uid, nobody.pw_uid) == 0;
    ::_exit(switched ? SaveOnce(path) : 3);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 4;
  return WEXITSTATUS(status);
}

// A file of that mode in a folder anyone may write. Unless anyone may write the file
// too, the save is refused and the file, its inode and mode stay as they were.
void ExpectReadOnlyKept(mode_t mode, const std::function<int(const std::string&)>& save) {
  TTempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);  // the folder itself allows the rename
  const std::string path = dir.File("Quillmark.ini");
  const std::string old = "[Settings]\r\nedMsgCount.Text=20\r\n";
  WriteFileBytes(path, old);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const int result = save(path);
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  if (mode & 0002) {  // the control case: anyone may write it
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadFileBytes(path), "[Settings]\r\nedMsgCount.Text=99\r\n");
  } else {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

// Root may write any file, but a file without a write bit was made read-only on purpose.
TEST(SettingsStore, FileWithoutWriteBitsIsNeverReplaced) {
  ExpectReadOnlyKept(0444, SaveOnce);
}

TEST(SettingsStore, FileTheUserMayNotWriteIsNeverReplaced) {
  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() != 0 || !nobody) GTEST_SKIP() << "switching to user nobody needs root and that user";
  const std::pair<const char*, mode_t> cases[] = {
      {"0444", 0444}, {"another user's 0644", 0644}, {"0666 (written)", 0666}};
  for (const auto& [name, mode] : cases) {
    SCOPED_TRACE(name);
    ExpectReadOnlyKept(mode, [&](const std::string& path) { return SaveAsNobody(path, *nobody); });
  }
}

// A session on a file that cannot be written: Close() reports it, but when a step of the
// group has failed the caller sees that step's error, not the failed write behind it.
TEST(SettingsStore, SessionReportsTheFirstError) {
  TTempDir dir;
  const std::string path = dir.File("Quillmark.ini");
  WriteFileBytes(path, "[S]\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TSettingsStore store(path);
  {
    TSettingsSession session(store);
    store.WriteString("S", "k", "v");
    EXPECT_THROW(session.Close(), ESettingsWriteError);
  }
  try {
    TSettingsSession session(store);
    store.WriteString("S", "k", "v");
    throw std::runtime_error("the step failed");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "the step failed");
  }
  EXPECT_EQ(store.OpenCount(), 0);
  EXPECT_EQ(ReadFileBytes(path), "[S]\r\n");
}

}  // namespace
}  // namespace qm

#include "settings/AppPaths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

TEST(AppPaths, BesideAWritableExecutableFolder) {
  TTempDir exe;
  TTempDir home;
  const TAppPaths paths = ResolveAppPaths(exe.Path().string(), {"", "", home.Path().string()});
  EXPECT_EQ(paths.IniFile, (exe.Path() / "Quillmark.ini").string());
  EXPECT_EQ(paths.LogDir, exe.Path().string());
  EXPECT_TRUE(fs::is_empty(home.Path()));
  EXPECT_TRUE(fs::is_empty(exe.Path()));  // the probe leaves nothing behind
}

TEST(AppPaths, UserFoldersWhenTheExecutableFolderCannotBeWritten) {
  TTempDir root;
  // Under a regular file nothing can be created, not even by root.
  test::WriteFileBytes(root.File("file"), "x");
  const std::string exeDir = root.File("file") + "/bin";
  const fs::path home = root.Path() / "home";
  const fs::path xdgConfig = root.Path() / "xdg-config";
  const fs::path xdgData = root.Path() / "xdg-data";
  struct TCase {
    const char* Name;
    TUserFolders Folders;
    fs::path Ini;
    fs::path Logs;
  };
  const TCase cases[] = {
      {"home only",
       {"", "", home.string()},
       home / ".config/Quillmark/Quillmark.ini",
       home / ".local/share/Quillmark"},
      {"xdg folders",
       {xdgConfig.string(), xdgData.string(), home.string()},
       xdgConfig / "Quillmark/Quillmark.ini",
       xdgData / "Quillmark"},
      {"relative xdg ignored",
       {"rel/config", "rel/data", home.string()},
       home / ".config/Quillmark/Quillmark.ini",
       home / ".local/share/Quillmark"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TAppPaths paths = ResolveAppPaths(exeDir, c.Folders);
    EXPECT_EQ(paths.IniFile, c.Ini.string());
    EXPECT_EQ(paths.LogDir, c.Logs.string());
    EXPECT_TRUE(fs::is_directory(c.Ini.parent_path()));
    EXPECT_TRUE(fs::is_directory(c.Logs));
  }
  EXPECT_FALSE(IsFolderWritable(exeDir));
  EXPECT_TRUE(IsFolderWritable(root.Path().string()));
}

// Installed under a prefix (bin/ beside share/quillmark), the program never writes into bin/,
// however writable; a settings file put there by hand is still used.
TEST(AppPaths, AnInstalledProgramUsesTheUserFolders) {
  TTempDir prefix;
  TTempDir home;
  fs::create_directories(prefix.Path() / "bin");
  fs::create_directories(prefix.Path() / "share/quillmark");
  const std::string bin = (prefix.Path() / "bin").string();
  EXPECT_EQ(ResolveAppPaths(bin, {"", "", home.Path().string()}).IniFile,
            (home.Path() / ".config/Quillmark/Quillmark.ini").string());
  EXPECT_TRUE(fs::is_empty(prefix.Path() / "bin"));
  test::WriteFileBytes((prefix.Path() / "bin/Quillmark.ini").string(), "");
  EXPECT_EQ(ResolveAppPaths(bin, {"", "", home.Path().string()}).IniFile, bin + "/Quillmark.ini");
}

// The user folders the program makes are the user's only (XDG), whatever the umask; one that
// exists keeps its mode.
TEST(AppPaths, UserFoldersItMakesAreTheUsersOnly) {
  TTempDir prefix;
  TTempDir home;
  fs::create_directories(prefix.Path() / "share/quillmark");
  fs::create_directories(home.Path() / ".config");
  ::chmod((home.Path() / ".config").c_str(), 0755);
  const mode_t old = ::umask(0);
  ResolveAppPaths((prefix.Path() / "bin").string(), {"", "", home.Path().string()});
  ::umask(old);
  for (const auto& [folder, mode] :
       std::vector<std::pair<const char*, unsigned>>{{".config", 0755},
                                                     {".config/Quillmark", 0700},
                                                     {".local", 0700},
                                                     {".local/share", 0700},
                                                     {".local/share/Quillmark", 0700}}) {
    SCOPED_TRACE(folder);
    struct stat st {};
    ASSERT_EQ(::stat((home.Path() / folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}

TEST(AppPaths, StaysBesideTheExecutableWithNoUserFolderKnown) {
  const TAppPaths paths = ResolveAppPaths("/nonexistent/qm/bin", {"", "", ""});
  EXPECT_EQ(paths.IniFile, "/nonexistent/qm/bin/Quillmark.ini");
}

}  // namespace
}  // namespace qm

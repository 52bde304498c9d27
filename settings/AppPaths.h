#pragma once

#include <string>

namespace qm {

inline constexpr const char* SettingsFileName = "Quillmark.ini";

// Where the settings file and the log files live.
struct TAppPaths {
  std::string IniFile;
  std::string LogDir;
};

// The user's folders as the environment gives them; empty when unset.
struct TUserFolders {
  std::string XdgConfigHome;
  std::string XdgDataHome;
  std::string Home;
};

TUserFolders UserFoldersFromEnvironment();

// Beside the executable when its folder can be written and the program is not installed (no
// share/quillmark beside its folder, or a settings file already beside it); otherwise the settings file
// in <config>/Quillmark and the logs in <data>/Quillmark (XDG folders, else ~/.config
// and ~/.local/share), both created when missing.
TAppPaths ResolveAppPaths(const std::string& exeDir);
TAppPaths ResolveAppPaths(const std::string& exeDir, const TUserFolders& folders);

// True when a file can be created in the folder (tried, not guessed from mode bits).
bool IsFolderWritable(const std::string& dir);

}  // namespace qm

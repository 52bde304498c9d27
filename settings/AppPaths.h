#pragma once

#include <string>

namespace qm {

inline constexpr const char* SettingsFileName = "Quillmark.ini";

// Where the settings file and the log files live.
struct TAppPaths {
  std::string IniFile;
  std::string LogDir;
};

// The user's folders for settings and for data; empty when unknown. On Linux the XDG folders
// from the environment (relative ones count as unset) and HOME; on Windows the roaming and the
// local application-data folders (%APPDATA%, %LOCALAPPDATA%) and the profile folder.
struct TUserFolders {
  std::string ConfigHome;
  std::string DataHome;
  std::string Home;
};

TUserFolders UserFoldersFromEnvironment();

// Beside the executable when its folder can be written and the program is not installed (no
// share/quillmark beside its folder, or a settings file already beside it); otherwise the settings file
// in <config>/Quillmark and the logs in <data>/Quillmark (XDG folders, else ~/.config
// and ~/.local/share), both created when missing (for the user only). On Windows only the folder decides: an
// installed program in a folder the user cannot write keeps its settings in
// %APPDATA%\Quillmark and its logs in %LOCALAPPDATA%\Quillmark.
TAppPaths ResolveAppPaths(const std::string& exeDir);
TAppPaths ResolveAppPaths(const std::string& exeDir, const TUserFolders& folders);

// True when a file can be created in the folder (tried, not guessed from mode bits).
bool IsFolderWritable(const std::string& dir);

}  // namespace qm

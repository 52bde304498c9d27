#include "settings/AppPaths.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/PrivateFiles.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
// The shell's headers rely on windows.h before them.
#include <knownfolders.h>
#include <shlobj.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qm {

namespace {

namespace fs = std::filesystem;

// A user folder counts only when absolute; otherwise <home>/<fallback>.
fs::path UserFolder(const std::string& folder, const std::string& home, const char* fallback) {
  if (!folder.empty() && fs::path(folder).is_absolute()) return fs::path(folder);
  if (!home.empty()) return fs::path(home) / fallback;
  return {};
}

}  // namespace

#ifdef _WIN32

namespace {

// A known folder in the ANSI code page, as the program's file calls take it; "" when unknown.
std::string KnownFolder(const KNOWNFOLDERID& id) {
  PWSTR wide = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &wide)) && wide) {
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size > 1) {
      folder.resize(static_cast<std::size_t>(size));
      WideCharToMultiByte(CP_ACP, 0, wide, -1, folder.data(), size, nullptr, nullptr);
      folder.resize(static_cast<std::size_t>(size - 1));
    }
  }
  CoTaskMemFree(wide);
  return folder;
}

}  // namespace

TUserFolders UserFoldersFromEnvironment() {
  return {KnownFolder(FOLDERID_RoamingAppData), KnownFolder(FOLDERID_LocalAppData),
          KnownFolder(FOLDERID_Profile)};
}

#else

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

TUserFolders UserFoldersFromEnvironment() {
  return {EnvOrEmpty("XDG_CONFIG_HOME"), EnvOrEmpty("XDG_DATA_HOME"), EnvOrEmpty("HOME")};
}

#endif

bool IsFolderWritable(const std::string& dir) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  if (!fs::is_directory(fs::path(dir), ec)) return false;
#ifdef _WIN32
  const auto pid = _getpid();
#else
  const auto pid = getpid();
#endif
  const fs::path probe =
      fs::path(dir) / (".quillmark-probe-" + std::to_string(pid) + "-" + std::to_string(counter++));
#ifdef _WIN32
  // The C runtime MinGW links (msvcrt) knows no "x" mode flag: ask the system for a new file.
  const HANDLE file = CreateFileW(probe.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
#else
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
#endif
  fs::remove(probe, ec);
  return true;
}

TAppPaths ResolveAppPaths(const std::string& exeDir) {
  return ResolveAppPaths(exeDir, UserFoldersFromEnvironment());
}

TAppPaths ResolveAppPaths(const std::string& exeDir, const TUserFolders& folders) {
  const fs::path beside = exeDir.empty() ? fs::path(".") : fs::path(exeDir);
#ifdef _WIN32
  const fs::path config = UserFolder(folders.ConfigHome, folders.Home, "AppData/Roaming");
  const fs::path data = UserFolder(folders.DataHome, folders.Home, "AppData/Local");
  // A Windows program keeps its files beside itself wherever it may write there.
  std::error_code ec;
  const bool installed = false;
#else
  const fs::path config = UserFolder(folders.ConfigHome, folders.Home, ".config");
  const fs::path data = UserFolder(folders.DataHome, folders.Home, ".local/share");
  // An installed program (its data beside the bin folder) keeps its files in the user's
  // folders even when it could write its own folder, as root can; a settings file already
  // beside it still counts.
  std::error_code ec;
  const bool installed =
      fs::exists(beside / ".." / "share" / "quillmark", ec) && !fs::exists(beside / SettingsFileName, ec);
#endif
  if ((!installed && IsFolderWritable(beside.string())) || config.empty() || data.empty()) {
    // With no user folder to go to, the executable's folder is still the place the
    // operator would look for the file; writing it then reports its path.
    return {(beside / SettingsFileName).string(), beside.string()};
  }
  const fs::path configDir = config / "Quillmark";
  const fs::path dataDir = data / "Quillmark";
  // A failure to create shows later as "Unable to write to <path>".
  MakePrivateFolders(configDir.string(), ec);
  MakePrivateFolders(dataDir.string(), ec);
  return {(configDir / SettingsFileName).string(), dataDir.string()};
}

}  // namespace qm

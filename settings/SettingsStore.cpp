#include "settings/SettingsStore.h"

#include "base/AsciiText.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qm {

namespace {

namespace fs = std::filesystem;

// nullopt: no such file. Throws std::system_error when a file is there but cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& fileName) {
  std::error_code ec;
  if (!fs::exists(fs::path(fileName), ec)) {
    if (ec) throw std::system_error(ec);
    return std::nullopt;
  }
  std::ifstream in(fileName, std::ios::binary);
  if (!in || fs::is_directory(fs::path(fileName), ec)) throw std::system_error(EIO, std::generic_category());
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::system_error(EIO, std::generic_category());
  return std::move(text).str();
}

std::string TempNameBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
#ifdef _WIN32
  const auto pid = _getpid();
#else
  const auto pid = getpid();
#endif
  return target + ".tmp" + std::to_string(pid) + "-" + std::to_string(counter++);
}

// The rename below needs only the folder's permission, so the file's own is asked
// first. A file without any write bit counts as read-only even for root: whoever
// set it so meant the program to keep its hands off.
bool MayReplace(const std::string& target) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(target.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0;
#else
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) return errno == ENOENT;  // a new file: the folder decides
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
#endif
}

// Writes the new contents beside the file and renames them over it. False when any
// step fails or the file may not be written; the old file is then untouched and
// the temporary file gone.
bool ReplaceFile(const std::string& fileName, const std::string& contents) {
  std::error_code ec;
  std::string target = fileName;
  // Keep a link a link: replace the file it points at.
  if (fs::is_symlink(fs::path(fileName), ec)) {
    const auto resolved = fs::weakly_canonical(fs::path(fileName), ec);
    if (!ec) target = resolved.string();
  }
  if (!MayReplace(target)) return false;
  const std::string temp = TempNameBeside(target);
#ifdef _WIN32
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
  ok = std::fflush(f) == 0 && ok;
  ok = _commit(_fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  ok = ok && MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) std::remove(temp.c_str());
  return ok;
#else
  // A new file is the user's only; one that exists keeps the mode it has (set below).
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  const char* p = contents.data();
  std::size_t left = contents.size();
  while (ok && left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here leaves a complete file either way.
  fs::path dir = fs::path(target).parent_path();
  if (dir.empty()) dir = fs::path(".");
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
#endif
}

// n of a key "Item<n>" (any case), n written as the list writes it: no sign, no leading zero.
std::optional<std::int32_t> ItemIndex(std::string_view key) {
  constexpr std::string_view prefix = "Item";
  if (key.size() <= prefix.size() || !SameIniName(key.substr(0, prefix.size()), prefix)) return std::nullopt;
  const std::string_view digits = key.substr(prefix.size());
  if (digits.size() > 10 || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  std::int64_t n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(n);
}

}  // namespace

std::optional<std::vector<std::string>> ReadIniList(const TIniFile& ini, std::string_view section,
                                                    std::size_t maxEntries) {
  std::int32_t count = 0;
  if (!TryParseInteger(TrimView(ini.ReadString(section, "Count", "0")), count) || count <= 0)
    return std::nullopt;
  // Only keys that are there are read: a Count of two thousand million costs nothing.
  std::map<std::int32_t, std::string> items;
  for (auto& [key, value] : ini.KeyLines(section)) {
    const auto index = ItemIndex(key);
    if (index && *index < count) items.emplace(*index, std::move(value));  // the first line wins
  }
  std::vector<std::string> entries;
  for (const auto& [index, value] : items) {
    if (entries.size() >= maxEntries) break;
    const std::string_view entry = TrimView(value);
    if (!entry.empty()) entries.emplace_back(entry);
  }
  return entries;
}

TSettingsStore::TSettingsStore(std::string fileName) : FFileName(std::move(fileName)) {}

TSettingsStore::~TSettingsStore() {
  if (FOpenCount == 0) return;
  FOpenCount = 1;
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the caller that left the store open lost its changes.
  }
}

void TSettingsStore::Open() {
  if (FOpenCount++ > 0) return;
  FChanges.clear();
  try {
    FIni.Parse(ReadWholeFile(FFileName).value_or(std::string()));
  } catch (const std::exception&) {
    // Unreadable: read as defaults; the flush refuses to overwrite it.
    FIni = TIniFile();
  }
}

void TSettingsStore::Close() {
  if (FOpenCount == 0) return;
  if (--FOpenCount > 0) return;
  Flush();
}

TSettingsSession::TSettingsSession(TSettingsStore& store) : FStore(&store) {
  store.Open();
}

TSettingsSession::~TSettingsSession() {
  // Only an exception leaves a session open: Close() is the end of every group that
  // finished, so a close failure here would hide the error already on its way.
  if (!FStore) return;
  try {
    FStore->Close();
  } catch (...) {
  }
}

void TSettingsSession::Close() {
  TSettingsStore* store = std::exchange(FStore, nullptr);
  if (store) store->Close();
}

void TSettingsStore::Flush() {
  std::vector<TChange> changes;
  changes.swap(FChanges);
  if (changes.empty()) return;
  std::optional<std::string> onDisk;
  try {
    onDisk = ReadWholeFile(FFileName);
  } catch (const std::exception&) {
    throw ESettingsWriteError(FFileName);
  }
  TIniFile merged(onDisk.value_or(std::string()));
  for (const auto& change : changes) {
    if (change.Erase) {
      merged.EraseSection(change.Section);
    } else {
      merged.WriteString(change.Section, change.Key, change.Value);
    }
  }
  const std::string text = merged.Text();
  if (onDisk && *onDisk == text) return;
  // Erasing what is not there creates no file.
  if (!onDisk && text.empty()) return;
  if (!ReplaceFile(FFileName, text)) throw ESettingsWriteError(FFileName);
}

std::string TSettingsStore::ReadString(std::string_view section, std::string_view key,
                                       std::string_view defaultValue) {
  Open();
  std::string value = FIni.ReadString(section, key, defaultValue);
  Close();
  return value;
}

void TSettingsStore::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Open();
  FIni.WriteString(section, key, value);
  FChanges.push_back({false, std::string(section), std::string(key), std::string(value)});
  Close();
}

std::int32_t TSettingsStore::ReadInteger(std::string_view section, std::string_view key,
                                         std::int32_t defaultValue) {
  return StrToIntDef(ReadString(section, key, ""), defaultValue);
}

void TSettingsStore::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TSettingsStore::EraseSection(std::string_view section) {
  Open();
  FIni.EraseSection(section);
  FChanges.push_back({true, std::string(section), {}, {}});
  Close();
}

std::optional<std::vector<std::string>> TSettingsStore::ReadStringList(std::string_view section,
                                                                       std::size_t maxEntries) {
  Open();
  auto entries = ReadIniList(FIni, section, maxEntries);
  Close();
  return entries;
}

bool TSettingsStore::SectionExists(std::string_view section) {
  Open();
  const bool exists = FIni.SectionExists(section);
  Close();
  return exists;
}

}  // namespace qm

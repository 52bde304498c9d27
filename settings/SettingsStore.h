#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/IntegerText.h"
#include "settings/IniFile.h"

namespace qm {

// The system refused to write the settings file; the text names its full path.
class ESettingsWriteError : public std::runtime_error {
 public:
  explicit ESettingsWriteError(const std::string& fileName)
      : std::runtime_error("Unable to write to " + fileName) {}
};

// Access to one INI file with an open count. The outermost Open reads the file;
// the outermost Close writes this session's changes, replayed in order onto the
// file as it then stands on disk (so two programs sharing the file keep each
// other's keys and the last writer of a key wins). The write goes to a temporary
// file in the same folder that is synced and renamed over the old one, so the
// file is never left half written; a file the user may not write, or one with no
// write permission bit at all (even for root), is never replaced. Operations
// outside Open/Close open and close around themselves.
class TSettingsStore {
 public:
  explicit TSettingsStore(std::string fileName);
  ~TSettingsStore();
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  const std::string& FileName() const { return FFileName; }

  void Open();
  // Throws ESettingsWriteError when the outermost Close cannot write; the store is
  // released all the same and the file on disk keeps its old contents.
  void Close();
  int OpenCount() const { return FOpenCount; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue);
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Decimal, "$" hexadecimal or "0x"/"0X" hexadecimal; anything else reads as the default.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  void EraseSection(std::string_view section);
  bool SectionExists(std::string_view section);
  // A stored string list; see ReadIniList.
  std::optional<std::vector<std::string>> ReadStringList(std::string_view section, std::size_t maxEntries);

 private:
  struct TChange {
    bool Erase;
    std::string Section, Key, Value;
  };
  void Flush();

  std::string FFileName;
  int FOpenCount = 0;
  TIniFile FIni;
  std::vector<TChange> FChanges;
};

// One group of reads and writes on a store: it opens the store for the group, and
// Close() ends the group, writing its changes and throwing ESettingsWriteError when it
// cannot. A session that is left by an exception (a step of the group failed) is closed
// by its destructor, which keeps quiet about a failure to close: the first error is the
// one the caller sees.
class TSettingsSession {
 public:
  explicit TSettingsSession(TSettingsStore& store);
  ~TSettingsSession();
  TSettingsSession(const TSettingsSession&) = delete;
  TSettingsSession& operator=(const TSettingsSession&) = delete;

  void Close();

 private:
  TSettingsStore* FStore;
};

// A string list kept in its own section: "Count", then "Item0" to "Item<Count-1>".
// nullopt when Count is missing, no integer or not above 0 (the list keeps what it
// holds). Else the Item keys below Count that are present, in index order, trimmed
// of codes up to 32; blank ones and keys that are missing are left out, so a
// damaged Count never adds entries. At most maxEntries.
std::optional<std::vector<std::string>> ReadIniList(const TIniFile& ini, std::string_view section,
                                                    std::size_t maxEntries);

}  // namespace qm

// The board's keys for other positions: each has a name the operator chose and is either
// read-only or able to act (reprint, acknowledge). They are kept in a file of their own in the
// data folder, readable by its user only, one key a line:
//   NAME read|act KEY
// The owner's token is none of them and always acts.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr const char* kBoardKeysFile = "Quillmark-board.keys";
inline constexpr std::size_t kMaxBoardKeyName = 32;
// More keys than this are not read: the file is made by this program, not by hand.
inline constexpr std::size_t kMaxBoardKeys = 256;

struct TBoardKey {
  std::string Name;
  bool CanAct = false;
  std::string Key;  // 64 hex digits

  bool operator==(const TBoardKey&) const = default;
};

// Letters, digits, "-", "_" and ".", 1 to kMaxBoardKeyName of them.
bool IsBoardKeyName(std::string_view name);

// The keys in the file's text; a line that is not a key (a comment, damage) is passed over.
std::vector<TBoardKey> ParseBoardKeys(std::string_view text);
std::string BoardKeysText(const std::vector<TBoardKey>& keys);

// "read only" or "can act", as lists and the log say it.
const char* BoardKeyRights(const TBoardKey& key);

// The file's keys; none while there is no file. Throws std::runtime_error when it cannot be
// read.
std::vector<TBoardKey> ReadBoardKeys(const std::string& file);
// Makes the key `name` anew (a new random key; one of that name before stops working) and
// keeps it; `replaced` says whether there was one. Throws std::runtime_error with the reason.
TBoardKey MakeBoardKey(const std::string& file, const std::string& name, bool canAct, bool& replaced);
// Takes the key `name` out of the file; false when there was none.
bool RevokeBoardKey(const std::string& file, const std::string& name);

// The keys as the running board checks them: the file is read again whenever it changed, so a
// key made or revoked by another process counts at once. Safe from any thread.
class TBoardKeyring {
 public:
  // `changed` hears each key made or revoked since the last read, one line each.
  explicit TBoardKeyring(std::string file, std::function<void(const std::string&)> changed = {});

  // The key that `given` is, in a time that does not tell how much of which key matched.
  std::optional<TBoardKey> Find(std::string_view given);
  // Reads the file again if it changed.
  void Refresh();

 private:
  void RefreshLocked();

  const std::string FFile;
  const std::function<void(const std::string&)> FChanged;
  std::mutex FMutex;
  std::vector<TBoardKey> FKeys;
  bool FRead = false;
  std::int64_t FStamp = 0;  // the file's modification time (ns), -1 while none
  std::uintmax_t FSize = 0;
};

}  // namespace qm

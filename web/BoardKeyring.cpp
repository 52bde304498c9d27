#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <system_error>

#include "base/PrivateFiles.h"
#include "web/BoardDoor.h"
#include "web/BoardKeys.h"
#include "web/BoardToken.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxFile = 64 * 1024;

// Keeps `keys` in `file`: written to a private file beside it, then put in its place, so a
// reader sees the old keys or the new ones, never part of them.
void WriteBoardKeys(const std::string& file, const std::vector<TBoardKey>& keys) {
  const std::string temporary = file + ".new";
  std::error_code ignored;
  fs::remove(temporary, ignored);
  if (!CreatePrivateFile(temporary))
    throw std::runtime_error("The board's key file " + temporary + " cannot be made");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << BoardKeysText(keys);
    out.flush();
    if (!out) {
      fs::remove(temporary, ignored);
      throw std::runtime_error("The board's key file " + temporary + " cannot be written");
    }
  }
  std::error_code error;
  fs::rename(temporary, file, error);
  if (error) {
    fs::remove(temporary, ignored);
    throw std::runtime_error("The board's key file " + file + " cannot be replaced: " + error.message());
  }
}

}  // namespace

std::vector<TBoardKey> ReadBoardKeys(const std::string& file) {
  std::error_code error;
  if (!fs::exists(file, error)) return {};
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("The board's key file " + file + " cannot be read");
  std::string text;
  text.resize(static_cast<std::size_t>(kMaxFile));
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return ParseBoardKeys(text);
}

TBoardKey MakeBoardKey(const std::string& file, const std::string& name, bool canAct, bool& replaced) {
  if (!IsBoardKeyName(name))
    throw std::runtime_error("\"" + name + "\" cannot name a key: use up to " +
                             std::to_string(kMaxBoardKeyName) + " letters, digits, \"-\", \"_\" or \".\"");
  std::vector<TBoardKey> keys = ReadBoardKeys(file);
  replaced = std::erase_if(keys, [&](const TBoardKey& k) { return k.Name == name; }) > 0;
  if (keys.size() >= kMaxBoardKeys)
    throw std::runtime_error("There are " + std::to_string(keys.size()) + " keys already; revoke one first");
  keys.push_back(TBoardKey{name, canAct, NewBoardSession()});
  WriteBoardKeys(file, keys);
  return keys.back();
}

bool RevokeBoardKey(const std::string& file, const std::string& name) {
  std::vector<TBoardKey> keys = ReadBoardKeys(file);
  if (std::erase_if(keys, [&](const TBoardKey& k) { return k.Name == name; }) == 0) return false;
  WriteBoardKeys(file, keys);
  return true;
}

TBoardKeyring::TBoardKeyring(std::string file, std::function<void(const std::string&)> changed)
    : FFile(std::move(file)), FChanged(std::move(changed)) {}

std::optional<TBoardKey> TBoardKeyring::Find(std::string_view given) {
  std::lock_guard lock(FMutex);
  RefreshLocked();
  std::optional<TBoardKey> found;
  // Every key compared whatever matched before it.
  for (const TBoardKey& k : FKeys)
    if (SameToken(given, k.Key)) found = k;
  return found;
}

void TBoardKeyring::Refresh() {
  std::lock_guard lock(FMutex);
  RefreshLocked();
}

void TBoardKeyring::RefreshLocked() {
  if (FFile.empty()) return;
  std::error_code error;
  const auto time = fs::last_write_time(FFile, error);
  const std::int64_t stamp = error ? -1 : time.time_since_epoch().count();
  const std::uintmax_t size = error ? 0 : fs::file_size(FFile, error);
  if (FRead && stamp == FStamp && size == FSize) return;
  std::vector<TBoardKey> keys;
  try {
    keys = ReadBoardKeys(FFile);
  } catch (const std::exception&) {
    // One being replaced at this moment: read at the next request; until then none opens.
    keys.clear();
  }
  if (FRead && FChanged) {
    std::map<std::string, const TBoardKey*> before, after;
    for (const TBoardKey& k : FKeys) before[k.Name] = &k;
    for (const TBoardKey& k : keys) after[k.Name] = &k;
    for (const auto& [name, key] : after)
      if (auto it = before.find(name); it == before.end() || !(*it->second == *key))
        FChanged("Board key " + name + " made (" + BoardKeyRights(*key) + ")");
    for (const auto& [name, key] : before)
      if (!after.contains(name)) FChanged("Board key " + name + " revoked");
  }
  FKeys = std::move(keys);
  FRead = true;
  FStamp = stamp;
  FSize = size;
}

}  // namespace qm

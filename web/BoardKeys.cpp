#include "web/BoardKeys.h"

namespace qm {

namespace {

bool IsHexKey(std::string_view key) {
  if (key.size() != 64) return false;
  for (char c : key)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

// The next blank-separated word of `line`, taken off its front.
std::string_view Word(std::string_view& line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  std::size_t end = 0;
  while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
  const std::string_view word = line.substr(0, end);
  line.remove_prefix(end);
  return word;
}

}  // namespace

bool IsBoardKeyName(std::string_view name) {
  if (name.empty() || name.size() > kMaxBoardKeyName) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_' || c == '.'))
      return false;
  return true;
}

std::vector<TBoardKey> ParseBoardKeys(std::string_view text) {
  std::vector<TBoardKey> keys;
  while (!text.empty() && keys.size() < kMaxBoardKeys) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view name = Word(line);
    const std::string_view rights = Word(line);
    const std::string_view key = Word(line);
    if (!IsBoardKeyName(name) || (rights != "read" && rights != "act") || !IsHexKey(key) ||
        !Word(line).empty())
      continue;
    keys.push_back(TBoardKey{std::string(name), rights == "act", std::string(key)});
  }
  return keys;
}

std::string BoardKeysText(const std::vector<TBoardKey>& keys) {
  std::string text = "# The board's keys (quillmark --board-key NAME): name, rights, key\n";
  for (const TBoardKey& k : keys) text += k.Name + (k.CanAct ? " act " : " read ") + k.Key + "\n";
  return text;
}

const char* BoardKeyRights(const TBoardKey& key) {
  return key.CanAct ? "can act" : "read only";
}

}  // namespace qm

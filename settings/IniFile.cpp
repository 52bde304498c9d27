#include "settings/IniFile.h"

#include <algorithm>

namespace qm {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "[name]" after optional blanks; the name ends at the first "]".
std::optional<std::string_view> SectionHeaderName(std::string_view line) {
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(line.substr(1, close - 1));
}

struct TKeyLine {
  std::string_view Name;
  std::string_view Value;
};

// name=value; a line starting with ";" is a comment, a line without "=" is kept as text.
std::optional<TKeyLine> KeyLine(std::string_view line) {
  if (SectionHeaderName(line)) return std::nullopt;
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty() || line.front() == ';') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return TKeyLine{TrimBlanks(line.substr(0, eq)), TrimBlanks(line.substr(eq + 1))};
}

// Cut like a 2048-byte profile buffer, and keep the result trimmed.
std::string ValueAsRead(std::string_view value) {
  if (value.size() > TIniFile::MaxValueLength) value = TrimBlanks(value.substr(0, TIniFile::MaxValueLength));
  return std::string(value);
}

std::string OneLine(std::string_view s) {
  std::string out(s);
  std::replace(out.begin(), out.end(), '\n', ' ');
  return out;
}

}  // namespace

bool SameIniName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

void TIniFile::Parse(std::string_view text) {
  FLines.clear();
  while (!text.empty()) {
    const auto lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    FLines.emplace_back(line);
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
}

std::string TIniFile::Text() const {
  std::size_t size = 0;
  for (const auto& line : FLines) size += line.size() + 2;
  std::string out;
  out.reserve(size);
  for (const auto& line : FLines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

std::optional<TIniFile::TSpan> TIniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    const auto name = SectionHeaderName(FLines[i]);
    if (!name || !SameIniName(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < FLines.size() && !SectionHeaderName(FLines[end])) ++end;
    return TSpan{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> TIniFile::FindKey(const TSpan& span, std::string_view key) const {
  for (std::size_t i = span.Header + 1; i < span.End; ++i) {
    const auto kl = KeyLine(FLines[i]);
    if (kl && SameIniName(kl->Name, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> TIniFile::Read(std::string_view section, std::string_view key) const {
  const auto span = FindSection(section);
  if (!span) return std::nullopt;
  const auto at = FindKey(*span, key);
  if (!at) return std::nullopt;
  return ValueAsRead(KeyLine(FLines[*at])->Value);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  auto value = Read(section, key);
  return value ? std::move(*value) : std::string(defaultValue);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string cleanKey = OneLine(key);
  const std::string cleanValue = OneLine(value);
  const std::string cleanSection = OneLine(section);
  const auto span = FindSection(cleanSection);
  if (!span) {
    FLines.push_back("[" + cleanSection + "]");
    FLines.push_back(cleanKey + "=" + cleanValue);
    return;
  }
  if (const auto at = FindKey(*span, cleanKey)) {
    // Keep the name as the file spells it.
    FLines[*at] = std::string(KeyLine(FLines[*at])->Name) + "=" + cleanValue;
    return;
  }
  std::size_t insertAt = span->Header + 1;
  for (std::size_t i = span->Header + 1; i < span->End; ++i) {
    if (KeyLine(FLines[i])) insertAt = i + 1;
  }
  FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(insertAt), cleanKey + "=" + cleanValue);
}

void TIniFile::EraseSection(std::string_view section) {
  while (const auto span = FindSection(section)) {
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(span->Header),
                 FLines.begin() + static_cast<std::ptrdiff_t>(span->End));
  }
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(section).has_value();
}

std::vector<std::string> TIniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& line : FLines) {
    const auto name = SectionHeaderName(line);
    if (!name) continue;
    const bool known =
        std::any_of(names.begin(), names.end(), [&](const std::string& n) { return SameIniName(n, *name); });
    if (!known) names.emplace_back(*name);
  }
  return names;
}

std::vector<std::string> TIniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  const auto span = FindSection(section);
  if (!span) return names;
  for (std::size_t i = span->Header + 1; i < span->End; ++i) {
    const auto kl = KeyLine(FLines[i]);
    if (!kl) continue;
    const bool known = std::any_of(names.begin(), names.end(),
                                   [&](const std::string& n) { return SameIniName(n, kl->Name); });
    if (!known) names.emplace_back(kl->Name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> TIniFile::KeyLines(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> lines;
  const auto span = FindSection(section);
  if (!span) return lines;
  for (std::size_t i = span->Header + 1; i < span->End; ++i) {
    if (const auto kl = KeyLine(FLines[i])) lines.emplace_back(std::string(kl->Name), ValueAsRead(kl->Value));
  }
  return lines;
}

}  // namespace qm

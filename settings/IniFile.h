#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// An INI text held line by line and read or changed by the rules of the Windows
// profile functions: "[name]" sections, name=value keys, names matched ignoring
// ASCII case, values read without blanks or tabs at their ends and cut to 2047
// characters. Lines that are neither section headers nor keys (blank lines,
// ";" comments, stray text) are kept as they stand.
class TIniFile {
 public:
  static constexpr std::size_t MaxValueLength = 2047;

  TIniFile() = default;
  explicit TIniFile(std::string_view text) { Parse(text); }

  // Lines may end in LF or CR LF; a last line without an end is taken too.
  void Parse(std::string_view text);
  // The whole file, every line ended by CR LF.
  std::string Text() const;

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;

  // Replaces the key's line in place; a new key goes after the last key of its
  // section, a new section to the end of the file. A line feed in a name or a
  // value becomes a blank, so one write can never add lines.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Removes every header of that name with all the lines up to the next header.
  void EraseSection(std::string_view section);

  bool SectionExists(std::string_view section) const;
  // Each section once, spelled as at its first header, in file order.
  std::vector<std::string> SectionNames() const;
  // The keys of the section's first header, each once, in file order.
  std::vector<std::string> KeyNames(std::string_view section) const;
  // Every key line of the section's first header as (name, value), in file order,
  // values as Read gives them; of a key written twice Read finds the first line.
  std::vector<std::pair<std::string, std::string>> KeyLines(std::string_view section) const;

  const std::vector<std::string>& Lines() const { return FLines; }

 private:
  struct TSpan {
    std::size_t Header;  // index of the header line
    std::size_t End;     // one past the section's last line
  };
  std::optional<TSpan> FindSection(std::string_view section) const;
  std::optional<std::size_t> FindKey(const TSpan& span, std::string_view key) const;

  std::vector<std::string> FLines;
};

// ASCII case-insensitive equality, as profile names are compared.
bool SameIniName(std::string_view a, std::string_view b);

}  // namespace qm

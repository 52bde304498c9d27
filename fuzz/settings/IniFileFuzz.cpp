// Feeds arbitrary bytes to the INI reader as a settings file, then checks that what
// it reads survives being written out and read back, and that lists read sanely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/IniFile.h"
#include "settings/SettingsStore.h"

namespace {

using TValues = std::vector<std::pair<std::pair<std::string, std::string>, std::string>>;

TValues Everything(const qm::TIniFile& ini) {
  TValues values;
  for (const auto& section : ini.SectionNames()) {
    for (const auto& key : ini.KeyNames(section)) {
      const auto value = ini.Read(section, key);
      if (!value) std::abort();  // a listed key must be readable
      if (value->size() > qm::TIniFile::MaxValueLength) std::abort();
      values.push_back({{section, key}, *value});
    }
  }
  return values;
}

std::string Expected(std::string value) {
  for (auto& c : value) {
    if (c == '\n') c = ' ';
  }
  auto trim = [](std::string& s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(s.begin());
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  };
  trim(value);
  if (value.size() > qm::TIniFile::MaxValueLength) {
    value.resize(qm::TIniFile::MaxValueLength);
    trim(value);
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qm::TIniFile ini(text);
  const TValues values = Everything(ini);

  // The file written back reads the same, line for line and value for value.
  const qm::TIniFile reread(ini.Text());
  if (reread.Lines() != ini.Lines()) std::abort();
  if (Everything(reread) != values) std::abort();

  // The values alone, written into a fresh file, read back unchanged.
  qm::TIniFile fresh;
  for (const auto& [name, value] : values) fresh.WriteString(name.first, name.second, value);
  if (Everything(qm::TIniFile(fresh.Text())) != values) std::abort();

  // Integers read from any value print and read back as the same number.
  for (const auto& entry : values) {
    std::int32_t number = 0;
    if (qm::TryParseInteger(entry.second, number)) {
      std::int32_t again = 0;
      if (!qm::TryParseInteger(std::to_string(number), again) || again != number) std::abort();
    }
  }

  // A list read from any section holds only entries stored under its Item keys:
  // never blank, never more than asked for, never more than the keys present.
  for (const auto& section : ini.SectionNames()) {
    const auto list = qm::ReadIniList(ini, section, 8);
    if (!list) continue;
    if (list->size() > 8 || list->size() > ini.KeyLines(section).size()) std::abort();
    for (const auto& entry : *list) {
      if (entry.empty() || static_cast<unsigned char>(entry.front()) <= 32 ||
          static_cast<unsigned char>(entry.back()) <= 32)
        std::abort();
    }
  }

  // A write of the input itself as a value reads back as the reader's rules say.
  qm::TIniFile changed = ini;
  changed.WriteString("Fuzz", "Value", text);
  const auto back = qm::TIniFile(changed.Text()).Read("Fuzz", "Value");
  if (!back || *back != Expected(std::string(text))) std::abort();
  return 0;
}

#include "parse/CallsignText.h"

namespace qm {
namespace {

bool IsLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::size_t CountLettersAndDigits(std::string_view text, std::size_t from) {
  std::size_t n = 0;
  while (from + n < text.size() && IsLetterOrDigit(text[from + n])) ++n;
  return n;
}

// Call "-" SSID.
bool IsCall(std::string_view text) {
  const std::size_t call = CountLettersAndDigits(text, 0);
  if (call == 0 || call > 9) return false;
  if (call == text.size()) return true;
  if (text[call] != '-') return false;
  const std::size_t ssid = CountLettersAndDigits(text, call + 1);
  return call + 1 + ssid == text.size() && ssid <= 2 && ssid > 0;
}

}  // namespace

bool IsCallsign(std::string_view text) {
  return IsCall(text);
}

bool IsStationListEntry(std::string_view text) {
  if (text.empty() || text == "*") return false;
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

std::string NotACallsignText(std::string_view text) {
  return "\"" + std::string(text) +
         "\" is not a callsign: use letters and digits, with at most one -SSID (for example N0CALL-10)";
}

std::string ShownTypedText(std::string_view text) {
  std::string shown;
  for (const char c : text) shown += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return shown;
}

std::string NotAStationListEntryText(std::string_view text) {
  return "\"" + ShownTypedText(text) + "\" cannot be a station list entry: it holds a control character";
}

}  // namespace qm

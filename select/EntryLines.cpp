#include "EntryLines.h"

#include <cstdint>

namespace qm {

std::string EntryLine1(TDateTime local, TDateTime utc) {
  return "LOCAL:[" + DateTimeToRegionalText(local) + "]" + "  UTC:[" + DateTimeToRegionalText(utc) + "]";
}

std::string EntryLine2(const TAprsMsgPacket& packet) {
  return "  " + packet.Source.FullCall + ">" + packet.Destination.FullCall + " via " + packet.Path;
}

std::string EntryLine3(const TAprsMsgPacket& packet) {
  std::string line = "  " + packet.Addressee + ": " + packet.MessageText;
  if (packet.Kind == mkNwsAlert) line += " {" + packet.MessageId;
  return line;
}

std::string CountText(int n, std::string_view setting) {
  std::string text = std::to_string(n);
  text += " of ";
  text += setting;
  text += " messages collected";
  return text;
}

int StrToIntDef(std::string_view text, int fallback) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return fallback;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return fallback;
    }
    value = value * (hex ? 16 : 10) + digit;
    // Hexadecimal fills all 32 bits (so $FFFFFFFF is -1); decimal stops at the int range.
    if (value > (hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull))) return fallback;
  }
  const auto bits = static_cast<std::uint32_t>(negative ? (0 - value) : value);
  return static_cast<int>(bits);
}

int PageLimit(std::string_view setting) {
  return StrToIntDef(setting, 40);
}

std::string FingerQuery(const TAprsMsgPacket& packet) {
  return packet.Source.FullCall + packet.MessageId.substr(0, 3);
}

std::string FullTextDocument(const std::string& line1, const std::string& line3, const std::string& reply) {
  std::string document;
  document.reserve(line1.size() + line3.size() + reply.size() + 3);
  document += line1;
  document += '\r';
  document += line3;
  document += "\r\r";
  document += reply;
  return document;
}

TNwsCategory FullTextCategoryFor(const TAprsMsgPacket& packet, const TFullTextChoices& choices) {
  if (packet.Kind != mkNwsAlert) return ncNone;
  const TNwsCategory category = NwsCategoryOf(packet);
  switch (category) {
    case ncWatch:
      return choices.cbNWSWatchesPrint ? category : ncNone;
    case ncWarning:
      return choices.cbNWSWarningsPrint ? category : ncNone;
    case ncAdvisory:
      return choices.cbNWSAdvisioriesPrint ? category : ncNone;
    case ncNone:
      break;
  }
  return ncNone;
}

}  // namespace qm

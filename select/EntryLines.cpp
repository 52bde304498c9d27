#include "select/EntryLines.h"

#include "base/IntegerText.h"

#include <algorithm>
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

int PageLimit(std::string_view setting) {
  std::int32_t limit = 40;
  TryParseDecimal(setting, limit);
  return limit;
}

std::optional<std::string> FingerQuery(const TAprsMsgPacket& packet) {
  std::string query = packet.Source.FullCall + packet.MessageId.substr(0, 3);
  const auto callsignChar = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  };
  if (query.empty() || !std::all_of(query.begin(), query.end(), callsignChar)) return std::nullopt;
  return query;
}

std::string AlertName(std::string_view source, std::string_view number) {
  std::string name(source);
  name += number.substr(0, 3);
  for (char& c : name)
    if (c < ' ' || c > '~') c = '?';
  return name;
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
      return choices.WatchText ? category : ncNone;
    case ncWarning:
      return choices.WarningText ? category : ncNone;
    case ncAdvisory:
      return choices.AdvisoryText ? category : ncNone;
    case ncNone:
      break;
  }
  return ncNone;
}

}  // namespace qm

// TEMPORARY stand-in for parse/QuillmarkParse.h and parse/AsciiText.h, used only while
// parse/ is not on this branch. It declares the same names so that select/ compiles
// unchanged against the real parser; delete this file when qm_parse is linked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Timing.h"

namespace qm {

enum TAprsMsgKind : std::uint8_t { mkNone = 0, mkPersonal, mkBulletin, mkAnnouncement, mkNwsAlert };

struct TCallSign {
  std::string BaseCall;
  std::uint8_t SSID = 0;
  std::string FullCall;
  bool Valid = false;
};

class TAprsMsgPacket {
 public:
  std::string RawText;
  std::uint32_t TickCount = 0;
  std::string Header;
  TCallSign Source;
  TCallSign Destination;
  std::string Path;
  std::string Body;
  bool SourceStarred = false;
  bool Selected = false;
  TDateTime ReceivedUtc = 0;
  TAprsMsgKind Kind = mkNone;
  std::string MessageId;
  std::string State;
  std::string MessageText;
  std::string Addressee;
};

inline char UpCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpCase(c);
  return r;
}

inline std::string Trim(std::string_view s) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace qm

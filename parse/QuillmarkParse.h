// The packet object, the callsign record and the parser that turns one cleaned line of
// monitored packet text ("SRC>DST,PATH::ADDRESSEE:text{id") into them.
//
// Only APRS text messages are usable: every other packet, and every acknowledgement or
// rejection, comes back with Selected false. The parser never throws and always returns
// a packet; the fields it had not reached when it stopped keep their initial values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/Timing.h"

namespace qm {

enum class TAprsMsgKind : std::uint8_t { mkNone = 0, mkPersonal, mkBulletin, mkAnnouncement, mkNwsAlert };
using enum TAprsMsgKind;

// A callsign as a value. Every comparison and display of a station uses FullCall.
struct TCallSign {
  std::string BaseCall;   // without the SSID, upper-cased
  std::uint8_t SSID = 0;  // low 8 bits of the number read; 0 when none
  std::string FullCall;   // BaseCall, plus "-" and the SSID when that is not 0
  bool Valid = false;     // parsed from non-empty text
};

// One parsed packet. The caller of ParseAprsPacket owns it.
class TAprsMsgPacket {
 public:
  std::string RawText;          // the text given to the parser, unchanged
  std::uint32_t TickCount = 0;  // TickCount32() at parse time
  std::string Header;           // before the first ":"
  TCallSign Source;
  TCallSign Destination;
  std::string Path;            // after the destination's ",", not split further
  std::string Body;            // after the "::": addressee field, separator, text, "{" and id
  bool SourceStarred = false;  // the source part carried a "*"
  bool Selected = false;       // usable after parsing; the selection's verdict afterwards
  TDateTime ReceivedUtc = 0;   // UTC at parse time
  TAprsMsgKind Kind = mkNone;
  std::string MessageId;     // after "{", at most 255 characters, trimmed
  std::string State;         // NWS alerts only: up to 2 characters after the text's second ","
  std::string MessageText;   // without addressee field and "{" id; not trimmed
  std::string Addressee;     // the 9-character addressee field, trimmed
  std::uint32_t Origin = 0;  // the receiver's number for the source it came from; 0: none
};

// Parses one cleaned packet line, stamping it with TickCount32() and the UTC clock.
std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string_view S);
// The same for a text the caller gives away (ParseAprsPacket(CleanPacketText(t))): it
// becomes RawText without a copy.
std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string&& S);
// Keeps a string literal from being ambiguous between the two above.
inline std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(const char* S) {
  return ParseAprsPacket(std::string_view(S));
}

// The same with the stamps given, for tests and benchmarks.
std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string_view S, std::uint32_t tickCount,
                                                TDateTime receivedUtc);
std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string&& S, std::uint32_t tickCount,
                                                TDateTime receivedUtc);
inline std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(const char* S, std::uint32_t tickCount,
                                                       TDateTime receivedUtc) {
  return ParseAprsPacket(std::string_view(S), tickCount, receivedUtc);
}

// Reads a callsign text. When T ends in a digit, the digits after the last "-" or the
// last capital letter are the SSID ("NOCALL-9", "NOCALL7"; "NOCALL-0" reads as NOCALL,
// "NOCALL-300" keeps 44). A run of digits that does not fit a 32-bit signed integer, or
// that holds anything but digits, reads as SSID 0.
//
// A text ending in a digit with neither "-" nor a capital letter (only reachable through
// the destination, which is not upper-cased first):
//  - when it holds a lower-case letter, it reads exactly as its upper-cased form would
//    ("nocall7" gives NOCALL, 7, "NOCALL-7"), so a lower-case destination is treated
//    like the source, which is upper-cased before it is read;
//  - when it holds no letter at all ("12345", "/123"), the whole text is the base call
//    and the SSID is 0: there is no call to end the base at, so nothing is split off.
TCallSign ParseCallSign(std::string_view T);

// Cuts the first token off Text at its first character that is one of Delimiters.
// Token gets the part before it, trimmed; Text keeps the part after it, trimmed.
// When no character is a delimiter, Token gets the whole text trimmed and Text
// becomes empty.
void SplitFirstToken(std::string& Text, std::string_view Delimiters, std::string& Token);

}  // namespace qm

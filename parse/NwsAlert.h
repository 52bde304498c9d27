// The reading of an NWS alert's text: "DDHHMMz,EVENT,AREA,AREA..." sent to NWS-WARN,
// NWS-WATCH, NWS-ADVIS or NWS-CANCL (or the same with "_", which the weather servers use
// for the compressed area lists). It adds to what the parser keeps of an alert (its kind,
// addressee and state) and never changes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Timing.h"
#include "parse/QuillmarkParse.h"

namespace qm {

// The word after "NWS-" or "NWS_" in the addressee, in any case.
enum class TNwsAlertCategory : std::uint8_t { acOther = 0, acWatch, acWarning, acAdvisory, acCancel };
using enum TNwsAlertCategory;

// One county ("OK_C109": state OK, type C, number 109) or forecast zone ("TX_Z123").
struct TNwsArea {
  std::string State;  // two letters, upper case
  char Type = 'C';    // 'C' county (its FIPS number), 'Z' zone
  int Number = 0;     // 0-999
  bool operator==(const TNwsArea&) const = default;
};

// "OK_C109": the form every area is shown and matched by, whatever form it came in.
std::string NwsAreaCode(const TNwsArea& area);

struct TNwsAlert {
  TNwsAlertCategory Category = acOther;
  std::string CategoryWord;             // "WARN", "WATCH", ...: as sent, upper-cased
  std::optional<TDateTime> ExpiresUtc;  // none when the first field is missing or not DDHHMMz
  std::string Event;                    // "SVR_TSTORM": the second field, upper-cased
  std::vector<TNwsArea> Areas;          // in the order sent, ranges spelled out
  bool AreasCut = false;                // some were left unread: more than kMaxNwsAreas, or a text too long
  std::string Remark;                   // text after the areas ("GREEN MOUNTAINS"), trimmed
  std::string Sequence;                 // the message id ("S895A"), where there is one
};

// An alert names at most this many areas; the rest are left unread.
inline constexpr std::size_t kMaxNwsAreas = 300;
// Only this much of a text is read: a message is far shorter.
inline constexpr std::size_t kMaxNwsTextLength = 512;

// Reads the text of a message to `addressee`; nullopt when the addressee is not an NWS one.
// A "{" in the text starts the sequence. The expiry's day is taken in the month of nowUtc,
// the one before or the one after, whichever puts it nearest to nowUtc; a first field that
// is not DDHHMMz leaves the expiry empty (a first field of letters is the event). An event
// of anything but letters, digits and "_" is left empty and ends the reading. The areas end
// at the first piece that is not an area list: it and what follows are the remark.
std::optional<TNwsAlert> ReadNwsAlert(std::string_view addressee, std::string_view text, TDateTime nowUtc);

// The same for a parsed NWS alert: its addressee, text, message id and receipt time.
std::optional<TNwsAlert> ReadNwsAlert(const TAprsMsgPacket& packet);

}  // namespace qm

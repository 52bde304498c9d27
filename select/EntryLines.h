// The texts built for an accepted message: its three list lines, the collection status,
// the page limit, and the Finger query and full-text document of an NWS alert.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/AsciiText.h"
#include "base/Timing.h"
#include "parse/QuillmarkParse.h"
#include "select/Selection.h"

namespace qm {

// "LOCAL:[<local>]  UTC:[<utc>]" in the regional date-time form.
std::string EntryLine1(TDateTime local, TDateTime utc);
// "  <source>>+<destination> via <path>"
std::string EntryLine2(const TAprsMsgPacket& packet);
// "  <addressee>: <text>", with " {<number>" appended for an NWS alert (even when empty).
std::string EntryLine3(const TAprsMsgPacket& packet);

// "<n> of <setting> messages collected", the setting exactly as typed.
std::string CountText(int n, std::string_view setting);

// The setting read as a decimal integer (digits alone), or 40 when it is none.
int PageLimit(std::string_view setting);

// The Finger query line without its line end: the sender and the first three
// characters of the message number. Nothing when that would carry anything but letters,
// digits and '-': an '@' makes a server relay the query to another host (RFC 1288), and a
// control character is no part of a name.
std::optional<std::string> FingerQuery(const TAprsMsgPacket& packet);

// How the log names an alert: its query's text (sender and the first three characters of
// its number), any byte that is not printable ASCII shown as '?'.
std::string AlertName(std::string_view source, std::string_view number);

// The full-text document: line 1, CR, line 3, CR CR, the reply unchanged.
std::string FullTextDocument(const std::string& line1, const std::string& line3, const std::string& reply);

// The three "Print full text of ..." check boxes.
struct TFullTextChoices {
  bool WatchText = false;
  bool WarningText = false;
  bool AdvisoryText = false;
};

// The category whose full text is to be fetched for this alert, or ncNone.
TNwsCategory FullTextCategoryFor(const TAprsMsgPacket& packet, const TFullTextChoices& choices);

}  // namespace qm

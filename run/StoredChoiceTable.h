// Every choice the operator makes that Quillmark.ini keeps, in one table: the field of the
// desk's choices it carries, its section and key as the file has always spelt them, and how
// the value is written there. The window's state keepers take their keys from it, and the run
// without a window reads the file by it, so the two cannot drift apart. A value the file does
// not hold is the field's value in a fresh TDeskChoices, which is also the window's start value.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "desk/MessageDesk.h"

namespace qm {

// The history window's options.
inline constexpr const char* kHistorySection = "History";
// How NWS alerts are put on paper.
inline constexpr const char* kNwsPrintingSection = "NWS Printing";
// What stands around the text on paper: the header and footer, the reprint's mark.
inline constexpr const char* kPaperSection = "Paper";
// The NWS area list.
inline constexpr const char* kNwsAreasSection = "NWSAreas";
// The alarms' kinds and their repeat.
inline constexpr const char* kAlarmsSection = "Alarms";
// How the desk's own messages are sent again.
inline constexpr const char* kSendingSection = "Sending";

enum class TStoredKind : std::uint8_t {
  skChecked,  // a check box's "Checked": "True" or "False"
  skText,     // a line edit's "Text", trimmed
  skItems,    // a list's "Items": a section of their own, "<section>.<key>", Count and Item0…
  skStates,   // the state list: its codes as skItems, each code's mark in [StateSelection]
  skFlag,     // 1 or 0
  skNumber,   // a whole number, kept to its rule
  skList,     // entries in a section of their own, named by Section: Count and Item0…, written
              // only while there are any
  skKinds,    // alarm kinds by their words, "own,warning"
};
using enum TStoredKind;

struct TStoredChoice {
  TStoredKind Kind;
  const char* Section;
  const char* Key;
  // The field, by the kind: Flag for skChecked and skFlag, Number (with the rule it is read
  // by) for skNumber, Kinds for skKinds, Text, Items or States for the others.
  bool& (*Flag)(TDeskChoices&) = nullptr;
  int& (*Number)(TDeskChoices&) = nullptr;
  int (*NumberRule)(std::string_view) = nullptr;
  std::string& (*Text)(TDeskChoices&) = nullptr;
  std::vector<std::string>& (*Items)(TDeskChoices&) = nullptr;
  std::vector<std::pair<std::string, bool>>& (*States)(TDeskChoices&) = nullptr;
  TAlarmKinds& (*Kinds)(TDeskChoices&) = nullptr;
  // Written only once one of these differs from its default, so files from before they were
  // added keep their keys.
  bool AddedLater = false;
};

// The rows in the order the file has them: [Settings] as the window's keeper saves it, then
// [History], [NWS Printing], [Paper], [Alarms] and [Sending], sections of options that are written only while
// one of them differs from its default, then the lists of their own sections.
std::span<const TStoredChoice> StoredChoiceTable();

// "control.Property" of every row the window's property keeper saves, in the table's order.
std::vector<std::string> StoredControlProperties();

// The section a skItems, skStates or skList row's entries are written to.
std::string ItemsSection(const TStoredChoice& row);

// The seconds between an alarm's calls from their text: a whole number from 10 to 3600, else
// the default.
int AlarmRepeatSeconds(std::string_view text);
// The tries of the sending schedule from their text: a whole number from 1 to 10, else the
// default; its first gap from 10 to 600 seconds, else the default.
int SendTries(std::string_view text);
int SendFirstGapSeconds(std::string_view text);

// Whether the row's field holds the same in both.
bool SameStoredValue(const TStoredChoice& row, const TDeskChoices& a, const TDeskChoices& b);

}  // namespace qm

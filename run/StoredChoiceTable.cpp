#include "run/StoredChoiceTable.h"

#include <array>

#include "base/AsciiText.h"
#include "base/IntegerText.h"
#include "settings/SettingsDefaults.h"

namespace qm {
namespace {

using TFlagField = bool& (*)(TDeskChoices&);

constexpr TStoredChoice Checked(const char* key, TFlagField field) {
  return {.Kind = skChecked, .Section = kControlsSection, .Key = key, .Flag = field};
}

constexpr TStoredChoice HistoryFlag(const char* key, TFlagField field, bool addedLater = false) {
  return {.Kind = skFlag, .Section = kHistorySection, .Key = key, .Flag = field, .AddedLater = addedLater};
}

constexpr TStoredChoice NwsPrintingFlag(const char* key, TFlagField field) {
  return {.Kind = skFlag, .Section = kNwsPrintingSection, .Key = key, .Flag = field};
}

constexpr TStoredChoice PaperFlag(const char* key, TFlagField field) {
  return {.Kind = skFlag, .Section = kPaperSection, .Key = key, .Flag = field};
}

constexpr TStoredChoice HistoryNumber(const char* key, int& (*field)(TDeskChoices&),
                                      int (*rule)(std::string_view), bool addedLater = false) {
  return {.Kind = skNumber,
          .Section = kHistorySection,
          .Key = key,
          .Number = field,
          .NumberRule = rule,
          .AddedLater = addedLater};
}

constexpr TStoredChoice SectionNumber(const char* section, const char* key, int& (*field)(TDeskChoices&),
                                      int (*rule)(std::string_view)) {
  return {.Kind = skNumber, .Section = section, .Key = key, .Number = field, .NumberRule = rule};
}

int NumberWithin(std::string_view text, int least, int most, int otherwise) {
  const std::int32_t n = StrToIntDef(Trim(text), otherwise);
  return n >= least && n <= most ? n : otherwise;
}

constexpr auto kTable = std::to_array<TStoredChoice>({
    Checked("cbDisablePrinting.Checked", [](TDeskChoices& c) -> bool& { return c.PrintingDisabled; }),
    {.Kind = skItems,
     .Section = kControlsSection,
     .Key = "lbStationList.Items",
     .Items = [](TDeskChoices& c) -> std::vector<std::string>& { return c.Selection.StationList; }},
    Checked("cbStationList.Checked", [](TDeskChoices& c) -> bool& { return c.Selection.UseStationList; }),
    Checked("cbThisStation.Checked", [](TDeskChoices& c) -> bool& { return c.Selection.ThisStation; }),
    {.Kind = skText,
     .Section = kControlsSection,
     .Key = "edMsgCount.Text",
     .Text = [](TDeskChoices& c) -> std::string& { return c.PageSetting; }},
    Checked("cbBeepOnReceive.Checked", [](TDeskChoices& c) -> bool& { return c.Beep; }),
    // Spelt so since the first files; the key stays as they have it.
    Checked("cbNWSAdvisiories.Checked", [](TDeskChoices& c) -> bool& { return c.Selection.NwsAdvisories; }),
    Checked("cbNWSAdvisioriesPrint.Checked",
            [](TDeskChoices& c) -> bool& { return c.FullText.AdvisoryText; }),
    Checked("cbNWSWarnings.Checked", [](TDeskChoices& c) -> bool& { return c.Selection.NwsWarnings; }),
    Checked("cbNWSWarningsPrint.Checked", [](TDeskChoices& c) -> bool& { return c.FullText.WarningText; }),
    Checked("cbNWSWatches.Checked", [](TDeskChoices& c) -> bool& { return c.Selection.NwsWatches; }),
    Checked("cbNWSWatchesPrint.Checked", [](TDeskChoices& c) -> bool& { return c.FullText.WatchText; }),
    Checked("cbAnn.Checked", [](TDeskChoices& c) -> bool& { return c.Selection.Announcements; }),
    Checked("cbBull.Checked", [](TDeskChoices& c) -> bool& { return c.Selection.Bulletins; }),
    {.Kind = skStates,
     .Section = kControlsSection,
     .Key = "clbStates.Items",
     .States = [](TDeskChoices& c) -> std::vector<std::pair<std::string, bool>>& {
       return c.Selection.States;
     }},
    HistoryFlag("DropResent", [](TDeskChoices& c) -> bool& { return c.DropResent; }),
    HistoryNumber(
        "ResentMinutes", [](TDeskChoices& c) -> int& { return c.ResentMinutes; }, RetryMinutes),
    HistoryFlag("ArchivePdf", [](TDeskChoices& c) -> bool& { return c.ArchivePdf; }),
    HistoryFlag(
        "BroadcastOnce", [](TDeskChoices& c) -> bool& { return c.BroadcastOnce; }, true),
    HistoryNumber(
        "BroadcastHours", [](TDeskChoices& c) -> int& { return c.BroadcastHours; }, BroadcastHours, true),
    NwsPrintingFlag("FixedPitchFullText", [](TDeskChoices& c) -> bool& { return c.FixedPitchFullText; }),
    NwsPrintingFlag("WordsLine", [](TDeskChoices& c) -> bool& { return c.NwsWordsLine; }),
    PaperFlag("HeaderFooter", [](TDeskChoices& c) -> bool& { return c.HeaderFooter; }),
    PaperFlag("ReprintMark", [](TDeskChoices& c) -> bool& { return c.ReprintMark; }),
    PaperFlag("OwnTraffic", [](TDeskChoices& c) -> bool& { return c.OwnTraffic; }),
    {.Kind = skKinds,
     .Section = kAlarmsSection,
     .Key = "Kinds",
     .Kinds = [](TDeskChoices& c) -> TAlarmKinds& { return c.AlarmKinds; }},
    SectionNumber(
        kAlarmsSection, "RepeatSeconds", [](TDeskChoices& c) -> int& { return c.AlarmRepeatSeconds; },
        AlarmRepeatSeconds),
    SectionNumber(
        kSendingSection, "Tries", [](TDeskChoices& c) -> int& { return c.SendTries; }, SendTries),
    SectionNumber(
        kSendingSection, "FirstGapSeconds", [](TDeskChoices& c) -> int& { return c.SendFirstGapSeconds; },
        SendFirstGapSeconds),
    {.Kind = skList,
     .Section = kNwsAreasSection,
     .Key = "Items",
     .Items = [](TDeskChoices& c) -> std::vector<std::string>& { return c.Selection.NwsAreas; }},
});

}  // namespace

std::span<const TStoredChoice> StoredChoiceTable() {
  return kTable;
}

std::vector<std::string> StoredControlProperties() {
  std::vector<std::string> properties;
  for (const TStoredChoice& row : kTable)
    if (std::string_view(row.Section) == kControlsSection) properties.emplace_back(row.Key);
  return properties;
}

std::string ItemsSection(const TStoredChoice& row) {
  if (row.Kind == skList) return row.Section;
  return std::string(row.Section) + "." + row.Key;
}

int AlarmRepeatSeconds(std::string_view text) {
  return NumberWithin(text, TDeskChoices::kMinAlarmRepeatSeconds, TDeskChoices::kMaxAlarmRepeatSeconds,
                      TDeskChoices::kDefaultAlarmRepeatSeconds);
}

int SendTries(std::string_view text) {
  return NumberWithin(text, TSendSchedule::kMinTries, TSendSchedule::kMaxTries, TSendSchedule::kDefaultTries);
}

int SendFirstGapSeconds(std::string_view text) {
  return NumberWithin(text, TSendSchedule::kMinFirstGapSeconds, TSendSchedule::kMaxFirstGapSeconds,
                      TSendSchedule::kDefaultFirstGapSeconds);
}

bool SameStoredValue(const TStoredChoice& row, const TDeskChoices& a, const TDeskChoices& b) {
  // The fields are reached through the table's accessors, which take a choices to change.
  TDeskChoices x = a;
  TDeskChoices y = b;
  switch (row.Kind) {
    case skChecked:
    case skFlag:
      return row.Flag(x) == row.Flag(y);
    case skNumber:
      return row.Number(x) == row.Number(y);
    case skText:
      return row.Text(x) == row.Text(y);
    case skItems:
    case skList:
      return row.Items(x) == row.Items(y);
    case skStates:
      return row.States(x) == row.States(y);
    case skKinds:
      return row.Kinds(x) == row.Kinds(y);
  }
  return false;
}

}  // namespace qm

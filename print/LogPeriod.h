#pragma once
// Times to the minute as pages and the communications log show and read them: the text of a
// time, and a period given as text on the command line or the board. Qt Core only.

#include <QString>
#include <optional>
#include <string_view>

#include "base/Timing.h"

namespace qm {

// A time to the minute as pages show it: "2026-12-10 14:05".
QString MinuteText(TDateTime value);

// "yyyy-mm-ddThh:mm" in UTC; nothing for any other text or a date that does not exist.
std::optional<TDateTime> ParseLogTime(std::string_view text);
// The reason a period given as text is refused, or "" for a sound one; `from` and `to` are set
// for a sound one. `to` must come after `from`.
QString ReadLogPeriod(std::string_view fromText, std::string_view toText, TDateTime& from, TDateTime& to);

// The periods the operator picks from by name: since the desk started up to now, or the UTC
// day that holds `nowUtc`. A period up to now ends at the next whole minute, so that what came
// this minute is in it.
enum class TLogPeriodKind { lpOperational, lpToday };
using enum TLogPeriodKind;
void NamedLogPeriod(TLogPeriodKind kind, TDateTime nowUtc, TDateTime startedUtc, TDateTime& from,
                    TDateTime& to);

}  // namespace qm

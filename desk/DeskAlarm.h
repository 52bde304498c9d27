// An alarm as the desk keeps it while it sounds, for those who show it without the desk.
#pragma once

#include <cstdint>
#include <string>

#include "base/Timing.h"
#include "select/Alarms.h"

namespace qm {

struct TDeskAlarm {
  std::int64_t Id = 0;  // the message's in the store: the number it is acknowledged by
  std::string Sender, Addressee, Text;
  TAlarmKind Kind = akOwn;
  TDateTime SinceUtc = 0;  // when the message came
  bool operator==(const TDeskAlarm&) const = default;
};

// "K1ABC to N0CALL-5: Call me": the alarm in the words of the log and --status.
std::string AlarmText(const TDeskAlarm& alarm);

// Where an alarm may be acknowledged, as the store and the log say it ("at the board").
inline constexpr const char* kAckInWindow = "window";
inline constexpr const char* kAckOnBoard = "board";
inline constexpr const char* kAckOnCommandLine = "command line";

}  // namespace qm

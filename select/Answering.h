// Which messages this station acknowledges, what the acknowledgement says, and how often it
// may be sent. The link that sends it and the choice to answer at all are the desk's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "parse/QuillmarkParse.h"

namespace qm {

// A callsign this station may transmit as: 3 to 6 letters and digits holding both, and an SSID
// from 1 to 15 if any (what an AX.25 address can carry). N0CALL and NOCALL, the placeholders
// programs ship with, are refused, as is any tactical name.
bool IsTransmitCallsign(std::string_view call);
// Why `call` is no such callsign, for the log; "" when it is one. A frame carries SSID 0 as
// well, but that is written without "-0" (KD9QMK), the form senders address.
std::string TransmitCallsignProblem(std::string_view call);

// A message number as a sender asks for an acknowledgement: 1 to 5 letters and digits, or the
// reply-ack form "MM}AA" / "MM}" (MM 1 to 5 letters and digits, AA none to 5).
bool IsMessageNumber(std::string_view number);

// The number to acknowledge when `packet` is a message addressed to `ownCall` (as the
// selection compares them: exactly) carrying a message number from a sender that is a
// callsign; nothing for everything else: bulletins, announcements, NWS alerts, other calls
// and SSIDs, messages without a number, and an own call that may not transmit.
//
// Reply-acks: the reply-ack note of APRS 1.1 has the receiver of "text{MM}AA" acknowledge it
// with a separate "ackMM}AA", the field echoed whole as it came; AA acknowledges a message of
// ours and this station sends none, so the field is handed back unchanged, like any number.
std::optional<std::string> AckNumberFor(const TAprsMsgPacket& packet, std::string_view ownCall);
// The same whatever the own call is: what the sender asks for, answerable or not.
std::optional<std::string> AckNumberAsked(const TAprsMsgPacket& packet, std::string_view ownCall);

// ":ADDRESSEE:", the addressee padded with blanks to 9 characters: how a message's
// information field begins.
std::string AddresseeInformation(std::string_view addressee);
// The information field of the acknowledgement: ":ADDRESSEE:ackNUMBER".
std::string AckInformation(std::string_view addressee, std::string_view number);

// How often acknowledgements go out. A message heard through two digipeaters and an igate
// arrives two or three times within a few seconds: each copy is answered at most once per
// PairGapMs. Senders resend every 30 s or more, so every resend is answered. Over a minute at
// most PerMinute go out in all: more than a desk receives in a busy net (one message a few
// seconds), few enough that a flood of forged messages cannot hold a 1200 baud channel (an
// acknowledgement takes about half a second on the air, so 20 take a sixth of the minute).
class TAckLimiter {
 public:
  static constexpr std::uint32_t PairGapMs = 10000;
  static constexpr std::size_t PerMinute = 20;

  enum class TVerdict { avSend, avAnsweredJustNow, avOverTheMinute };
  using enum TVerdict;
  // Whether an ack to `sender` for `number` may go out at `now` (ms ticks, unsigned 32-bit
  // arithmetic); avSend counts it.
  TVerdict Ask(std::string_view sender, std::string_view number, std::uint32_t now);
  // Whether a message of the desk's own may go out at `now`: the same minute's budget counts
  // acknowledgements and messages together, so neither can flood the channel through the
  // other. True counts it.
  bool AskOwnMessage(std::uint32_t now);

 private:
  void Forget(std::uint32_t now);

  std::unordered_map<std::string, std::uint32_t> FLastSent;  // "SENDER\0NUMBER" -> ticks
  std::deque<std::uint32_t> FSent;                           // ticks of the last minute's
};

}  // namespace qm

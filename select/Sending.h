// What the desk may send as a message of its own, the number it carries, the information
// field, when it is sent again, and which answer ends it. The links, the store and the timer
// are the desk's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The longest text a message carries.
inline constexpr std::size_t kSendTextMost = 67;

// Why a message to `to` with `text` cannot be sent, for the operator; "" when it can. The
// addressee is checked as the own call is; the text is 1 to 67 printable ASCII characters
// without '|', '~' (reserved by APRS) and '{' (it starts the message number).
std::string SendProblem(std::string_view to, std::string_view text);

// The message number of the desk's `sequence`th message (from 1): 1 to 5 digits and capital
// letters, "1" to "ZZZZZ", starting again at "1" after 36^5 - 1 messages.
std::string MessageNumberFor(std::int64_t sequence);

// The information field ":ADDRESSEE:text{NN", the addressee padded with blanks to 9
// characters; with `replyAck` (the other side has shown it reads reply-acks) "{NN}AA", AA the
// number of its last message to us, possibly empty.
std::string SendInformation(std::string_view to, std::string_view text, std::string_view number,
                            const std::optional<std::string>& replyAck = std::nullopt);

// The reply-ack field a message to us shows: for "text{MM}AA" or "text{MM}" (its number field
// "MM}AA", "MM}"), MM, to be echoed in our next message to the sender; nothing for a plain
// number, which shows the sender does not read reply-acks.
std::optional<std::string> ReplyAckShown(std::string_view number);

// The number an answer names: "ackNN", "rejNN", and the reply-ack form "ackNN}AA" (NN 1 to 5
// letters and digits; trailing blanks ignored); nothing for any other text.
struct TSendAnswer {
  std::string Number;
  bool Rejected = false;
};
std::optional<TSendAnswer> ReadSendAnswer(std::string_view body);

// When a message goes out: `tries` times in all, the first at once and the second
// `firstGapSeconds` later, each gap then twice the one before; after the last gap with no
// answer the desk gives up. Both are kept within their bounds.
struct TSendSchedule {
  static constexpr int kDefaultTries = 6;
  static constexpr int kMinTries = 1;
  static constexpr int kMaxTries = 10;
  static constexpr int kDefaultFirstGapSeconds = 30;
  static constexpr int kMinFirstGapSeconds = 10;
  static constexpr int kMaxFirstGapSeconds = 600;
  // No gap grows beyond half an hour.
  static constexpr int kMostGapSeconds = 1800;

  TSendSchedule() = default;
  TSendSchedule(int tries, int firstGapSeconds);

  int Tries() const { return FTries; }
  // The seconds after try `done` (1 .. Tries) until the next one, or until the desk gives up
  // after the last.
  int GapAfter(int done) const;
  // The seconds from the first try until the desk gives up.
  int Span() const;

  bool operator==(const TSendSchedule&) const = default;

 private:
  int FTries = kDefaultTries;
  int FFirstGap = kDefaultFirstGapSeconds;
};

}  // namespace qm

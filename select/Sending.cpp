#include "select/Sending.h"

#include <algorithm>

#include "select/Answering.h"

namespace qm {
namespace {

constexpr std::int64_t kNumberSpan = 36LL * 36 * 36 * 36 * 36 - 1;  // "1" .. "ZZZZZ"

}  // namespace

std::string SendProblem(std::string_view to, std::string_view text) {
  if (const std::string call = TransmitCallsignProblem(to); !call.empty())
    return "Cannot send to " + std::string(to) + ": " + call;
  // BLN1 has the shape of a callsign; to every station it is a bulletin, which has no number.
  if (to.substr(0, 3) == "BLN")
    return "Cannot send to " + std::string(to) + ": that is a bulletin's addressee";
  if (text.empty()) return "Cannot send an empty message";
  if (text.size() > kSendTextMost)
    return "Cannot send " + std::to_string(text.size()) + " characters: a message holds " +
           std::to_string(kSendTextMost) + " at most";
  for (const char c : text) {
    if (c == '|' || c == '~') return std::string("Cannot send '") + c + "': APRS reserves it";
    if (c == '{') return "Cannot send '{': it starts the message number";
    if (c < ' ' || c > '~') return "Cannot send the text: a message holds printable ASCII characters only";
  }
  return {};
}

std::string MessageNumberFor(std::int64_t sequence) {
  std::int64_t n = (sequence - 1) % kNumberSpan;
  if (n < 0) n += kNumberSpan;
  ++n;
  std::string number;
  for (; n > 0; n /= 36) number.insert(number.begin(), "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[n % 36]);
  return number;
}

std::string SendInformation(std::string_view to, std::string_view text, std::string_view number,
                            const std::optional<std::string>& replyAck) {
  std::string info = AddresseeInformation(to);
  info += text;
  info += '{';
  info += number;
  if (replyAck) {
    info += '}';
    info += *replyAck;
  }
  return info;
}

std::optional<std::string> ReplyAckShown(std::string_view number) {
  const std::size_t brace = number.find('}');
  if (brace == std::string_view::npos || !IsMessageNumber(number)) return std::nullopt;
  return std::string(number.substr(0, brace));
}

std::optional<TSendAnswer> ReadSendAnswer(std::string_view body) {
  while (!body.empty() && body.back() == ' ') body.remove_suffix(1);
  if (body.size() < 4) return std::nullopt;
  const std::string_view kind = body.substr(0, 3);
  if (kind != "ack" && kind != "rej") return std::nullopt;
  std::string_view number = body.substr(3);
  if (!IsMessageNumber(number)) return std::nullopt;
  number = number.substr(0, number.find('}'));
  return TSendAnswer{std::string(number), kind == "rej"};
}

TSendSchedule::TSendSchedule(int tries, int firstGapSeconds)
    : FTries(std::clamp(tries, kMinTries, kMaxTries)),
      FFirstGap(std::clamp(firstGapSeconds, kMinFirstGapSeconds, kMaxFirstGapSeconds)) {}

int TSendSchedule::GapAfter(int done) const {
  // After the last try the desk waits as long as it did before it, then gives up.
  if (done >= FTries && FTries > 1) done = FTries - 1;
  long long gap = FFirstGap;
  for (int i = 1; i < done && gap < kMostGapSeconds; ++i) gap *= 2;
  return static_cast<int>(std::min<long long>(gap, kMostGapSeconds));
}

int TSendSchedule::Span() const {
  int span = 0;
  for (int done = 1; done <= FTries; ++done) span += GapAfter(done);
  return span;
}

}  // namespace qm

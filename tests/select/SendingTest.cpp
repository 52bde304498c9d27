#include "select/Sending.h"

#include <gtest/gtest.h>

#include <string>

#include "select/Answering.h"

namespace qm {
namespace {

TEST(SendProblem, EachRefusalSaysItsReason) {
  const struct {
    const char* To;
    std::string Text;
    const char* Problem;
  } cases[] = {
      {"K2XYZ-9", "Roger, 20 cots on the way", ""},
      {"K2XYZ", std::string(67, 'x'), ""},
      {"K2XYZ", std::string(68, 'x'), "Cannot send 68 characters: a message holds 67 at most"},
      {"K2XYZ", "", "Cannot send an empty message"},
      {"K2XYZ", "a|b", "Cannot send '|': APRS reserves it"},
      {"K2XYZ", "~", "Cannot send '~': APRS reserves it"},
      {"K2XYZ", "see {12", "Cannot send '{': it starts the message number"},
      {"K2XYZ", "tab\there", "Cannot send the text: a message holds printable ASCII characters only"},
      {"K2XYZ", "caf\xc3\xa9", "Cannot send the text: a message holds printable ASCII characters only"},
      {"N0CALL", "hi", "Cannot send to N0CALL: N0CALL is a placeholder, no one's callsign"},
      {"BLN1", "hi", "Cannot send to BLN1: that is a bulletin's addressee"},
      {"NWS", "hi", "Cannot send to NWS: a callsign is 3 to 6 letters and digits with both among them"},
      {"K2XYZ-16", "hi", "Cannot send to K2XYZ-16: an AX.25 frame carries an SSID from 0 to 15 only"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.To) + " " + c.Text);
    EXPECT_EQ(SendProblem(c.To, c.Text), c.Problem);
  }
}

TEST(MessageNumberFor, OneToFiveCharactersAndRoundAgain) {
  const struct {
    std::int64_t Sequence;
    const char* Number;
  } cases[] = {{1, "1"}, {9, "9"}, {10, "A"}, {35, "Z"}, {36, "10"}, {60466175, "ZZZZZ"}, {60466176, "1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Sequence);
    EXPECT_EQ(MessageNumberFor(c.Sequence), c.Number);
    EXPECT_TRUE(IsMessageNumber(c.Number));
  }
}

TEST(SendInformation, PlainAndReplyAckForms) {
  EXPECT_EQ(SendInformation("K2XYZ-9", "Roger", "7"), ":K2XYZ-9  :Roger{7");
  EXPECT_EQ(SendInformation("K2XYZ", "Roger", "7", std::string("AB")), ":K2XYZ    :Roger{7}AB");
  EXPECT_EQ(SendInformation("K2XYZ", "Roger", "7", std::string()), ":K2XYZ    :Roger{7}");
  // What a sender's number field shows about reply-acks.
  EXPECT_EQ(ReplyAckShown("MM}AA"), "MM");
  EXPECT_EQ(ReplyAckShown("MM}"), "MM");
  EXPECT_EQ(ReplyAckShown("12"), std::nullopt);
  EXPECT_EQ(ReplyAckShown("}AA"), std::nullopt);
  EXPECT_EQ(ReplyAckShown(""), std::nullopt);
}

TEST(ReadSendAnswer, AcksRejsAndWhatIsNeither) {
  const struct {
    const char* Body;
    const char* Number;  // nullptr: no answer
    bool Rejected;
  } cases[] = {
      {"ack7", "7", false},          {"rej7", "7", true},       {"ackAB12}CD", "AB12", false},
      {"ack7}", "7", false},         {"ack7  ", "7", false},    {"ack", nullptr, false},
      {"ack123456", nullptr, false}, {"ACK7", nullptr, false},  {"acknowledged", nullptr, false},
      {"ack 7", nullptr, false},     {"Roger", nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    const auto answer = ReadSendAnswer(c.Body);
    ASSERT_EQ(answer.has_value(), c.Number != nullptr);
    if (!answer) continue;
    EXPECT_EQ(answer->Number, c.Number);
    EXPECT_EQ(answer->Rejected, c.Rejected);
  }
}

TEST(TSendSchedule, DoublingGapsWithinBounds) {
  const TSendSchedule standard;
  EXPECT_EQ(standard.Tries(), 6);
  std::vector<int> gaps;
  for (int done = 1; done <= standard.Tries(); ++done) gaps.push_back(standard.GapAfter(done));
  // Now, 30 s, 1, 2, 4 and 8 minutes later, and as long again before giving up.
  EXPECT_EQ(gaps, (std::vector<int>{30, 60, 120, 240, 480, 480}));
  EXPECT_EQ(standard.Span(), 1410);
  const TSendSchedule low(0, 1), high(99, 9999);
  EXPECT_EQ(low.Tries(), 1);
  EXPECT_EQ(low.GapAfter(1), TSendSchedule::kMinFirstGapSeconds);
  EXPECT_EQ(high.Tries(), 10);
  EXPECT_EQ(high.GapAfter(1), 600);
  EXPECT_EQ(high.GapAfter(9), TSendSchedule::kMostGapSeconds);
}

// Acknowledgements and the desk's own messages spend one minute's budget.
TEST(TAckLimiter, OwnMessagesShareTheMinute) {
  TAckLimiter limiter;
  for (std::size_t n = 0; n < TAckLimiter::PerMinute / 2; ++n)
    ASSERT_EQ(limiter.Ask("K2XYZ", std::to_string(n), 1000), TAckLimiter::avSend);
  for (std::size_t n = TAckLimiter::PerMinute / 2; n < TAckLimiter::PerMinute; ++n)
    ASSERT_TRUE(limiter.AskOwnMessage(1000));
  EXPECT_FALSE(limiter.AskOwnMessage(2000));
  EXPECT_EQ(limiter.Ask("W1AW", "1", 2000), TAckLimiter::avOverTheMinute);
  EXPECT_TRUE(limiter.AskOwnMessage(61000));
}

}  // namespace
}  // namespace qm

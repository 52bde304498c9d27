#include "select/RetryMessages.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qm {
namespace {

constexpr std::uint32_t kMinute = 60000;

struct TRetryCase {
  const char* What;
  const char* Call;
  const char* Number;
  std::uint32_t After;  // ms after "KB1AB-7" listed number "42"
  std::uint32_t Window;
  bool Retry;
};

TEST(TRetryList, SameSenderAndNumberWithinTheWindowIsACopy) {
  const TRetryCase cases[] = {
      {"resent 30 s later", "KB1AB-7", "42", 30000, 30 * kMinute, true},
      {"resent just inside the window", "KB1AB-7", "42", 30 * kMinute - 1, 30 * kMinute, true},
      {"window reached: listed again", "KB1AB-7", "42", 30 * kMinute, 30 * kMinute, false},
      {"sender in another case", "kb1ab-7", "42", 1000, 30 * kMinute, true},
      {"a new number", "KB1AB-7", "43", 1000, 30 * kMinute, false},
      {"number case matters", "KB1AB-7", "4a", 1000, 30 * kMinute, false},
      {"another SSID", "KB1AB-8", "42", 1000, 30 * kMinute, false},
      {"no number is never a copy", "KB1AB-7", "", 1000, 30 * kMinute, false},
  };
  for (const TRetryCase& c : cases) {
    SCOPED_TRACE(c.What);
    TRetryList list;
    list.Add("KB1AB-7", "42", 1000);
    list.Add("KB1AB-7", "4A", 1000);
    EXPECT_EQ(list.IsRetry(c.Call, c.Number, 1000 + c.After, c.Window), c.Retry);
  }
}

TEST(TRetryList, ForgetsOldPairsAcrossTheTickWrap) {
  TRetryList list;
  const std::uint32_t start = 0xFFFFFFFFu - 10000;  // the 32-bit tick wraps 10 s later
  list.Add("KB1AB-7", "1", start);
  list.Add("KB1AB-7", "", start);  // not kept
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_TRUE(list.IsRetry("KB1AB-7", "1", start + 60000, 2 * kMinute));
  // Listed again later: the later time counts, and the earlier entry does not remove it.
  list.Add("KB1AB-7", "1", start + 90000);
  EXPECT_TRUE(list.IsRetry("KB1AB-7", "1", start + 150000, 2 * kMinute));
  EXPECT_FALSE(list.IsRetry("KB1AB-7", "1", start + 210000, 2 * kMinute));
  EXPECT_EQ(list.Count(), 0u);
}

TEST(RetryMinutes, TakesOneMinuteToADay) {
  const struct {
    const char* Text;
    int Minutes;
  } cases[] = {
      {"30", 30}, {" 5 ", 5}, {"1", 1}, {"1440", 1440}, {"1441", 30},
      {"0", 30},  {"-5", 30}, {"", 30}, {"ten", 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(RetryMinutes(c.Text), c.Minutes);
  }
}

}  // namespace
}  // namespace qm

#include "parse/NwsWords.h"

#include <gtest/gtest.h>

#include "parse/UsCounties.h"

namespace qm {
namespace {

TEST(NwsWords, EventCodes) {
  const std::pair<const char*, const char*> cases[] = {
      {"SVR_TSTORM", "Severe Thunderstorm"},
      {"svrtsm", "Severe Thunderstorm"},
      {"TORNDO", "Tornado"},
      {"WINTER_WEATHER", "Winter Weather"},
      {"FLOOD", "Flood"},
      {"HEAT__WAVE_", "Heat Wave"},
      {"", ""},
  };
  for (const auto& [code, words] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(NwsEventWords(code), words);
  }
}

TEST(NwsWords, Headlines) {
  TNwsAlert alert;
  alert.Event = "SVR_TSTORM";
  const std::pair<TNwsAlertCategory, const char*> cases[] = {{acWarning, "Severe Thunderstorm Warning"},
                                                             {acWatch, "Severe Thunderstorm Watch"},
                                                             {acAdvisory, "Severe Thunderstorm Advisory"},
                                                             {acCancel, "Severe Thunderstorm cancelled"},
                                                             {acOther, "Severe Thunderstorm"}};
  for (const auto& [category, headline] : cases) {
    alert.Category = category;
    EXPECT_EQ(NwsHeadline(alert), headline);
  }
  alert.Event.clear();
  alert.Category = acOther;
  EXPECT_EQ(NwsHeadline(alert), "NWS alert");
}

TEST(NwsWords, CountiesFromTheList) {
  EXPECT_EQ(UsCountyLines().size(), 3235U);  // every line of the data file but its comments
  EXPECT_EQ(UsCountyName("OK", 109), "Oklahoma County");
  EXPECT_EQ(UsCountyName("AL", 1), "Autauga County");
  EXPECT_EQ(UsCountyName("VI", 30), "St. Thomas Island");
  EXPECT_FALSE(UsCountyName("OK", 999));
  EXPECT_FALSE(UsCountyName("ok", 109));
  EXPECT_EQ(NwsAreaWords({"TX", 'Z', 123}), "zone TX_Z123");
  EXPECT_EQ(NwsAreaWords({"OK", 'C', 999}), "county OK_C999");
}

TEST(NwsWords, AnAlertInWords) {
  std::optional<TNwsAlert> alert =
      ReadNwsAlert("NWS-WARN", "101930z,SVR_TSTORM,OK_C109", EncodeDateTime({2026, 12, 10, 12, 0}));
  ASSERT_TRUE(alert);
  EXPECT_EQ(NwsAlertWords(*alert),
            "Severe Thunderstorm Warning \xE2\x80\x94 Oklahoma County, OK \xE2\x80\x94 until 19:30 UTC");

  alert->ExpiresUtc.reset();
  alert->Areas.assign(12, {"TX", 'Z', 123});
  alert->Areas[1] = {"OK", 'C', 27};
  EXPECT_EQ(NwsAlertWords(*alert),
            "Severe Thunderstorm Warning \xE2\x80\x94 zone TX_Z123; Cleveland County, OK; zone "
            "TX_Z123; zone TX_Z123; zone TX_Z123; zone TX_Z123; zone TX_Z123; zone TX_Z123; "
            "zone TX_Z123; zone TX_Z123 and 2 more");
}

}  // namespace
}  // namespace qm

// An NWS alert's plain words as the store keeps them, and what a later cancel or update of
// the same office makes of the earlier alert.
#include <gtest/gtest.h>

#include <string>

#include "store/MessageStore.h"
#include "tests/support/OlderStore.h"
#include "tests/support/StoredMessages.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using test::Msg;

TStoredMessage Alert(int n, const std::string& source, const std::string& addressee, const std::string& event,
                     const std::string& areas) {
  TStoredMessage m = Msg(n);
  m.Source = source;
  m.Addressee = addressee;
  m.Kind = kStoredNwsAlert;
  m.NwsEvent = event;
  m.NwsAreas = areas;
  m.NwsExpiresUtc = m.UtcTime + 0.25;
  m.NwsWords = event + " in words";
  return m;
}

TEST(NwsAlertStore, TheWordsAreKeptCarriedOverAndAbsentFromAnOlderStore) {
  test::TTempDir dir;
  const std::string path = dir.File("q.db");
  TStoredMessage alert =
      Alert(1, "OUNSVR", "NWS-WARN ", "SVR_TSTORM", "Oklahoma County, OK; Tulsa County, OK");
  alert.NwsWords = "Severe Thunderstorm Warning \xE2\x80\x94 Oklahoma County, OK";
  std::int64_t older = 0, id = 0;
  {
    TMessageStore store(path);
    older = store.Add(Msg(0));
  }
  // The store as a build before the words left it.
  test::RunOnStoreFile(
      path,
      "ALTER TABLE messages DROP COLUMN nws_event; ALTER TABLE messages DROP COLUMN nws_areas; "
      "ALTER TABLE messages DROP COLUMN nws_expires_utc; "
      "ALTER TABLE messages DROP COLUMN nws_state; ALTER TABLE messages DROP COLUMN nws_words");
  {
    TMessageStore store(path);
    TStoredMessage before = Msg(0);
    before.Id = older;
    EXPECT_EQ(store.Message(older), before);
    id = store.Add(alert);
  }
  alert.Id = id;
  EXPECT_EQ(TMessageStore(path).Message(id), alert);
  EXPECT_EQ(CarryOver(path, dir.File("carried.db")).Messages, 2u);
  EXPECT_EQ(TMessageStore(dir.File("carried.db")).Message(id), alert);
}

struct TEndingCase {
  const char* what;
  TStoredMessage later;
  TNwsEnding ending;
  TNwsState earlier;  // what the first alert is then
};

TEST(NwsAlertStore, ACancelOrAnUpdateEndsOnlyTheSameOfficesAlertForTheSameEventAndAreas) {
  const std::string areas = "Oklahoma County, OK";
  const TNwsEnding cancel{nsCancelled, "", "CANCL"};
  const TNwsEnding update{nsSuperseded, "WARN", ""};
  const auto later = [&](const char* source, const char* to, const char* event, const std::string& where) {
    return Alert(2, source, to, event, where);
  };
  const TEndingCase cases[] = {
      {"a cancel", later("OUNSVR", "NWS-CANCL", "SVR_TSTORM", areas), cancel, nsCancelled},
      {"an update, sender in another case, addressee with _",
       later("ounsvr", "NWS_WARN ", "SVR_TSTORM", areas), update, nsSuperseded},
      {"another office", later("TSASVR", "NWS-CANCL", "SVR_TSTORM", areas), cancel, nsLive},
      {"another event", later("OUNSVR", "NWS-CANCL", "TORNDO", areas), cancel, nsLive},
      {"other areas", later("OUNSVR", "NWS-CANCL", "SVR_TSTORM", areas + "; Tulsa County, OK"), cancel,
       nsLive},
      {"an update of another category",
       later("OUNSVR", "NWS-WATCH", "SVR_TSTORM", areas),
       {nsSuperseded, "WATCH", ""},
       nsLive},
      {"nothing to end", later("OUNSVR", "NWS-WARN", "SVR_TSTORM", areas), {}, nsLive},
  };
  for (const TEndingCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::TTempDir dir;
    TMessageStore store(dir.File("q.db"));
    const std::int64_t first = store.Add(Alert(1, "OUNSVR", "NWS-WARN ", "SVR_TSTORM", areas));
    const std::int64_t second = store.Add(c.later, c.ending);
    EXPECT_EQ(store.Message(first).NwsState, c.earlier);
    EXPECT_EQ(store.Message(second).NwsState, nsLive);
  }
}

TEST(NwsAlertStore, AnAlertEndsOnceAndACopyOrACancelIsNeverEnded) {
  test::TTempDir dir;
  TMessageStore store(dir.File("q.db"));
  const std::string areas = "Oklahoma County, OK";
  const std::int64_t first = store.Add(Alert(1, "OUNSVR", "NWS-WARN", "FLOOD", areas));
  // A copy with the same message number is the same alert.
  TStoredMessage copy = Alert(1, "OUNSVR", "NWS-WARN", "FLOOD", areas);
  store.Add(copy, {nsSuperseded, "WARN", ""});
  EXPECT_EQ(store.Message(first).NwsState, nsLive);
  const std::int64_t cancel =
      store.Add(Alert(2, "OUNSVR", "NWS-CANCL", "FLOOD", areas), {nsCancelled, "", "CANCL"});
  store.Add(Alert(3, "OUNSVR", "NWS-CANCL", "FLOOD", areas), {nsCancelled, "", "CANCL"});
  store.Add(Alert(4, "OUNSVR", "NWS-WARN", "FLOOD", areas), {nsSuperseded, "WARN", ""});
  EXPECT_EQ(store.Message(first).NwsState, nsCancelled);
  EXPECT_EQ(store.Message(cancel).NwsState, nsLive);
}

}  // namespace
}  // namespace qm

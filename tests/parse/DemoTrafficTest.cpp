// The demo traffic the program ships must hold what the demo is meant to show, and
// only made-up stations.
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/AsciiText.h"
#include "parse/HostIntake.h"
#include "parse/QuillmarkParse.h"

namespace qm {
namespace {

std::vector<std::string> ReadDemoLines() {
  const char* root = std::getenv("QM_SOURCE_DIR");
  const std::string path =
      std::string(root && *root ? root : QM_PARSE_SOURCE_DIR) + "/samples/demo-traffic.txt";
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int Seconds(const std::string& line) {
  // marker, then hh:mm:ss and a blank
  if (line.size() < 10 || line[3] != ':' || line[6] != ':' || line[9] != ' ') return -1;
  for (int i : {1, 2, 4, 5, 7, 8})
    if (!IsDigit(line[i])) return -1;
  return std::stoi(line.substr(1, 2)) * 3600 + std::stoi(line.substr(4, 2)) * 60 +
         std::stoi(line.substr(7, 2));
}

// Never-issued forms only: a "Q" prefix with a digit, or NOCALL.
bool MadeUpCall(const std::string& call) {
  return (call.size() >= 2 && call[0] == 'Q' && IsDigit(call[1])) || call.rfind("NOCALL", 0) == 0;
}

TEST(DemoTraffic, HoldsEveryKindAndOnlyMadeUpStations) {
  const std::vector<std::string> lines = ReadDemoLines();
  ASSERT_GE(lines.size(), 300u);

  int previous = -1;
  std::map<TAprsMsgKind, int> kinds;
  std::set<std::string> states;
  int toOwn = 0, fromOwn = 0, acks = 0, unusable = 0, repeats = 0, underscoreNws = 0;
  std::map<std::string, int> lastHeard;  // source and body -> seconds
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const int t = Seconds(line);
    ASSERT_GT(t, previous) << "times must increase";
    previous = t;
    EXPECT_EQ(line.find('\r'), std::string::npos);

    const auto p = ParseAprsPacket(CleanPacketText(line));
    if (p->Source.Valid) {
      EXPECT_TRUE(MadeUpCall(p->Source.BaseCall)) << p->Source.FullCall;
    }
    if (!p->Selected) {
      ++unusable;
      const std::string text = p->Body.size() > 13 ? UpperCase(p->Body.substr(10, 3)) : "";
      if (text == "ACK" || text == "REJ") ++acks;
      continue;
    }
    ++kinds[p->Kind];
    if (p->Kind == mkPersonal && !p->Addressee.empty()) {
      EXPECT_TRUE(MadeUpCall(p->Addressee)) << p->Addressee;
    }
    if (p->Kind == mkNwsAlert && !p->State.empty()) states.insert(p->State);
    if (p->Kind == mkNwsAlert && p->RawText.find("::NWS_") != std::string::npos) ++underscoreNws;
    toOwn += p->Addressee == "Q0DEMO-9";
    fromOwn += p->Source.FullCall == "Q0DEMO-9";
    const std::string key = p->Source.FullCall + "\n" + p->Body;
    if (const auto it = lastHeard.find(key); it != lastHeard.end() && t - it->second < 20) ++repeats;
    lastHeard[key] = t;
  }
  EXPECT_GE(kinds[mkPersonal], 30);
  EXPECT_GE(kinds[mkBulletin], 3);
  EXPECT_GE(kinds[mkAnnouncement], 2);
  EXPECT_GE(kinds[mkNwsAlert], 10);
  EXPECT_GE(states.size(), 5u);
  EXPECT_GE(underscoreNws, 1);
  EXPECT_GE(toOwn, 10);
  EXPECT_GE(fromOwn, 5);
  EXPECT_GE(acks, 4);
  EXPECT_GE(unusable, 150);  // positions, weather, status and so on outnumber messages
  EXPECT_GE(repeats, 3);
}

}  // namespace
}  // namespace qm

// TFingerClient against efingerd on loopback; run through scripts/finger-peer.sh, which
// serves canned replies: CR LF line ends when the name holds "CRLF", none for "EMPTY",
// else LF line ends. efingerd ends every reply with one CR LF of its own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "finger/FingerClient.h"

namespace qm {
namespace {

TFingerClient PeerClient(const std::string& host, const std::string& query) {
  const char* port = std::getenv("QM_FINGER_PORT");
  if (port == nullptr)
    throw std::runtime_error("QM_FINGER_PORT is not set; run through scripts/finger-peer.sh");
  TFingerClient client;
  client.Host = host;
  client.Port = std::atoi(port);
  client.Query = query;
  return client;
}

TEST(FingerPeer, RepliesArriveByteForByte) {
  const struct {
    const char* query;
    std::string reply;
  } cases[] = {
      {"NOCALL123", "Query: NOCALL123\nWWUS54 KOUN 072130\nSEVERE THUNDERSTORM WARNING\n\nEND\n\r\n"},
      {"NOCALL-5CRLF1", "Query: NOCALL-5CRLF1\r\nWWUS54 KOUN 072130\r\nTORNADO WARNING\r\n\r\nEND\r\n\r\n"},
      {"EMPTY12", "\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(PeerClient("127.0.0.1", c.query).Fetch(), c.reply);
  }
}

TEST(FingerPeer, HostByNameAndRepeatedFetches) {
  TFingerClient client = PeerClient("localhost", "NOCALL");
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(client.Fetch(), "Query: NOCALL\nWWUS54 KOUN 072130\nSEVERE THUNDERSTORM WARNING\n\nEND\n\r\n");
  }
}

}  // namespace
}  // namespace qm

// The board's door rules: the token wherever it comes, a change's origin, the address, the
// names served from the archive; the token file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QFile>
#include <QTemporaryDir>

#include "web/BoardDoor.h"
#include "web/BoardToken.h"

namespace qm {
namespace {

TEST(BoardDoor, TokenCompare) {
  const struct {
    const char* given;
    const char* token;
    bool same;
  } cases[] = {
      {"abc123", "abc123", true},   {"abc124", "abc123", false}, {"abc12", "abc123", false},
      {"abc1234", "abc123", false}, {"", "abc123", false},       {"", "", false},  // no token: no entry
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.given) + " / " + c.token);
    EXPECT_EQ(SameToken(c.given, c.token), c.same);
  }
}

TEST(BoardDoor, TokenInAuthorization) {
  const struct {
    const char* header;
    const char* bearer;
  } cases[] = {
      {"quillmark_board=t1", ""}, {"Bearer t6", "t6"}, {"bearer   t7 ", "t7"},
      {"Basic t8", ""},           {"Bearer", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    EXPECT_EQ(BearerToken(c.header), c.bearer);
  }
}

TEST(BoardDoor, ChangesOnlyFromTheOwnPage) {
  const struct {
    const char* origin;
    const char* fetchSite;
    const char* host;
    bool allowed;
  } cases[] = {
      {"http://127.0.0.1:8073", "", "127.0.0.1:8073", true},
      {"http://127.0.0.1:8073", "cross-site", "127.0.0.1:8073", true},  // the Origin decides
      {"http://evil.example", "same-origin", "127.0.0.1:8073", false},
      {"http://127.0.0.1:8074", "", "127.0.0.1:8073", false},
      {"https://127.0.0.1:8073", "", "127.0.0.1:8073", false},
      {"null", "", "127.0.0.1:8073", false},
      {"http://", "", "", false},
      {"", "same-origin", "127.0.0.1:8073", true},
      {"", "same-site", "127.0.0.1:8073", false},
      {"", "", "127.0.0.1:8073", false},  // neither: not from a browser page
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.origin) + " | " + c.fetchSite);
    EXPECT_EQ(SameOriginChange(c.origin, c.fetchSite, c.host), c.allowed);
  }
}

TEST(BoardDoor, Address) {
  const struct {
    const char* text;
    bool valid;
    const char* host;
    int port;
    bool loopback;
  } cases[] = {
      {"127.0.0.1:8073", true, "127.0.0.1", 8073, true},
      {"localhost:0", true, "localhost", 0, true},
      {"[::1]:9000", true, "::1", 9000, true},
      {"0.0.0.0:8073", true, "0.0.0.0", 8073, false},
      {"192.168.1.5:80", true, "192.168.1.5", 80, false},
      {"[::]:8073", true, "::", 8073, false},
      {"::1:8073", false, "", 0, false},  // IPv6 needs brackets
      {"127.0.0.1", false, "", 0, false},
      {":8073", false, "", 0, false},
      {"127.0.0.1:65536", false, "", 0, false},
      {"127.0.0.1:-1", false, "", 0, false},
      {"127.0.0.1:80x", false, "", 0, false},
      {"a b:80", false, "", 0, false},
      {"[]:80", false, "", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<TBoardAddress> a = ReadBoardAddress(c.text);
    ASSERT_EQ(a.has_value(), c.valid);
    if (!a) continue;
    EXPECT_EQ(a->Host, c.host);
    EXPECT_EQ(a->Port, c.port);
    EXPECT_EQ(IsLoopback(a->Host), c.loopback);
  }
}

TEST(BoardDoor, PageNames) {
  const struct {
    const char* name;
    bool served;
  } cases[] = {
      {"001530-job41.pdf", true}, {"a_b-C.pdf", true}, {".pdf", false},     {"../x.pdf", false},
      {"..%2fx.pdf", false},      {"a/b.pdf", false},  {"a\\b.pdf", false}, {".hidden.pdf", false},
      {"x.pdf.exe", false},       {"x.PDF", false},    {"x.pdf\n", false},  {"x y.pdf", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsPageName(c.name), c.served);
  }
}

TEST(BoardToken, MadeOnceKeptPrivateAndMadeAgainWhenSpoilt) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  const std::string path = folder + "/" + kBoardTokenFile;
  const std::string token = BoardToken(folder);
  EXPECT_EQ(token.size(), 64u);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(BoardToken(folder), token) << "the same token after a restart";
  QTemporaryDir other;
  EXPECT_NE(BoardToken(other.path().toStdString()), token) << "each folder its own";

  // Loosened by hand: made private again, the token kept.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  EXPECT_EQ(BoardToken(folder), token);
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Cut short or spoilt: a new one.
  QFile spoilt(QString::fromStdString(path));
  ASSERT_TRUE(spoilt.open(QIODevice::WriteOnly | QIODevice::Truncate));
  spoilt.write(QByteArray::fromStdString(token.substr(0, 20)));
  spoilt.close();
  const std::string again = BoardToken(folder);
  EXPECT_EQ(again.size(), 64u);
  EXPECT_NE(again, token);
}

}  // namespace
}  // namespace qm

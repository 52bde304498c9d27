// The keys for other positions: the file's lines, making and revoking, and a keyring that
// takes a change made by another process at the next question.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QTemporaryDir>
#include <fstream>

#include "web/BoardKeys.h"

namespace qm {
namespace {

const std::string kKey(64, 'a');

TEST(BoardKeys, OnlyWholeLinesAreKeys) {
  const struct {
    std::string line;
    bool key;
  } cases[] = {
      {"wall read " + kKey, true},
      {"ops-2.b act " + kKey + "\r", true},
      {"  wall\tread " + kKey + "  ", true},
      {"# wall read " + kKey, false},
      {"wall write " + kKey, false},
      {"wall read " + kKey.substr(1), false},
      {"wall read " + std::string(64, 'A'), false},
      {"wall read " + kKey + " more", false},
      {"wa/ll read " + kKey, false},
      {std::string(kMaxBoardKeyName + 1, 'n') + " read " + kKey, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ParseBoardKeys(c.line + "\n").size(), c.key ? 1u : 0u);
  }
  const std::vector<TBoardKey> keys{{"a", true, kKey}, {"b", false, std::string(64, '1')}};
  EXPECT_EQ(ParseBoardKeys(BoardKeysText(keys)), keys);
}

TEST(BoardKeys, MadeAndRevokedInAPrivateFile) {
  QTemporaryDir dir;
  const std::string file = dir.filePath(QString::fromLatin1(kBoardKeysFile)).toStdString();
  bool replaced = true;
  const TBoardKey wall = MakeBoardKey(file, "wall", false, replaced);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(wall.Key.size(), 64u);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const TBoardKey ops = MakeBoardKey(file, "ops", true, replaced);
  const TBoardKey again = MakeBoardKey(file, "wall", true, replaced);
  EXPECT_TRUE(replaced);
  EXPECT_NE(again.Key, wall.Key);
  EXPECT_NE(again.Key, ops.Key);
  EXPECT_EQ(ReadBoardKeys(file), (std::vector<TBoardKey>{ops, again}));

  EXPECT_TRUE(RevokeBoardKey(file, "ops"));
  EXPECT_FALSE(RevokeBoardKey(file, "ops"));
  EXPECT_EQ(ReadBoardKeys(file), std::vector<TBoardKey>{again});
  EXPECT_THROW(MakeBoardKey(file, "no name", false, replaced), std::runtime_error);
}

TEST(BoardKeys, TheKeyringTakesEachChangeAtTheNextQuestion) {
  QTemporaryDir dir;
  const std::string file = dir.filePath(QString::fromLatin1(kBoardKeysFile)).toStdString();
  std::vector<std::string> said;
  TBoardKeyring ring(file, [&said](const std::string& line) { said.push_back(line); });
  EXPECT_FALSE(ring.Find(kKey)) << "no file: no key";
  bool replaced = false;
  const TBoardKey wall = MakeBoardKey(file, "wall", false, replaced);
  const std::optional<TBoardKey> found = ring.Find(wall.Key);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->Name, "wall");
  EXPECT_FALSE(found->CanAct);
  EXPECT_FALSE(ring.Find(wall.Key.substr(0, 63)));
  RevokeBoardKey(file, "wall");
  EXPECT_FALSE(ring.Find(wall.Key));
  EXPECT_EQ(said, (std::vector<std::string>{"Board key wall made (read only)", "Board key wall revoked"}));
}

}  // namespace
}  // namespace qm

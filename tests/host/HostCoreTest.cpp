// Decoding without Qt: KISS framing, AX.25 UI frames, APRS-IS lines, capture files.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "host/AprsIsLineReader.h"
#include "host/CaptureReader.h"
#include "host/HostSettings.h"
#include "host/HostText.h"
#include "host/KissDecoder.h"
#include "tests/host/TestFrames.h"

namespace qm {
namespace {

using test::Ax25Ui;
using namespace std::string_literals;

struct TFrame {
  int Port;
  std::string Bytes;
  bool operator==(const TFrame&) const = default;
};

std::vector<TFrame> FeedAll(TKissDecoder& decoder, const std::string& bytes, std::size_t chunk) {
  std::vector<TFrame> frames;
  for (std::size_t i = 0; i < bytes.size(); i += chunk) {
    decoder.Feed(std::string_view(bytes).substr(i, chunk), [&](int port, std::string_view ax25) {
      frames.push_back({port, std::string(ax25)});
    });
  }
  return frames;
}

TEST(KissDecoderTest, UnescapesAndFramesAtAnySplit) {
  struct TCase {
    const char* Name;
    std::string Stream;
    std::vector<TFrame> Expected;
  } cases[] = {
      {"plain frame",
       "\xC0\x00"
       "abc\xC0"s,
       {{0, "abc"}}},
      {"escaped FEND and FESC",
       "\xC0\x00"
       "a\xDB\xDC"
       "b\xDB\xDD"
       "c\xC0"s,
       {{0,
         "a\xC0"
         "b\xDB"
         "c"}}},
      {"TFEND and TFESC unescaped stay", "\xC0\x00\xDC\xDD\xC0"s, {{0, "\xDC\xDD"}}},
      {"port in the high nibble",
       "\xC0\x50"
       "x\xC0",
       {{5, "x"}}},
      {"idle FENDs between frames",
       "\xC0\xC0\xC0\x00"
       "a\xC0\xC0\x10"
       "b\xC0"s,
       {{0, "a"}, {1, "b"}}},
      {"leading bytes before the first FEND form a frame of their own",
       "\x00"
       "a\xC0"s,
       {{0, "a"}}},
      {"non-data command dropped",
       "\xC0\x01\x32\xC0\xC0\x00"
       "ok\xC0"s,
       {{0, "ok"}}},
      {"bad escape drops only its frame",
       "\xC0\x00"
       "a\xDB"
       "x\xC0\x00"
       "ok\xC0"s,
       {{0, "ok"}}},
      {"FESC right before FEND drops the frame",
       "\xC0\x00"
       "a\xDB\xC0\x00"
       "ok\xC0"s,
       {{0, "ok"}}},
      {"unfinished frame waits",
       "\xC0\x00"
       "abc"s,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{1000}}) {
      SCOPED_TRACE(chunk);
      TKissDecoder decoder;
      EXPECT_EQ(FeedAll(decoder, c.Stream, chunk), c.Expected);
    }
  }
}

TEST(KissDecoderTest, CountsDroppedFrames) {
  TKissDecoder decoder;
  FeedAll(decoder,
          std::string("\xC0\x01\x32\xC0\xC0\x00"
                      "a\xDB"
                      "x\xC0",
                      10),
          1000);
  EXPECT_EQ(decoder.DroppedFrames(), 2u);
}

TEST(KissDecoderTest, OverLongFrameIsDroppedWithoutGrowing) {
  TKissDecoder decoder(16);
  std::string stream = "\xC0\x00"s + std::string(16, 'a') + "\xC0";  // 17 bytes with the command
  stream += "\xC0\x00"s + std::string(15, 'b') + "\xC0";             // exactly 16: kept
  stream += "\xC0\x00"s + std::string(100000, 'c') +
            "\xC0\xC0\x00"
            "ok\xC0"s;
  const auto frames = FeedAll(decoder, stream, 4096);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].Bytes, std::string(15, 'b'));
  EXPECT_EQ(frames[1].Bytes, "ok");
  EXPECT_EQ(decoder.DroppedFrames(), 2u);
}

TEST(KissDecoderTest, ResetForgetsHalfFrame) {
  TKissDecoder decoder;
  FeedAll(decoder,
          std::string("\xC0\x00"
                      "stale",
                      7),
          100);
  decoder.Reset();
  const auto frames = FeedAll(decoder, std::string("fresh\xC0", 6), 100);
  // After a reset the bytes up to the next FEND make a frame of their own; "f" is no data command.
  EXPECT_TRUE(frames.empty());
}

TEST(Ax25DecodeTest, KnownDirewolfFrame) {
  // A bulletin from N0CALL to APRS exactly as Direwolf hands it over KISS.
  const std::string frame =
      "\x82\xA0\xA4\xA6\x40\x40\xE0"
      "\x9C\x60\x86\x82\x98\x98\xE1"
      "\x03\xF0"
      ":BLN1     :Net tonight";
  EXPECT_EQ(DecodeAx25UiFrame(frame), std::optional<std::string>("N0CALL>APRS::BLN1     :Net tonight"));
}

TEST(Ax25DecodeTest, AddressesSsidsAndRepeatedMark) {
  struct TCase {
    std::string Frame;
    std::string Expected;
  } cases[] = {
      {Ax25Ui("N0CALL", "APRS", {}, "hi"), "N0CALL>APRS:hi"},
      {Ax25Ui("W1ABC-7", "APRS-15", {}, "x"), "W1ABC-7>APRS-15:x"},
      {Ax25Ui("K1A", "APRS", {"WIDE1-1", "WIDE2-2"}, ">status"), "K1A>APRS,WIDE1-1,WIDE2-2:>status"},
      {Ax25Ui("K1A", "APRS", {"RELAY*", "WIDE2-1"}, "x"), "K1A>APRS,RELAY*,WIDE2-1:x"},
      // Only the last repeated digipeater carries the mark.
      {Ax25Ui("K1A", "APRS", {"DIGI1*", "DIGI2-3*", "WIDE2-1"}, "x"), "K1A>APRS,DIGI1,DIGI2-3*,WIDE2-1:x"},
      {Ax25Ui("K1A", "APRS", {"A", "B", "C", "D", "E", "F", "G", "H*"}, "x"), "K1A>APRS,A,B,C,D,E,F,G,H*:x"},
      {Ax25Ui("K1A", "APRS", {}, ""), "K1A>APRS:"},
      {Ax25Ui("K1A", "APRS", {}, std::string("a\0b\r\n", 5)), std::string("K1A>APRS:a\0b\r\n", 14)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    EXPECT_EQ(DecodeAx25UiFrame(c.Frame), std::optional<std::string>(c.Expected));
  }
}

TEST(Ax25DecodeTest, IgnoresOtherAndBrokenFrames) {
  const std::string good = Ax25Ui("N0CALL", "APRS", {"WIDE1-1"}, "x");
  auto withByte = [&](std::size_t at, char value) {
    std::string f = good;
    f[at] = value;
    return f;
  };
  struct TCase {
    const char* Name;
    std::string Frame;
  } cases[] = {
      {"empty", ""},
      {"one address only", good.substr(0, 7)},
      {"address field cut short", good.substr(0, 17)},
      {"no control and PID", good.substr(0, 21)},
      {"no PID", good.substr(0, 22)},
      {"I frame control", withByte(21, '\x00')},
      {"other PID", withByte(22, '\xCF')},
      {"lower-case callsign", withByte(7, static_cast<char>('n' << 1))},
      {"blank inside a callsign", withByte(8, static_cast<char>(' ' << 1))},
      {"empty callsign", Ax25Ui("      ", "APRS", {}, "x")},
      {"end bit inside a callsign", withByte(0, static_cast<char>(good[0] | 1))},
      {"never-ending address field", std::string(77, '\x82')},
      {"nine digipeaters", Ax25Ui("K1A", "APRS", {"A", "B", "C", "D", "E", "F", "G", "H", "I"}, "x")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(DecodeAx25UiFrame(c.Frame), std::nullopt);
  }
  // The poll bit does not make a UI frame anything else.
  EXPECT_EQ(DecodeAx25UiFrame(withByte(21, '\x13')), std::optional<std::string>("N0CALL>APRS,WIDE1-1:x"));
}

TEST(HostTextTest, StationProgramForm) {
  EXPECT_EQ(MakeHostPacketText("A>B:x"), "*A>B:x");
  EXPECT_EQ(MakeHostPacketText("A>B:x", "12:34:56"), "*12:34:56 A>B:x");
  const std::string word = HostTimeWord();
  ASSERT_EQ(word.size(), 8u);
  for (std::size_t i : {0, 1, 3, 4, 6, 7}) EXPECT_TRUE(word[i] >= '0' && word[i] <= '9') << word;
  EXPECT_EQ(word[2], ':');
  EXPECT_EQ(word[5], ':');
}

TEST(HostTextTest, LoginLine) {
  struct TCase {
    std::string Call, Filter, Expected;
  } cases[] = {
      {"N0CALL", "", "user N0CALL pass -1 vers Quillmark 1.3.3\r\n"},
      {"n0call-9", "r/33/-97/200 t/m",
       "user N0CALL-9 pass -1 vers Quillmark 1.3.3 filter r/33/-97/200 t/m\r\n"},
      {"  K1A  ", "   ", "user K1A pass -1 vers Quillmark 1.3.3\r\n"},
      // Nothing a setting holds can smuggle a second line to the server.
      {"K1A\r\nuser X", "p/K\r\n#x", "user K1AUSERX pass -1 vers Quillmark 1.3.3 filter p/K#x\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    EXPECT_EQ(AprsIsLoginLine(c.Call, c.Filter), c.Expected);
  }
}

TEST(HostSettingsTest, PortPerTransport) {
  THostSettings s;
  s.Transport = THostSettings::htAprsIs;
  EXPECT_EQ(s.EffectivePort(), 14580);
  s.Transport = THostSettings::htKissTcp;
  EXPECT_EQ(s.EffectivePort(), 8001);
  s.Port = 9000;
  EXPECT_EQ(s.EffectivePort(), 9000);
}

TEST(HostSettingsTest, TransportNamesStayWhatTheSettingsFileHolds) {
  // Stored names and the enumeration's order (the window lists transports by it) never move.
  const struct {
    THostSettings::TTransport Transport;
    int Value;
    const char* Name;
  } cases[] = {
      {THostSettings::htReplay, 0, "replay"},
      {THostSettings::htAprsIs, 1, "aprs-is"},
      {THostSettings::htKissTcp, 2, "kiss-tcp"},
      {THostSettings::htStationProgram, 3, "station-program"},
      {THostSettings::htKissSerial, 4, "kiss-serial"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(static_cast<int>(c.Transport), c.Value);
    EXPECT_STREQ(TransportName(c.Transport), c.Name);
    EXPECT_EQ(TransportNamed(c.Name), c.Transport);
  }
  EXPECT_EQ(TransportNamed("KISS-Serial"), THostSettings::htKissSerial);
  for (const char* unknown : {"", "serial", "kiss", "kiss-serial ", "kiss_tcp"})
    EXPECT_EQ(TransportNamed(unknown), std::nullopt) << unknown;
  EXPECT_EQ(
      UnknownTransportText(1, "aprs_is"),
      "[Connection2] Transport=aprs_is names no transport (replay, aprs-is, kiss-tcp, station-program or "
      "kiss-serial); the section is skipped");
}

// A server that is down is asked again within 30 s at most, however long it stays away.
TEST(HostSettingsTest, ReconnectWaitsDoubleUpToHalfAMinute) {
  struct TCase {
    const char* Name;
    int First, Max;
    std::vector<int> Waits;
  } cases[] = {
      {"usual",
       THostSettings{}.RetryFirstMs,
       THostSettings{}.RetryMaxMs,
       {1000, 2000, 4000, 8000, 16000, 30000, 30000}},
      {"no waits set", 0, -5, {1, 1, 1}},
      {"first above the longest", 5000, 3000, {3000, 3000}},
      {"doubling past the int range", 1 << 30, INT_MAX, {1 << 30, INT_MAX, INT_MAX}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    THostSettings settings;
    settings.RetryFirstMs = c.First;
    settings.RetryMaxMs = c.Max;
    TRetryWaits waits(settings);
    std::vector<int> got;
    for (std::size_t i = 0; i < c.Waits.size(); ++i) got.push_back(waits.Next());
    EXPECT_EQ(got, c.Waits);
    waits.Reset();
    EXPECT_EQ(waits.Next(), c.Waits.front());
  }
}

TEST(HostSettingsTest, OnlyTheUsualSerialSpeeds) {
  for (const int baud : {300, 1200, 9600, 115200, 230400}) EXPECT_TRUE(IsSerialSpeed(baud)) << baud;
  for (const int baud : {0, -9600, 12, 120, 9601, 460800, 4000000, INT_MIN})
    EXPECT_FALSE(IsSerialSpeed(baud)) << baud;
  EXPECT_EQ(SerialSpeedRule(),
            "one of 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400 bits a second");
}

std::vector<std::string> ReadLines(TAprsIsLineReader& reader, const std::string& bytes, std::size_t chunk) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < bytes.size(); i += chunk)
    reader.Feed(std::string_view(bytes).substr(i, chunk), [&](std::string_view l) { lines.emplace_back(l); });
  return lines;
}

TEST(AprsIsLineReaderTest, SplitsAtAnyLineEnd) {
  struct TCase {
    const char* Name;
    std::string Stream;
    std::vector<std::string> Expected;
  } cases[] = {
      {"CR LF", "# logresp\r\nA>B:x\r\n", {"# logresp", "A>B:x"}},
      {"LF only and CR only", "A>B:1\nA>B:2\rA>B:3\r\n", {"A>B:1", "A>B:2", "A>B:3"}},
      {"empty lines skipped", "\r\n\r\n\nA>B:x\r\n\r\n", {"A>B:x"}},
      {"unfinished line waits", "A>B:x\r\nA>B:y", {"A>B:x"}},
      {"other control bytes kept", std::string("A>B:\0\t\x7F\r\n", 9), {std::string("A>B:\0\t\x7F", 7)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      SCOPED_TRACE(chunk);
      TAprsIsLineReader reader;
      EXPECT_EQ(ReadLines(reader, c.Stream, chunk), c.Expected);
    }
  }
}

TEST(AprsIsLineReaderTest, OverLongLineDroppedUpToItsEnd) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{100}, std::size_t{1 << 20}}) {
    SCOPED_TRACE(chunk);
    TAprsIsLineReader reader(512);
    const std::string atBound(512, 'k');
    const std::string stream =
        std::string(513, 'x') + "\r\n" + atBound + "\r\n" + std::string(1 << 20, 'y') + "\nA>B:after\r\n";
    EXPECT_EQ(ReadLines(reader, stream, chunk), (std::vector<std::string>{atBound, "A>B:after"}));
    EXPECT_EQ(reader.DroppedLines(), 2u);
  }
}

TEST(AprsIsLineReaderTest, ServerLines) {
  EXPECT_TRUE(TAprsIsLineReader::IsServerLine("# aprsc 2.1.14"));
  EXPECT_TRUE(TAprsIsLineReader::IsServerLine("#"));
  EXPECT_FALSE(TAprsIsLineReader::IsServerLine(" #x"));
  EXPECT_FALSE(TAprsIsLineReader::IsServerLine("A>B:#x"));
  EXPECT_FALSE(TAprsIsLineReader::IsServerLine(""));
}

class CaptureReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    std::ofstream(FPath, std::ios::binary) << text;
    return FPath.string();
  }
  void TearDown() override { std::filesystem::remove(FPath); }
  std::filesystem::path FPath =
      std::filesystem::temp_directory_path() /
      ("qm_capture_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
};

TEST_F(CaptureReaderTest, SkipsBlankAndOverLongLines) {
  TCaptureReader reader(32);
  ASSERT_TRUE(reader.Open(Write("*A>B:1\r\n\r\n   \t\n*12:00:00 A>B:2\n" + std::string(40, 'z') + "\n" +
                                std::string(33, 'q') + "\r\n" + std::string(32, 'w') + "\r\n*A>B:3")));
  std::vector<std::string> lines;
  while (auto line = reader.NextLine()) lines.push_back(*line);
  EXPECT_EQ(lines, (std::vector<std::string>{"*A>B:1", "*12:00:00 A>B:2", std::string(32, 'w'), "*A>B:3"}));
  EXPECT_EQ(reader.DroppedLines(), 2u);
  EXPECT_EQ(reader.NextLine(), std::nullopt);
}

// A device, a pipe or a folder may never end (or never open): refused before it is opened.
TEST_F(CaptureReaderTest, RefusesWhatIsNotARegularFile) {
  const std::filesystem::path fifo = FPath.string() + ".fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), fifo.string(), FPath.parent_path().string()}) {
    SCOPED_TRACE(path);
    TCaptureReader reader;
    EXPECT_FALSE(reader.Open(path));
    EXPECT_EQ(reader.Error(), "not a file (a device, a pipe or a folder)");
    EXPECT_TRUE(reader.AtEnd());
  }
  std::filesystem::remove(fifo);
}

// A megabyte without a line end is read a turn at a time; the line after it still comes.
TEST_F(CaptureReaderTest, AStretchWithoutLineEndsIsReadATurnAtATime) {
  TCaptureReader reader(TCaptureReader::DefaultMaxLine, 64 * 1024);
  ASSERT_TRUE(reader.Open(Write(std::string(1024 * 1024, 'x') + "\n*A>B:1\n")));
  int turns = 0;
  std::optional<std::string> line;
  while (!(line = reader.NextLine()) && turns < 100) {
    ASSERT_FALSE(reader.AtEnd());
    reader.NewTurn();
    ++turns;
  }
  EXPECT_EQ(line, "*A>B:1");
  EXPECT_EQ(turns, 16);
  EXPECT_EQ(reader.DroppedLines(), 1u);
  EXPECT_EQ(reader.NextLine(), std::nullopt);
  EXPECT_TRUE(reader.AtEnd());
}

TEST_F(CaptureReaderTest, MissingFileSaysWhy) {
  TCaptureReader reader;
  EXPECT_FALSE(reader.Open((std::filesystem::temp_directory_path() / "qm_no_such_dir/none.txt").string()));
  EXPECT_FALSE(reader.Error().empty());
  EXPECT_EQ(reader.NextLine(), std::nullopt);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

TEST(Ax25EncodeTest, AckFrameBytes) {
  const auto frame = EncodeAx25UiFrame("Q1ABC-7", "APZQMK", {"WIDE1-1", "WIDE2-1"}, ":K2XYZ-9  :ack12");
  ASSERT_TRUE(frame);
  // Destination with the command bit, source, two digipeaters (the last ends the addresses),
  // UI control, no layer 3, the information field.
  const std::string expected =
      "\x82\xA0\xB4\xA2\x9A\x96\xE0"  // APZQMK
      "\xA2\x62\x82\x84\x86\x40\x6E"  // Q1ABC-7
      "\xAE\x92\x88\x8A\x62\x40\x62"  // WIDE1-1
      "\xAE\x92\x88\x8A\x64\x40\x63"  // WIDE2-1, last
      "\x03\xF0:K2XYZ-9  :ack12"s;
  EXPECT_EQ(*frame, expected);
  EXPECT_EQ(DecodeAx25UiFrame(*frame), "Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :ack12");
  // No path: the source ends the addresses.
  const auto direct = EncodeAx25UiFrame("Q1ABC", "APZQMK", {}, "x");
  ASSERT_TRUE(direct);
  EXPECT_EQ(static_cast<unsigned char>((*direct)[13]), 0x61);
  // Calls an AX.25 address cannot carry.
  for (const char* source : {"EOC-WX", "Q1ABCDE", "Q1ABC-16", ""}) {
    SCOPED_TRACE(source);
    EXPECT_FALSE(EncodeAx25UiFrame(source, "APZQMK", {}, "x"));
  }
}

TEST(Ax25EncodeTest, PathAsTheOperatorWritesIt) {
  const struct {
    const char* Text;
    std::optional<std::vector<std::string>> Path;
  } cases[] = {
      {"WIDE1-1,WIDE2-1", std::vector<std::string>{"WIDE1-1", "WIDE2-1"}},
      {" wide2-02 , relay-0 ", std::vector<std::string>{"WIDE2-2", "RELAY"}},
      {"", std::vector<std::string>{}},
      {"WIDE1-1,", std::nullopt},
      {"WIDE1-16", std::nullopt},
      {"TCPIP*", std::nullopt},
      {"A,B,C,D,E,F,G,H", std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H"}},
      {"A,B,C,D,E,F,G,H,I", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(ReadAx25Path(c.Text), c.Path);
  }
}

TEST(HostTextTest, LoginWithPasscodeAndTheServersAnswer) {
  EXPECT_EQ(AprsIsLoginLine("q1abc-7", "t/m", 12345),
            "user Q1ABC-7 pass 12345 vers Quillmark 1.3.3 filter t/m\r\n");
  EXPECT_EQ(AprsIsOwnPacketLine("q1abc-7", ":K2XYZ    :ack1"), "Q1ABC-7>APZQMK,TCPIP*::K2XYZ    :ack1\r\n");
  const struct {
    const char* Line;
    TLoginAnswer Answer;
  } cases[] = {
      {"# logresp Q1ABC-7 verified, server T2TEST", laVerified},
      {"# logresp q1abc-7 unverified, server T2TEST", laUnverified},
      {"# logresp Q1ABC-7 verified", laVerified},
      {"# logresp K2XYZ verified, server T2TEST", laNone},  // about another call
      {"# logresp Q1ABC-7 unknown, server T2TEST", laNone},
      {"# aprsc 2.1.14", laNone},
      {"Q1ABC-7>APRS:# logresp Q1ABC-7 verified", laNone},  // a packet, not the server
      {"# logresp", laNone},
      {"# logresp Q1ABC-7", laNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    EXPECT_EQ(ReadLoginAnswer(c.Line, "Q1ABC-7"), c.Answer);
  }
}

}  // namespace
}  // namespace qm

// The AccurateRip side of a rip: the disc's ids and entry path, the reading of an entry,
// the verdicts, and the lookup against entry_server.py on the loopback interface.
#include "proof/accuraterip.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "lookup/disc_lookup.h"
#include "loopback_server.h"
#include "temp_dir.h"

namespace {

// One audio track from LSN 0 to the lead-out at 279037.
TDiscToc OneTrackDisc() {
  TDiscToc toc;
  toc.Tracks = {{1, 0, true}};
  toc.LeadOut = 279037;
  return toc;
}

std::string FromHex(const std::string& Hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < Hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(Hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// Two pressings of the one-track disc.
const std::string TwoPressings = FromHex(
    "01fd410400fb83080001880e02071e5416276bcad507"
    "01fd410400fb83080001880e02068654348000000000");

TEST(AccurateRipIds, OfAOneTrackDisc) {
  const TAccurateRipDiscIds ids = AccurateRipDiscIdsOf(OneTrackDisc());
  EXPECT_EQ(ids.AudioTracks, 1);
  EXPECT_EQ(ids.Id1, 0x000441fdu);
  EXPECT_EQ(ids.Id2, 0x000883fbu);
  EXPECT_EQ(ids.Id3, 0x020e8801u);
  EXPECT_EQ(AccurateRipPath(ids), "d/f/1/dBAR-001-000441fd-000883fb-020e8801.bin");
}

// A data track counts in the freedb id only.
TEST(AccurateRipIds, DataTrackIsLeftOut) {
  TDiscToc toc;
  toc.Tracks = {{1, 0, true}, {2, 1000, true}, {3, 3000, false}};
  toc.LeadOut = 5000;
  const TAccurateRipDiscIds ids = AccurateRipDiscIdsOf(toc);
  EXPECT_EQ(ids.AudioTracks, 2);
  EXPECT_EQ(ids.Id1, 0u + 1000 + 5000);
  EXPECT_EQ(ids.Id2, 1u * 1 + 1000 * 2 + 5000 * 3);
  EXPECT_EQ(ids.Id3, std::stoul(FreedbDiscId(toc), nullptr, 16));
}

TEST(AccurateRipEntry, PressingsAreRead) {
  const auto pressings = ParseAccurateRipEntry(TwoPressings, AccurateRipDiscIdsOf(OneTrackDisc()));
  ASSERT_EQ(pressings.size(), 2u);
  ASSERT_EQ(pressings[0].Tracks.size(), 1u);
  EXPECT_EQ(pressings[0].Tracks[0].Confidence, 7);
  EXPECT_EQ(pressings[0].Tracks[0].Crc, 0x2716541eu);
  EXPECT_EQ(pressings[0].Tracks[0].Crc450, 0x07d5ca6bu);
  EXPECT_EQ(pressings[1].Tracks[0].Confidence, 6);
  EXPECT_EQ(pressings[1].Tracks[0].Crc, 0x80345486u);
  EXPECT_EQ(pressings[1].Tracks[0].Crc450, 0u);
}

TEST(AccurateRipEntry, CutShortOrForeignEntriesAreRefused) {
  const TAccurateRipDiscIds ids = AccurateRipDiscIdsOf(OneTrackDisc());
  for (const std::string& bad : {TwoPressings.substr(0, 10), TwoPressings.substr(0, 20),
                                 FromHex("02") + TwoPressings.substr(1),
                                 TwoPressings.substr(0, 5) + "x" + TwoPressings.substr(6)})
    EXPECT_THROW(ParseAccurateRipEntry(bad, ids), ELookupError);
}

// Bytes too few for a block after whole blocks leave the blocks read; a web page where
// the entry belongs is no answer at all.
TEST(AccurateRipEntry, StrayBytesAreIgnoredAndWebPagesRefused) {
  const TAccurateRipDiscIds ids = AccurateRipDiscIdsOf(OneTrackDisc());
  EXPECT_EQ(ParseAccurateRipEntry(TwoPressings.substr(0, 30), ids).size(), 1u);
  EXPECT_EQ(ParseAccurateRipEntry(TwoPressings + "\n", ids).size(), 2u);
  try {
    ParseAccurateRipEntry("\n<!DOCTYPE html><html><body>Welcome</body></html>", ids);
    ADD_FAILURE() << "a web page was read as an entry";
  } catch (const ELookupError& error) {
    EXPECT_NE(std::string(error.what()).find("not an AccurateRip answer"), std::string::npos)
        << error.what();
  }
}

struct TVerdictCase {
  uint32_t V1;
  uint32_t V2;
  const char* Text;
};

TEST(AccurateRipVerdict, EachTrackAgainstThePressings) {
  const auto pressings = ParseAccurateRipEntry(TwoPressings, AccurateRipDiscIdsOf(OneTrackDisc()));
  for (const TVerdictCase& c : {TVerdictCase{0x2716541e, 1, "accurately ripped (confidence 7, v1)"},
                                TVerdictCase{1, 0x2716541e, "accurately ripped (confidence 7, v2)"},
                                TVerdictCase{0x80345486, 2, "accurately ripped (confidence 6, v1)"},
                                TVerdictCase{1, 2, "not accurate"}})
    EXPECT_EQ(AccurateRipVerdict(pressings, 0, c.V1, c.V2).Text(), c.Text) << c.Text;
  EXPECT_EQ(AccurateRipVerdict(std::nullopt, 0, 1, 2).Text(), "not in the database");
  EXPECT_EQ(AccurateRipVerdict(pressings, 1, 1, 2).Text(), "not in the database");
}

// A pressing whose slot for the track is empty (confidence 0, sums 0) beside one whose
// slot has a sum but no confidence: neither holds a rip, so neither matches.
const std::string Header = "01fd410400fb83080001880e02";
const std::string EmptySlots = FromHex(Header +
                                       "00"
                                       "00000000"
                                       "00000000" +
                                       Header +
                                       "00"
                                       "44332211"
                                       "00000000");

TEST(AccurateRipVerdict, EmptySlotsNeverMatch) {
  const auto pressings = ParseAccurateRipEntry(EmptySlots, AccurateRipDiscIdsOf(OneTrackDisc()));
  ASSERT_EQ(pressings.size(), 2u);
  for (const TVerdictCase& c : {TVerdictCase{0, 0, "cannot be checked: the track is silent"},
                                TVerdictCase{0, 5, "not in the database"},
                                TVerdictCase{0x11223344, 5, "not in the database"}})
    EXPECT_EQ(AccurateRipVerdict(pressings, 0, c.V1, c.V2).Text(), c.Text) << c.V1 << " " << c.V2;
  // Beside a real entry the track is not silent: silence read where the database holds
  // sums (a sector never delivered, made up as silence) is not accurate.
  const auto real =
      ParseAccurateRipEntry(TwoPressings + EmptySlots, AccurateRipDiscIdsOf(OneTrackDisc()));
  EXPECT_EQ(AccurateRipVerdict(real, 0, 0, 0).Text(), "not accurate");
  EXPECT_EQ(AccurateRipVerdict(real, 0, 1, 2).Text(), "not accurate");
}

class AccurateRipLookup : public testing::Test {
 protected:
  void SetUp() override {
    Server_.emplace("tests/audio/proof/entry_server.py", Root_.Path().string());
    ASSERT_TRUE(Server_->Started()) << "the server did not start: " << Server_->StartLine;
  }

  void Serve(const std::string& Path, const std::string& Bytes) {
    const std::filesystem::path file = Root_.Path() / "accuraterip" / Path;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << Bytes;
  }

  TAccurateRipSettings Settings(int Port) const {
    TAccurateRipSettings settings;
    settings.Url = "http://127.0.0.1:" + std::to_string(Port) + "/accuraterip/";
    settings.TimeLimit = std::chrono::seconds(2);
    settings.ConnectLimit = std::chrono::seconds(1);
    return settings;
  }

  TTempDir Root_;
  std::optional<TLoopbackServer> Server_;
};

TEST_F(AccurateRipLookup, FoundEntryGivesVerdicts) {
  Serve("d/f/1/dBAR-001-000441fd-000883fb-020e8801.bin", TwoPressings);
  const auto found = LookupAccurateRip(OneTrackDisc(), Settings(Server_->Port()));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(AccurateRipVerdict(found, 0, 0x80345486, 0).Text(),
            "accurately ripped (confidence 6, v1)");
  EXPECT_EQ(AccurateRipVerdict(found, 0, 5, 6).Text(), "not accurate");
}

TEST_F(AccurateRipLookup, UnknownDiscIsNotInTheDatabase) {
  const auto found = LookupAccurateRip(OneTrackDisc(), Settings(Server_->Port()));
  EXPECT_FALSE(found.has_value());
  EXPECT_EQ(AccurateRipVerdict(found, 0, 1, 2).Text(), "not in the database");
}

TEST_F(AccurateRipLookup, FailuresRaiseLookupErrors) {
  Serve("d/f/1/dBAR-001-000441fd-000883fb-020e8801.bin", TwoPressings.substr(0, 20));
  EXPECT_THROW(LookupAccurateRip(OneTrackDisc(), Settings(Server_->Port())), ELookupError);
  // Nothing listens on port 1 of the loopback interface.
  try {
    LookupAccurateRip(OneTrackDisc(), Settings(1));
    ADD_FAILURE() << "no error for a server that is down";
  } catch (const ELookupError& error) {
    EXPECT_NE(std::string(error.what()).find("AccurateRip could not be reached"), std::string::npos)
        << error.what();
  }
}

}  // namespace

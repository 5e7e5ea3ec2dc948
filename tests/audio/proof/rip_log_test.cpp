// The rip log's closing hash: SHA-256 against the FIPS 180 examples, and a log that
// holds what it was given and shows any edit.
#include "proof/rip_log.h"

#include <gtest/gtest.h>

#include <string>

#include "proof/sha256.h"

namespace {

struct TDigestCase {
  std::string Message;
  const char* Digest;
};

TEST(Sha256, FipsExamples) {
  for (const TDigestCase& c :
       {TDigestCase{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        TDigestCase{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        TDigestCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                    "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        TDigestCase{std::string(1000000, 'a'),
                    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}})
    EXPECT_EQ(Sha256Hex(c.Message), c.Digest) << c.Message.substr(0, 60);
}

TRipLog SampleLog() {
  TRipLog log;
  log.Date = "2026-12-07 18:40:00 UTC";
  log.Drive = "Software drive 0";
  log.DriveModel = "KORVANE Software CD";
  log.Toc = {{1, 0, 9000}, {2, 9000, 152}};
  log.MusicBrainzId = "XzPS7vW.HPHsYemQh0HBUGr8vuU-";
  log.FreedbId = "020e8801";
  log.AccurateRipId = "dBAR-001-000441fd-000883fb-020e8801";
  log.ReadOffset = 6;
  log.ReadMode = "paranoia full, 20 retries";
  log.AccurateRipNote = "found, 2 pressings";
  TRipLogTrack first;
  first.Number = 1;
  first.FileName = "01 Pier.wav";
  first.Peak = 32768;
  first.CopyCrc = 0x0f9c5492;
  first.TestCrc = 0x0f9c5492;
  first.TestCopyResult = "Test CRC = Copy CRC";
  first.AccurateRip = TAccurateRipResult{TAccurateRipVerdict::Accurate, 7, 2};
  first.AccurateRipV1 = 0x2716541e;
  first.AccurateRipV2 = 0x0000abcd;
  TRipLogTrack second;
  second.Number = 2;
  second.FileName = "02 Fog Horn.wav";
  second.PregapSectors = 152;
  second.Peak = 16384;
  second.CopyCrc = 0xdeadbeef;
  second.Rereads = 4;
  second.Corrections = 2;
  second.SkippedSectors = 1;
  second.AccurateRip = TAccurateRipResult{TAccurateRipVerdict::NotAccurate, 0, 0};
  second.AccurateRipV1 = 0xdeadbeef;
  second.AccurateRipV2 = 0xdeadbeef;
  second.Error = TProblem("sector 1201 could not be read");
  log.Tracks = {first, second};
  return log;
}

TEST(RipLog, HoldsWhatTheRunKnows) {
  const std::string text = RipLogText(SampleLog());
  for (const char* line :
       {"Korvane 1.00 rip log\nDate: 2026-12-07 18:40:00 UTC\n",
        "Drive: Software drive 0\n",
        "MusicBrainz disc id: XzPS7vW.HPHsYemQh0HBUGr8vuU-\n",
        "freedb disc id: 020e8801\n",
        "AccurateRip disc id: dBAR-001-000441fd-000883fb-020e8801\n",
        "  AccurateRip sums: v1 2716541E, v2 0000ABCD\n",
        "Drive model: KORVANE Software CD\n",
        "      1  00:00.00  02:00.00             0        8999\n",
        "      2  02:00.00  00:02.02          9000        9151\n",
        "Read offset: 6 samples\n",
        "Read mode: paranoia full, 20 retries\n",
        "Track 01\n  File: 01 Pier.wav\n",
        "  Peak: 100.0 %\n",
        "  Test CRC: 0F9C5492\n  Copy CRC: 0F9C5492\n",
        "  Test and copy: Test CRC = Copy CRC\n",
        "  AccurateRip: accurately ripped (confidence 7, v2)\n",
        "  Pre-gap: 00:02.02\n",
        "  Read: 4 re-reads, 2 corrections, 1 skipped sector\n",
        "  Error: sector 1201 could not be read\n",
        "Summary: 2 tracks, 1 with errors, 0 suspicious, 1 sector skipped, 1 of 2 accurately "
        "ripped\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
  // The failed track's partial audio has no checksum or verdict that could pass as real.
  EXPECT_EQ(text.find("DEADBEEF"), std::string::npos) << text;
  EXPECT_EQ(text.find("not accurate"), std::string::npos) << text;
  // Track 1's pre-gap is unknown.
  EXPECT_EQ(text.find("Pre-gap"), text.rfind("Pre-gap"));
  EXPECT_EQ(text.substr(text.rfind("\nSHA-256: ") + 10).size(), 65u);
}

TEST(RipLog, EditsShow) {
  const std::string text = RipLogText(SampleLog());
  EXPECT_TRUE(RipLogIntact(text));
  std::string edited = text;
  edited.replace(edited.find("confidence 7"), 12, "confidence 9");
  EXPECT_FALSE(RipLogIntact(edited));
  EXPECT_FALSE(RipLogIntact(text.substr(0, text.size() - 1)));
  EXPECT_FALSE(RipLogIntact(text.substr(text.find('\n') + 1)));  // a line taken out
  EXPECT_FALSE(RipLogIntact(""));
}

}  // namespace

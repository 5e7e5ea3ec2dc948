// The disc identities: the MusicBrainz id must be what libdiscid gives for the offsets
// that the service's rules name (written out here by hand, per disc), and the freedb id
// what an independent computation of the freedb formula gives.
#include "lookup/disc_identity.h"

#include <discid/discid.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_run.h"

namespace {

struct TIdentityCase {
  const char* Name;
  std::vector<CR_TocEntry> Entries;  // tracks, then the lead-out
  int32_t LastSessionStart;
  // What libdiscid is to be given: the audio session's tracks and its lead-out.
  int First, Last;
  int MusicBrainzLeadOut;  // an offset: LSN + 150
};

CR_TocEntry Audio(int Number, int32_t Start) {
  return {Start, CR_FLAG_AUDIO, static_cast<uint8_t>(Number), 0, 0};
}
CR_TocEntry Data(int Number, int32_t Start) {
  return {Start, CR_FLAG_DATA, static_cast<uint8_t>(Number), 0, 0};
}
CR_TocEntry LeadOut(int32_t Start) { return {Start, CR_FLAG_DATA, CR_LEADOUT_TRACK, 0, 0}; }

const std::vector<TIdentityCase> Cases = {
    // The disc of libdiscid's own examples (its published ids are checked below).
    {"AudioOnly",
     {Audio(1, 0),       Audio(2, 9550),    Audio(3, 25737),   Audio(4, 39147),   Audio(5, 53645),
      Audio(6, 63585),   Audio(7, 77367),   Audio(8, 94727),   Audio(9, 107120),  Audio(10, 123402),
      Audio(11, 135372), Audio(12, 148272), Audio(13, 161047), Audio(14, 174640), Audio(15, 191872),
      Audio(16, 205395), Audio(17, 217860), Audio(18, 228550), Audio(19, 239440), Audio(20, 255320),
      Audio(21, 266782), Audio(22, 288600), LeadOut(303452)},
     0,
     1,
     22,
     303602},
    // A data track at the end of the one session is one of its tracks.
    {"DataLastOneSession",
     {Audio(1, 0), Audio(2, 20000), Audio(3, 41000), Data(4, 60000), LeadOut(90000)},
     0,
     1,
     4,
     90150},
    {"DataFirst",
     {Data(1, 0), Audio(2, 33000), Audio(3, 51234), Audio(4, 70000), LeadOut(101000)},
     0,
     1,
     4,
     101150},
    // Enhanced CD: the data session starts 11400 sectors after the audio session's end.
    {"EnhancedCd",
     {Audio(1, 0), Audio(2, 15000), Audio(3, 33000), Data(4, 61400), LeadOut(80000)},
     61400,
     1,
     3,
     50150},
    {"EnhancedCdNotFromTrackOne",
     {Audio(3, 182), Audio(4, 22000), Data(5, 72000), LeadOut(90000)},
     72000,
     3,
     4,
     60750},
};

std::string LibdiscidId(const TIdentityCase& Case) {
  int offsets[100] = {};
  offsets[0] = Case.MusicBrainzLeadOut;
  for (const CR_TocEntry& entry : Case.Entries)
    if (entry.TrackNumber >= Case.First && entry.TrackNumber <= Case.Last)
      offsets[entry.TrackNumber] = entry.StartSector + 150;
  DiscId* disc = discid_new();
  EXPECT_TRUE(discid_put(disc, Case.First, Case.Last, offsets));
  const std::string id = discid_get_id(disc);
  discid_free(disc);
  return id;
}

// The freedb formula, in Python: digit sums of the tracks' start seconds, the length in
// seconds and the number of tracks (every track, data too; offsets LSN + 150).
std::string PythonFreedbId(const TIdentityCase& Case) {
  std::string starts, leadOut;
  for (const CR_TocEntry& entry : Case.Entries) {
    const std::string offset = std::to_string(entry.StartSector + 150);
    if (entry.TrackNumber == CR_LEADOUT_TRACK)
      leadOut = offset;
    else
      starts += offset + ",";
  }
  const TCommandResult result =
      CaptureCommand("/usr/bin/python3 -c 'o=[" + starts + "]; l=" + leadOut +
                     "; n=sum(sum(map(int,str(x//75))) for x in o); "
                     "print(\"%08x\" % ((n%255)<<24 | (l//75-o[0]//75)<<8 | len(o)))'");
  EXPECT_EQ(result.Status, 0) << result.Output;
  return result.Output.substr(0, result.Output.find('\n'));
}

class DiscIdentity : public testing::TestWithParam<TIdentityCase> {};

TEST_P(DiscIdentity, MusicBrainzIdIsLibdiscidsOverTheAudioSession) {
  const TDiscToc toc = DiscTocOf(GetParam().Entries, GetParam().LastSessionStart);
  EXPECT_EQ(MusicBrainzDiscId(toc), LibdiscidId(GetParam()));
}

TEST_P(DiscIdentity, FreedbIdFollowsTheFormulaOverEveryTrack) {
  const TDiscToc toc = DiscTocOf(GetParam().Entries, GetParam().LastSessionStart);
  EXPECT_EQ(FreedbDiscId(toc), PythonFreedbId(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Discs, DiscIdentity, testing::ValuesIn(Cases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(DiscIdentityKnown, AudioOnlyDiscHasItsPublishedIds) {
  const TDiscToc toc = DiscTocOf(Cases[0].Entries, 0);
  EXPECT_EQ(MusicBrainzDiscId(toc), "xUp1F2NkfP8s8jaeFn_Av3jNEI4-");
  EXPECT_EQ(FreedbDiscId(toc), "370fce16");
}

TEST(DiscIdentityKnown, DiscWithoutAudioHasNoMusicBrainzId) {
  const TDiscToc toc = DiscTocOf({Data(1, 0), LeadOut(30000)}, 0);
  EXPECT_EQ(MusicBrainzDiscId(toc), "");
}

}  // namespace

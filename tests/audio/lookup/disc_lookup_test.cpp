// The lookups against lookup_server.py on the loopback interface: what each service's
// answers become, the requests sent (query, User-Agent), the failures and their
// messages, and the pause between two MusicBrainz requests.
#include "lookup/disc_lookup.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "loopback_server.h"
#include "temp_dir.h"

namespace {

// Three audio tracks: offsets 150, 30150, 60150, lead-out 95100 (1268 seconds).
TDiscToc TestDisc() {
  TDiscToc toc;
  toc.Tracks = {{1, 0, true}, {2, 30000, true}, {3, 60000, true}};
  toc.LeadOut = 94950;
  return toc;
}

const char* const UserAgent = "Korvane/1.00 ( http://korvane.example.org )";

struct TLoggedRequest {
  double Time = 0;
  std::string UserAgent;
  std::string Line;  // "GET /... HTTP/1.1"
};

class LoopbackLookup : public testing::Test {
 protected:
  void SetUp() override {
    Server_.emplace("tests/audio/lookup/lookup_server.py", Folder_ / "requests.log");
    ASSERT_TRUE(Server_->Started()) << "the server did not start: " << Server_->StartLine;
  }

  TLookupSettings Settings(const std::string& Scenario) const {
    TLookupSettings settings;
    const std::string root = Server_->Url("/" + Scenario);
    settings.MusicBrainzUrl = root + "/ws/2";
    settings.CddbUrl = root + "/cddb";
    settings.TimeLimit = std::chrono::seconds(1);
    settings.ConnectLimit = std::chrono::seconds(1);
    return settings;
  }

  std::vector<TLoggedRequest> Requests() const {
    std::vector<TLoggedRequest> requests;
    std::ifstream log(Folder_ / "requests.log");
    std::string line;
    while (std::getline(log, line)) {
      std::istringstream fields(line);
      TLoggedRequest request;
      std::string time;
      std::getline(fields, time, '\t');
      std::getline(fields, request.UserAgent, '\t');
      std::getline(fields, request.Line);
      request.Time = std::stod(time);
      requests.push_back(request);
    }
    return requests;
  }

  TTempDir Folder_;
  std::optional<TLoopbackServer> Server_;
};

TEST_F(LoopbackLookup, MusicBrainzReleaseBecomesTheDiscsInfo) {
  const auto found = LookupMusicBrainz(TestDisc(), Settings("one"));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Artist, "Mira Voss & The Tides");
  EXPECT_EQ(found[0].Album, "Harbour Lights");
  EXPECT_EQ(found[0].Year, "1998-04-20");
  EXPECT_EQ(found[0].TrackTitles,
            (std::vector<std::string>{"Pier", "Fog Horn (Über alles)", "Lantern"}));
  // A track's own credit, else the release's.
  EXPECT_EQ(found[0].TrackArtists, (std::vector<std::string>{"Mira Voss", "Mira Voss feat. Jun Ito",
                                                             "Mira Voss & The Tides"}));
  EXPECT_EQ(found[0].Source, "MusicBrainz release 0f9a7c1e-1111-4a2b-9c3d-000000000001");

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].UserAgent, UserAgent);
  EXPECT_EQ(requests[0].Line, "GET /one/ws/2/discid/" + MusicBrainzDiscId(TestDisc()) +
                                  "?inc=recordings+artist-credits+genres&fmt=json HTTP/1.1");
}

TEST_F(LoopbackLookup, MusicBrainzListsEveryReleaseWithTheMediumOfTheDisc) {
  const auto found = LookupMusicBrainz(TestDisc(), Settings("several"));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Album, "Harbour Lights");
  EXPECT_EQ(found[1].Album, "Harbour Lights (Deluxe)");
  EXPECT_EQ(found[1].Year, "2008-11-03");
  EXPECT_EQ(found[1].Genre, "pop");
  EXPECT_EQ(std::make_tuple(found[1].DiscNumber, found[1].DiscTotal, found[1].Medium),
            std::make_tuple(2, 2, std::string("CD")));
  // The second medium of the deluxe release holds the disc, not its first.
  EXPECT_EQ(found[1].TrackTitles,
            (std::vector<std::string>{"Pier (Remastered)", "Fog Horn (Remastered)",
                                      "Lantern (Remastered)"}));
}

TEST_F(LoopbackLookup, CddbEntryBecomesTheDiscsInfo) {
  const auto found = LookupCddb(TestDisc(), Settings("one"));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Artist, "Mira Voss");
  EXPECT_EQ(found[0].Album, "Harbour Lights");
  EXPECT_EQ(found[0].Year, "1998");
  EXPECT_EQ(found[0].Genre, "Folk Rock");
  EXPECT_EQ(found[0].TrackTitles,
            (std::vector<std::string>{"Pier",
                                      "Fog Horn (Über alles, a title long enough that the "
                                      "database has split it over two lines)",
                                      "Lantern\\Lamp\tLight"}));
  EXPECT_EQ(found[0].TrackArtists, std::vector<std::string>(3, "Mira Voss"));
  const std::string id = FreedbDiscId(TestDisc());
  EXPECT_EQ(found[0].Source, "CDDB rock " + id);
  EXPECT_FALSE(found[0].Inexact);

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string hello = "&hello=anonymous+localhost+Korvane+1.00&proto=6 HTTP/1.1";
  EXPECT_EQ(requests[0].Line,
            "GET /one/cddb?cmd=cddb+query+" + id + "+3+150+30150+60150+1268" + hello);
  EXPECT_EQ(requests[1].Line, "GET /one/cddb?cmd=cddb+read+rock+" + id + hello);
  EXPECT_EQ(requests[1].UserAgent, UserAgent);
}

TEST_F(LoopbackLookup, CddbReadsEveryInexactMatch) {
  const auto found = LookupCddb(TestDisc(), Settings("several"));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Source, "CDDB rock " + FreedbDiscId(TestDisc()));
  EXPECT_EQ(found[1].Source, "CDDB misc 0a0b0c03");
  EXPECT_TRUE(found[0].Inexact && found[1].Inexact);
  // A sampler names the artist in each track's title.
  EXPECT_EQ(found[1].TrackTitles, (std::vector<std::string>{"Pier", "Fog Horn", "Lantern"}));
  EXPECT_EQ(found[1].TrackArtists,
            (std::vector<std::string>{"Mira Voss", "Jun Ito", "Various Artists"}));
}

// Of a long list of matches only the first few entries are read.
TEST_F(LoopbackLookup, CddbReadsTheFirstEntriesOfALongList) {
  const auto found = LookupCddb(TestDisc(), Settings("many"));
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[2].Source, "CDDB rock 0a0b0c13");
  EXPECT_EQ(Requests().size(), 4u);
}

// An entry the server hands over in Latin-1 is read as Latin-1.
TEST_F(LoopbackLookup, CddbEntryInLatin1BecomesUtf8) {
  const auto found = LookupCddb(TestDisc(), Settings("latin1"));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Album, "Café Nights");
  EXPECT_EQ(found[0].TrackTitles.at(2), "Naïve");
}

TEST_F(LoopbackLookup, NoMatchIsAnEmptyList) {
  EXPECT_TRUE(LookupMusicBrainz(TestDisc(), Settings("none")).empty());
  EXPECT_TRUE(LookupCddb(TestDisc(), Settings("none")).empty());
}

TEST_F(LoopbackLookup, MusicBrainzRequestsAreASecondApart) {
  LookupMusicBrainz(TestDisc(), Settings("one"));
  LookupMusicBrainz(TestDisc(), Settings("none"));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_GE(requests[1].Time - requests[0].Time, 0.9);
}

struct TFailureCase {
  const char* Name;
  bool MusicBrainz;  // else CDDB
  const char* Scenario;
  const char* Message;  // the whole message, or a part of it
};

class LookupFailure : public LoopbackLookup, public testing::WithParamInterface<TFailureCase> {};

TEST_P(LookupFailure, RaisesOneErrorNamingTheServiceAndWhatWentWrong) {
  TLookupSettings settings = Settings(GetParam().Scenario);
  if (std::string(GetParam().Scenario) == "refused") {
    // Nothing listens on port 1 of the loopback interface.
    settings.MusicBrainzUrl = "http://127.0.0.1:1/ws/2";
    settings.CddbUrl = "http://127.0.0.1:1/cddb";
  }
  try {
    GetParam().MusicBrainz ? LookupMusicBrainz(TestDisc(), settings)
                           : LookupCddb(TestDisc(), settings);
    ADD_FAILURE() << "no error";
  } catch (const ELookupError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().Message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LookupFailure,
    testing::Values(
        TFailureCase{"MusicBrainzServerError", true, "error",
                     "MusicBrainz answered with an error (HTTP 500)"},
        TFailureCase{"MusicBrainzSlow", true, "slow", "MusicBrainz did not answer within 1 second"},
        TFailureCase{"MusicBrainzMalformed", true, "malformed",
                     "MusicBrainz sent an answer that could not be read: it is not JSON"},
        TFailureCase{"MusicBrainzNestedTooDeep", true, "deep",
                     "MusicBrainz sent an answer that could not be read: it nests deeper than 64 "
                     "levels"},
        TFailureCase{"MusicBrainzRefused", true, "refused", "MusicBrainz could not be reached"},
        TFailureCase{"MusicBrainzHugeHeader", true, "header",
                     "MusicBrainz sent a header too large to read"},
        TFailureCase{"CddbServerError", false, "error",
                     "The CDDB server 127.0.0.1 answered with an error (HTTP 500)"},
        TFailureCase{"CddbSlow", false, "slow",
                     "The CDDB server 127.0.0.1 did not answer within 1 second"},
        TFailureCase{"CddbMalformed", false, "malformed",
                     "The CDDB server 127.0.0.1 sent an answer that could not be read: It works!"},
        TFailureCase{"CddbEntryCutShort", false, "truncated",
                     "The CDDB server 127.0.0.1 sent an answer that could not be read: the entry "
                     "ends early"},
        TFailureCase{"CddbRefused", false, "refused",
                     "The CDDB server 127.0.0.1 could not be reached"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace

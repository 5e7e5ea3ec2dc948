#include "disc_knowledge.h"

#include "disc_identity.h"

namespace {

void Fill(std::string& Value, const std::string& Fallback) {
  if (Value.empty()) Value = Fallback;
}

void FillTexts(std::vector<std::string>& Values, const std::vector<std::string>& Fallback) {
  if (Values.size() < Fallback.size()) Values.resize(Fallback.size());
  for (size_t i = 0; i < Fallback.size(); ++i) Fill(Values[i], Fallback[i]);
}

std::string Describe(const TDiscInfo& Info) {
  std::string text = (Info.Artist.empty() ? "(no artist)" : Info.Artist) + " - " +
                     (Info.Album.empty() ? "(no title)" : Info.Album);
  if (!Info.Year.empty()) text += " (" + Info.Year + ")";
  return text + ", " + std::to_string(Info.TrackTitles.size()) + " tracks [" + Info.Source + "]";
}

}  // namespace

TDiscInfo FilledFrom(TDiscInfo Info, const TDiscInfo& Fallback) {
  Fill(Info.Artist, Fallback.Artist);
  Fill(Info.Album, Fallback.Album);
  Fill(Info.Year, Fallback.Year);
  Fill(Info.Genre, Fallback.Genre);
  FillTexts(Info.TrackTitles, Fallback.TrackTitles);
  FillTexts(Info.TrackArtists, Fallback.TrackArtists);
  Fill(Info.Catalog, Fallback.Catalog);
  FillTexts(Info.TrackIsrcs, Fallback.TrackIsrcs);
  return Info;
}

const TDiscFacts& TDiscKnowledge::Of(int Drive) {
  const auto known = Known_.find(Drive);
  if (known != Known_.end()) return known->second;
  const TDriveListing listing = Drives_.List(Drive);
  TDiscFacts facts{listing.Text, listing};
  if (listing.Ready && Options_.Lookup != "none")
    if (const std::optional<TDiscInfo> found = LookUp(listing))
      facts.Info = FilledFrom(*found, listing.Text);
  return Known_[Drive] = facts;
}

std::optional<TDiscInfo> TDiscKnowledge::LookUp(const TDriveListing& Listing) {
  const bool musicBrainz = Options_.Lookup == "musicbrainz";
  const std::string service = musicBrainz ? "MusicBrainz" : "gnudb";
  TLookupSettings settings;
  if (!Options_.LookupServer.empty())
    (musicBrainz ? settings.MusicBrainzUrl : settings.CddbUrl) = Options_.LookupServer;
  std::vector<TDiscInfo> matches;
  try {
    matches =
        musicBrainz ? LookupMusicBrainz(Listing.Toc, settings) : LookupCddb(Listing.Toc, settings);
  } catch (const std::exception& e) {
    std::fprintf(Err_,
                 "korvane-cli: warning: %s: the lookup failed (%s); going on with what the "
                 "disc says.\n",
                 Listing.Name.c_str(), e.what());
    return std::nullopt;
  }
  if (matches.empty()) {
    std::fprintf(Err_,
                 "korvane-cli: %s: %s does not know the disc (ids %s, %s); going on with "
                 "what the disc says.\n",
                 Listing.Name.c_str(), service.c_str(), MusicBrainzDiscId(Listing.Toc).c_str(),
                 FreedbDiscId(Listing.Toc).c_str());
    return std::nullopt;
  }
  return Choose(matches, service);
}

const TDiscInfo& TDiscKnowledge::Choose(const std::vector<TDiscInfo>& Matches,
                                        const std::string& Service) {
  if (Matches.size() == 1 && Options_.Release <= 1) return Matches.front();
  const size_t chosen =
      Options_.Release >= 1 && static_cast<size_t>(Options_.Release) <= Matches.size()
          ? static_cast<size_t>(Options_.Release)
          : 1;
  std::fprintf(Err_, "korvane-cli: %s has %zu matches for the disc:\n", Service.c_str(),
               Matches.size());
  for (size_t i = 0; i < Matches.size(); ++i)
    std::fprintf(Err_, "  %zu. %s\n", i + 1, Describe(Matches[i]).c_str());
  if (Options_.Release > static_cast<int>(Matches.size()))
    std::fprintf(Err_, "korvane-cli: warning: there is no match %d; ", Options_.Release);
  else
    std::fprintf(Err_, "korvane-cli: ");
  std::fprintf(Err_, "going on with match %zu%s.\n", chosen,
               Options_.Release == 0 ? " (choose another with --release N)" : "");
  return Matches[chosen - 1];
}

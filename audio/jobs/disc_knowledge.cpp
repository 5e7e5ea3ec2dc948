#include "jobs/disc_knowledge.h"

#include <algorithm>
#include <tuple>

#include "bindings/cdrip_binding.h"
#include "jobs/disc_tags.h"
#include "lookup/disc_identity.h"
#include "text_case.h"

namespace {

void Fill(std::string& Value, const std::string& Fallback) {
  if (Value.empty()) Value = Fallback;
}

void FillTexts(std::vector<std::string>& Values, const std::vector<std::string>& Fallback) {
  if (Values.size() < Fallback.size()) Values.resize(Fallback.size());
  for (size_t i = 0; i < Fallback.size(); ++i) Fill(Values[i], Fallback[i]);
}

}  // namespace

std::string ReleaseDescription(const TDiscInfo& Info) {
  std::string text = (Info.Artist.empty() ? "(no artist)" : Info.Artist) + " - " +
                     (Info.Album.empty() ? "(no title)" : Info.Album);
  const std::string year = YearOfDate(Info.Year);
  if (!year.empty()) text += " (" + year + ")";
  if (Info.DiscTotal > 1)
    text += ", " + (Info.Medium.empty() ? std::string("Disc") : Info.Medium) + " " +
            std::to_string(Info.DiscNumber) + " of " + std::to_string(Info.DiscTotal);
  return text + ", " + std::to_string(Info.TrackTitles.size()) +
         (Info.TrackTitles.size() == 1 ? " track [" : " tracks [") + Info.Source +
         (Info.Inexact ? ", inexact" : "") + "]";
}

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
  if (!listing.TextNote.empty()) Observer_.Notice(listing.Name + ": " + listing.TextNote);
  TDiscFacts facts{listing.Text, listing};
  if (listing.Ready && Lookup_.Service != "none")
    if (const std::optional<TDiscInfo> found = LookUp(listing))
      facts.Info = FilledFrom(*found, facts.Info);
  return Known_[Drive] = facts;
}

// The e-mail a CDDB server is greeted with: the one the run was given, else cdr.ini's
// [Lookup] CddbUser, else none (the login and host). A value there that is no address
// is named once and not sent.
std::string TDiscKnowledge::CddbEmail(const std::string& Source) {
  if (!Lookup_.CddbUser.empty()) return Lookup_.CddbUser;
  const std::string email = CDRipSetting("Lookup", "CddbUser");
  const size_t at = email.find('@');
  const bool address = at != std::string::npos && at > 0 && at + 1 < email.size() &&
                       std::none_of(email.begin(), email.end(),
                                    [](unsigned char c) { return c <= ' ' || c == 0x7F; });
  if (email.empty() || address) return email;
  if (!CddbUserNamed_)
    Observer_.Warning(Source + ": cdr.ini's CddbUser \"" + PrintableText(email) +
                      "\" is no e-mail address (user@host); the CDDB server is greeted with "
                      "your login instead.");
  CddbUserNamed_ = true;
  return std::string();
}

std::optional<TDiscInfo> TDiscKnowledge::LookUp(const TDriveListing& Listing) {
  const bool musicBrainz = Lookup_.Service == "musicbrainz";
  const std::string service = musicBrainz ? "MusicBrainz" : "gnudb";
  TLookupSettings settings;
  if (!Lookup_.Server.empty())
    (musicBrainz ? settings.MusicBrainzUrl : settings.CddbUrl) = Lookup_.Server;
  std::tie(settings.CddbUser, settings.CddbHost) = CddbGreeting(CddbEmail(Listing.Name));
  settings.Cancel = Lookup_.Cancel;
  std::vector<TDiscInfo> matches;
  try {
    matches =
        musicBrainz ? LookupMusicBrainz(Listing.Toc, settings) : LookupCddb(Listing.Toc, settings);
    std::transform(matches.begin(), matches.end(), matches.begin(), PrintableInfo);
  } catch (const std::exception& e) {
    Observer_.Warning(Listing.Name + ": the lookup failed (" + PrintableText(e.what()) +
                      "); going on with what the disc says.");
    return std::nullopt;
  }
  if (matches.empty()) {
    Observer_.Notice(Listing.Name + ": " + service + " does not know the disc (ids " +
                     MusicBrainzDiscId(Listing.Toc) + ", " + FreedbDiscId(Listing.Toc) +
                     "); going on with what the disc says.");
    return std::nullopt;
  }
  if (matches.size() == 1 && matches[0].Inexact)
    Observer_.Notice(Listing.Name + ": " + service + " has only an inexact match: " +
                     ReleaseDescription(matches[0]) + "; its names may be another disc's.");
  const size_t chosen = Observer_.ChooseRelease(matches, service);
  return matches[chosen < matches.size() ? chosen : 0];
}

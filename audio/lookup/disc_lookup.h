// Looking a disc up in the online databases: the MusicBrainz web service (release by
// disc id, JSON) and a CDDB server over HTTP (query, then read each match, protocol
// level 6 for UTF-8). Each lookup is one blocking call on the caller's thread; any
// thread may look up, and the MusicBrainz requests of the whole process are kept at
// least a second apart, as the service asks.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lookup/disc_identity.h"
#include "lookup/lookup_error.h"

// What one match tells of the disc. Track lists are in track order, from the disc's
// first track; a field the match does not give is empty.
struct TDiscInfo {
  std::string Artist;
  std::string Album;
  std::string Year;  // the date as the source gives it ("2001-05-12", "２００１")
  std::string Genre;
  std::vector<std::string> TrackTitles;
  std::vector<std::string> TrackArtists;
  std::string Catalog;                  // the disc's media catalogue number, where known
  std::vector<std::string> TrackIsrcs;  // likewise the tracks' ISRCs
  // The disc's place in a release of several media ("CD 2 of 2"); 0 where unknown.
  int DiscNumber = 0;
  int DiscTotal = 0;
  std::string Medium;    // what the release calls it: "CD", "Enhanced CD"...
  bool Inexact = false;  // a CDDB match the server calls inexact (211)
  std::string Source;    // "MusicBrainz release <id>" or "CDDB <category> <disc id>"
};

struct TLookupSettings {
  std::string MusicBrainzUrl = "https://musicbrainz.org/ws/2";
  std::string CddbUrl = "https://gnudb.gnudb.org/~cddb/cddb.cgi";
  // Named in the User-Agent ("Korvane/1.00 ( contact )") and the CDDB greeting; the
  // contact is the one the build names (KORVANE_LOOKUP_CONTACT) unless set.
  std::string Version = "1.00";
  std::string Contact = LookupContact();
  // The CDDB greeting's user and host (CddbGreeting gives the user's own).
  std::string CddbUser = "anonymous";
  std::string CddbHost = "localhost";
  // Per request: the whole exchange, and the connection within it.
  std::chrono::milliseconds TimeLimit{10000};
  std::chrono::milliseconds ConnectLimit{5000};
  // The whole lookup, all its requests together.
  std::chrono::milliseconds TotalLimit{20000};
  // CDDB: the entries read of a list of matches, first ones first.
  size_t MaxCddbReads = 3;
  // Once it holds true (from any thread), the lookup ends at once, as a failure.
  std::shared_ptr<const std::atomic<bool>> Cancel = nullptr;

  static std::string LookupContact();
};

// Every release that holds the disc, one entry per medium of it that the disc id
// matches; empty when the service does not know the disc (or the disc has no audio).
// Raises ELookupError.
std::vector<TDiscInfo> LookupMusicBrainz(const TDiscToc& Toc, const TLookupSettings& Settings);

// The entries the CDDB server finds for the disc (exact or inexact matches, at most
// Settings.MaxCddbReads of them); empty when it finds none. Raises ELookupError when
// no entry could be read.
std::vector<TDiscInfo> LookupCddb(const TDiscToc& Toc, const TLookupSettings& Settings);

// The CDDB greeting's user and host for Email ("user@host"); with no Email, the user's
// login and the machine's name.
std::pair<std::string, std::string> CddbGreeting(const std::string& Email);

// The User-Agent both lookups send: "Korvane/<version> ( <contact> )".
std::string LookupUserAgent(const TLookupSettings& Settings);

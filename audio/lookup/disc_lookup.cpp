#include "lookup/disc_lookup.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>
#include <utility>

#include "lookup/lookup_http.h"
#include "text_case.h"

namespace {

using nlohmann::json;

const char* const MusicBrainzService = "MusicBrainz";

std::string TrimSlash(std::string Url) {
  while (!Url.empty() && Url.back() == '/') Url.pop_back();
  return Url;
}

THttpRequest RequestOf(const std::string& Service, const std::string& Url,
                       const TLookupSettings& Settings) {
  THttpRequest request{Service, Url, LookupUserAgent(Settings), Settings.TimeLimit,
                       Settings.ConnectLimit};
  request.Cancel = Settings.Cancel;
  return request;
}

[[noreturn]] void ThrowUnreadable(const std::string& Service, const std::string& What) {
  throw ELookupError(Service + " sent an answer that could not be read: " + What);
}

void CheckHttpStatus(const std::string& Service, long Status) {
  if (Status >= 500)
    throw ELookupError(Service + " answered with an error (HTTP " + std::to_string(Status) + ")");
  if (Status != 200)
    throw ELookupError(Service + " refused the request (HTTP " + std::to_string(Status) + ")");
}

// ---- MusicBrainz -------------------------------------------------------------------

std::string Text(const json& Object, const char* Key) {
  const auto it = Object.find(Key);
  return it != Object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

const json& Member(const json& Object, const char* Key) {
  static const json none;
  const auto it = Object.find(Key);
  return it != Object.end() ? *it : none;
}

// An artist credit as it is printed: each name followed by its join phrase.
std::string CreditText(const json& Credit) {
  std::string text;
  if (!Credit.is_array()) return text;
  for (const json& part : Credit) {
    if (!part.is_object()) continue;
    text += Text(part, "name") + Text(part, "joinphrase");
  }
  return text;
}

bool MediumHoldsDisc(const json& Medium, const std::string& DiscId) {
  const json& discs = Member(Medium, "discs");
  if (!discs.is_array()) return false;
  return std::any_of(discs.begin(), discs.end(), [&](const json& disc) {
    return disc.is_object() && Text(disc, "id") == DiscId;
  });
}

int Number(const json& Object, const char* Key) {
  const json& value = Member(Object, Key);
  return value.is_number_integer() ? value.get<int>() : 0;
}

// The genre that most of the release's voters named.
std::string TopGenre(const json& Genres) {
  std::string genre;
  int votes = -1;
  if (!Genres.is_array()) return genre;
  for (const json& named : Genres) {
    if (!named.is_object() || Text(named, "name").empty() || Number(named, "count") <= votes)
      continue;
    genre = Text(named, "name");
    votes = Number(named, "count");
  }
  return genre;
}

TDiscInfo MediumInfo(const json& Release, const json& Medium) {
  TDiscInfo info;
  info.Album = Text(Release, "title");
  info.Artist = CreditText(Member(Release, "artist-credit"));
  info.Year = Text(Release, "date");
  info.Genre = TopGenre(Member(Release, "genres"));
  info.Source = "MusicBrainz release " + Text(Release, "id");
  const json& media = Member(Release, "media");
  info.DiscNumber = Number(Medium, "position");
  info.DiscTotal = media.is_array() ? static_cast<int>(media.size()) : 0;
  info.Medium = Text(Medium, "format");
  const json& tracks = Member(Medium, "tracks");
  if (!tracks.is_array()) return info;
  for (const json& track : tracks) {
    if (!track.is_object()) continue;
    const json& recording = Member(track, "recording");
    std::string title = Text(track, "title");
    if (title.empty() && recording.is_object()) title = Text(recording, "title");
    std::string artist = CreditText(Member(track, "artist-credit"));
    if (artist.empty() && recording.is_object())
      artist = CreditText(Member(recording, "artist-credit"));
    info.TrackTitles.push_back(title);
    info.TrackArtists.push_back(artist.empty() ? info.Artist : artist);
  }
  return info;
}

// Real answers nest a dozen levels; anything far deeper is refused while it is read, so
// that no later step walks a hostile nesting.
const int MaxAnswerDepth = 64;

struct TTooDeep {};

json ParseAnswer(const std::string& Body) {
  const auto limitDepth = [](int Depth, json::parse_event_t, json&) {
    if (Depth > MaxAnswerDepth) throw TTooDeep();
    return true;
  };
  try {
    return json::parse(Body, limitDepth);
  } catch (const json::exception&) {
    ThrowUnreadable(MusicBrainzService, "it is not JSON");
  } catch (const TTooDeep&) {
    ThrowUnreadable(MusicBrainzService,
                    "it nests deeper than " + std::to_string(MaxAnswerDepth) + " levels");
  }
}

std::vector<TDiscInfo> ParseMusicBrainz(const std::string& Body, const std::string& DiscId) {
  const json answer = ParseAnswer(Body);
  static const json none;
  // Both branches are references: the answer is never copied.
  const json& releases = answer.is_object() ? Member(answer, "releases") : none;
  if (!releases.is_array()) ThrowUnreadable(MusicBrainzService, "it names no releases");
  std::vector<TDiscInfo> matches;
  for (const json& release : releases) {
    if (!release.is_object()) ThrowUnreadable(MusicBrainzService, "a release is not an object");
    const json& media = Member(release, "media");
    if (!media.is_array()) continue;
    bool matched = false;
    for (const json& medium : media) {
      if (medium.is_object() && MediumHoldsDisc(medium, DiscId)) {
        matches.push_back(MediumInfo(release, medium));
        matched = true;
      }
    }
    // A release of one medium is that medium, whether or not its discs were listed.
    if (!matched && media.size() == 1 && media[0].is_object())
      matches.push_back(MediumInfo(release, media[0]));
  }
  return matches;
}

TRateLimiter& MusicBrainzLimiter() {
  static TRateLimiter limiter(std::chrono::seconds(1));
  return limiter;
}

// ---- CDDB --------------------------------------------------------------------------

struct TCddbMatch {
  std::string Category;
  std::string DiscId;
  bool Inexact = false;
};

std::vector<std::string> Lines(const std::string& Body) {
  std::vector<std::string> lines;
  std::istringstream in(Body);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The reply's three-digit code, or -1 when the line does not start with one.
int ReplyCode(const std::string& Line) {
  if (Line.size() < 3 || !std::isdigit(static_cast<unsigned char>(Line[0])) ||
      !std::isdigit(static_cast<unsigned char>(Line[1])) ||
      !std::isdigit(static_cast<unsigned char>(Line[2])) || (Line.size() > 3 && Line[3] != ' '))
    return -1;
  return std::stoi(Line.substr(0, 3));
}

// "categ discid title..." into its first two words.
bool ParseMatch(const std::string& Line, TCddbMatch& Match) {
  std::istringstream words(Line);
  return static_cast<bool>(words >> Match.Category >> Match.DiscId);
}

std::vector<TCddbMatch> ParseCddbQuery(const std::string& Service, const std::string& Body) {
  const std::vector<std::string> lines = Lines(Body);
  const int code = lines.empty() ? -1 : ReplyCode(lines[0]);
  std::vector<TCddbMatch> matches;
  TCddbMatch match;
  switch (code) {
    case 200:  // one exact match on the status line
      if (!ParseMatch(lines[0].substr(3), match)) ThrowUnreadable(Service, lines[0]);
      matches.push_back(match);
      return matches;
    case 202:  // no match
      return matches;
    case 210:  // exact matches follow, up to "."
    case 211:  // inexact matches follow, up to "."
      for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i] == ".") return matches;
        if (!ParseMatch(lines[i], match)) ThrowUnreadable(Service, lines[i]);
        match.Inexact = code == 211;
        matches.push_back(match);
      }
      ThrowUnreadable(Service, "the list of matches ends early");
    case -1: ThrowUnreadable(Service, lines.empty() ? "it is empty" : lines[0]);
    default: throw ELookupError(Service + " refused the query: " + lines[0]);
  }
}

// xmcd values escape newline, tab and backslash.
std::string Unescape(const std::string& Value) {
  std::string text;
  for (size_t i = 0; i < Value.size(); ++i) {
    if (Value[i] != '\\' || i + 1 == Value.size()) {
      text += Value[i];
      continue;
    }
    const char next = Value[++i];
    text += next == 'n' ? '\n' : next == 't' ? '\t' : next;
  }
  return text;
}

bool IsVariousArtists(const std::string& Artist) {
  std::string lower;
  for (char c : Artist.substr(0, 7)) lower += static_cast<char>(std::tolower(c));
  return lower == "various";
}

// Splits "A / B" at its first " / "; without one, both halves are the whole.
std::pair<std::string, std::string> SplitTitle(const std::string& Title) {
  const size_t at = Title.find(" / ");
  if (at == std::string::npos) return {Title, Title};
  return {Title.substr(0, at), Title.substr(at + 3)};
}

// Servers hand some entries over in the Latin-1 they were submitted in, whatever the
// protocol level: an entry that is not UTF-8 is read as Latin-1, as cue sheets are.
TDiscInfo ParseCddbRead(const std::string& Service, const std::string& Body,
                        const TCddbMatch& Match) {
  const std::vector<std::string> lines = Lines(IsUtf8(Body) ? Body : Latin1ToUtf8(Body));
  const int code = lines.empty() ? -1 : ReplyCode(lines[0]);
  if (code == -1) ThrowUnreadable(Service, lines.empty() ? "it is empty" : lines[0]);
  if (code != 210)
    throw ELookupError(Service + " refused to read " + Match.Category + " " + Match.DiscId + ": " +
                       lines[0]);
  // A key may be split over several lines: its values are joined.
  std::map<std::string, std::string> values;
  bool ended = false;
  for (size_t i = 1; i < lines.size() && !ended; ++i) {
    const std::string& line = lines[i];
    if (line == ".") ended = true;
    if (ended || line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) ThrowUnreadable(Service, line);
    values[line.substr(0, equals)] += line.substr(equals + 1);
  }
  if (!ended) ThrowUnreadable(Service, "the entry ends early");
  if (!values.count("DTITLE")) ThrowUnreadable(Service, "the entry has no DTITLE");

  TDiscInfo info;
  std::tie(info.Artist, info.Album) = SplitTitle(Unescape(values["DTITLE"]));
  info.Year = Unescape(values["DYEAR"]);
  info.Genre = Unescape(values["DGENRE"]);
  info.Source = "CDDB " + Match.Category + " " + Match.DiscId;
  info.Inexact = Match.Inexact;
  const bool various = IsVariousArtists(info.Artist);
  for (int track = 0; values.count("TTITLE" + std::to_string(track)); ++track) {
    const std::string title = Unescape(values["TTITLE" + std::to_string(track)]);
    // A sampler names each track "Artist / Title".
    if (various && title.find(" / ") != std::string::npos) {
      auto [artist, name] = SplitTitle(title);
      info.TrackArtists.push_back(artist);
      info.TrackTitles.push_back(name);
    } else {
      info.TrackArtists.push_back(info.Artist);
      info.TrackTitles.push_back(title);
    }
  }
  return info;
}

std::string CddbUrl(const TLookupSettings& Settings, const std::string& Command) {
  const std::string hello = UrlEscape(Settings.CddbUser) + "+" + UrlEscape(Settings.CddbHost) +
                            "+Korvane+" + UrlEscape(Settings.Version);
  return Settings.CddbUrl + "?cmd=" + Command + "&hello=" + hello + "&proto=6";
}

// The requests of one lookup share its time: each gets what is left of it.
class TLookupClock {
 public:
  TLookupClock(const std::string& Service, const TLookupSettings& Settings)
      : Service_(Service),
        Settings_(Settings),
        Deadline_(std::chrono::steady_clock::now() + Settings.TotalLimit) {}
  THttpReply Get(const std::string& Url) const {
    using std::chrono::milliseconds;
    const auto left =
        std::chrono::duration_cast<milliseconds>(Deadline_ - std::chrono::steady_clock::now());
    if (left <= milliseconds(0))
      throw ELookupError(Service_ + " did not finish the lookup in time");
    THttpRequest request = RequestOf(Service_, Url, Settings_);
    request.TimeLimit = std::min(request.TimeLimit, left);
    request.ConnectLimit = std::min(request.ConnectLimit, left);
    return HttpGet(request);
  }

 private:
  const std::string Service_;
  const TLookupSettings& Settings_;
  const std::chrono::steady_clock::time_point Deadline_;
};

}  // namespace

std::string TLookupSettings::LookupContact() { return KORVANE_LOOKUP_CONTACT; }

std::pair<std::string, std::string> CddbGreeting(const std::string& Email) {
  const size_t at = Email.find('@');
  if (at != std::string::npos && at > 0 && at + 1 < Email.size())
    return {Email.substr(0, at), Email.substr(at + 1)};
  std::string user = "anonymous";
  if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name && *entry->pw_name)
    user = entry->pw_name;
  char host[256] = {};
  const bool named = gethostname(host, sizeof host - 1) == 0 && host[0] != '\0';
  return {user, named ? host : "localhost"};
}

std::string LookupUserAgent(const TLookupSettings& Settings) {
  return "Korvane/" + Settings.Version + " ( " + Settings.Contact + " )";
}

std::vector<TDiscInfo> LookupMusicBrainz(const TDiscToc& Toc, const TLookupSettings& Settings) {
  const std::string discId = MusicBrainzDiscId(Toc);
  if (discId.empty()) return {};  // no audio: nothing the service could know
  const std::string url = TrimSlash(Settings.MusicBrainzUrl) + "/discid/" + discId +
                          "?inc=recordings+artist-credits+genres&fmt=json";
  MusicBrainzLimiter().Wait();
  const THttpReply reply = TLookupClock(MusicBrainzService, Settings).Get(url);
  if (reply.Status == 404) return {};
  CheckHttpStatus(MusicBrainzService, reply.Status);
  return ParseMusicBrainz(reply.Body, discId);
}

std::vector<TDiscInfo> LookupCddb(const TDiscToc& Toc, const TLookupSettings& Settings) {
  if (Toc.Tracks.empty()) return {};
  const std::string host = UrlHost(Settings.CddbUrl);
  const std::string service = "The CDDB server" + (host.empty() ? "" : " " + host);
  std::string query = "cddb+query+" + FreedbDiscId(Toc) + "+" + std::to_string(Toc.Tracks.size());
  for (int32_t offset : FreedbOffsets(Toc)) query += "+" + std::to_string(offset);
  query += "+" + std::to_string(FreedbSeconds(Toc));

  const TLookupClock clock(service, Settings);
  const THttpReply reply = clock.Get(CddbUrl(Settings, query));
  CheckHttpStatus(service, reply.Status);
  std::vector<TCddbMatch> matches = ParseCddbQuery(service, reply.Body);
  // A long list of matches is mostly noise: its first entries are read, no more.
  if (matches.size() > Settings.MaxCddbReads) matches.resize(Settings.MaxCddbReads);
  std::vector<TDiscInfo> infos;
  for (const TCddbMatch& match : matches) {
    const std::string read =
        "cddb+read+" + UrlEscape(match.Category) + "+" + UrlEscape(match.DiscId);
    try {
      const THttpReply entry = clock.Get(CddbUrl(Settings, read));
      CheckHttpStatus(service, entry.Status);
      infos.push_back(ParseCddbRead(service, entry.Body, match));
    } catch (const ELookupError&) {
      if (infos.empty()) throw;  // the entries read so far are the answer
      break;
    }
  }
  return infos;
}

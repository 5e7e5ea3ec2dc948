#include "jobs/disc_tags.h"

#include <algorithm>

#include "text_case.h"

TDiscInfo DiscTextOf(TCDIn& Source, int Tracks) {
  TDiscInfo info;
  info.Source = "CD-Text";
  info.Album = Source.GetCdText(0, CR_TEXT_TITLE);
  info.Artist = Source.GetCdText(0, CR_TEXT_PERFORMER);
  info.Genre = Source.GetCdText(0, CR_TEXT_GENRE);
  info.Year = Source.GetCdText(0, CR_TEXT_DATE);
  info.Catalog = Source.GetCdText(0, CR_TEXT_CATALOG);
  for (int track = 1; track <= Tracks; ++track) {
    info.TrackTitles.push_back(Source.GetCdText(track, CR_TEXT_TITLE));
    info.TrackArtists.push_back(Source.GetCdText(track, CR_TEXT_PERFORMER));
    info.TrackIsrcs.push_back(Source.GetCdText(track, CR_TEXT_ISRC));
  }
  return PrintableInfo(info);
}

namespace {

void MakePrintable(std::string& Text) { Text = PrintableText(Text); }

}  // namespace

TDiscInfo PrintableInfo(TDiscInfo Info) {
  for (std::string* text :
       {&Info.Artist, &Info.Album, &Info.Year, &Info.Genre, &Info.Catalog, &Info.Source})
    MakePrintable(*text);
  for (auto* texts : {&Info.TrackTitles, &Info.TrackArtists, &Info.TrackIsrcs})
    std::for_each(texts->begin(), texts->end(), MakePrintable);
  return Info;
}

bool HasText(const TDiscInfo& Info) {
  auto any = [](const std::vector<std::string>& Texts) {
    for (const std::string& text : Texts)
      if (!text.empty()) return true;
    return false;
  };
  return !Info.Album.empty() || !Info.Artist.empty() || !Info.Genre.empty() || !Info.Year.empty() ||
         any(Info.TrackTitles) || any(Info.TrackArtists);
}

TTrackTags TrackTagsOf(const TDiscInfo& Info, int Number, int Total) {
  auto at = [Number](const std::vector<std::string>& Texts) {
    const size_t index = static_cast<size_t>(Number - 1);
    return Number >= 1 && index < Texts.size() ? Texts[index] : std::string();
  };
  TTrackTags tags;
  tags.Title = at(Info.TrackTitles);
  tags.Artist = at(Info.TrackArtists).empty() ? Info.Artist : at(Info.TrackArtists);
  tags.Album = Info.Album;
  tags.Year = YearOfDate(Info.Year);
  tags.Date = Info.Year;
  tags.Genre = Info.Genre;
  tags.Number = Number;
  tags.Total = Total;
  tags.Disc = Info.DiscNumber;
  tags.Discs = Info.DiscTotal;
  return tags;
}

namespace {

// The bidirectional controls and the other invisible format characters, which make a
// name show otherwise than it reads ("exe.jpg" shown for "gpj.exe"). The joiners stay:
// scripts and emoji need them.
bool IsInvisibleFormat(uint32_t Code) {
  return Code == 0xAD || Code == 0x61C || Code == 0x180E || Code == 0x200B || Code == 0x200E ||
         Code == 0x200F || (Code >= 0x202A && Code <= 0x202E) ||
         (Code >= 0x2060 && Code <= 0x206F) || Code == 0xFEFF || (Code >= 0xFFF9 && Code <= 0xFFFB);
}

std::string WithoutInvisibleFormat(const std::string& Utf8) {
  std::string kept;
  for (size_t at = 0; at < Utf8.size();) {
    const size_t start = at;
    if (!IsInvisibleFormat(NextCodePoint(Utf8, at))) kept.append(Utf8, start, at - start);
  }
  return kept;
}

}  // namespace

std::string SafeFileName(std::string Name) {
  for (char& c : Name) {
    if (c == '/' || c == '\\' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F) c = '_';
    if (c == '"') c = '\'';  // as a cue sheet, which cannot quote it, names the file
  }
  Name = WithoutInvisibleFormat(IsUtf8(Name) ? Name : Latin1ToUtf8(Name));
  if (Name.size() > MaxNameBytes) {
    size_t cut = MaxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(Name[cut]) & 0xC0) == 0x80) --cut;
    Name.resize(cut);
  }
  const size_t start = Name.find_first_not_of(". \t");
  return start == std::string::npos ? std::string() : Trim(Name.substr(start));
}

std::string NameFromTemplate(const std::string& Template, const TTrackTags& Tags,
                             const std::string& Caption) {
  std::string name;
  for (size_t i = 0; i < Template.size(); ++i) {
    if (Template[i] != '%' || i + 1 == Template.size()) {
      name += Template[i];
      continue;
    }
    switch (Template[++i]) {
      case 'n': {
        char number[16];
        std::snprintf(number, sizeof number, "%02d", Tags.Number);
        name += number;
        break;
      }
      case 't': name += Tags.Title.empty() ? Caption : Tags.Title; break;
      case 'a': name += Tags.Artist; break;
      case 'A': name += Tags.Album; break;
      case 'y': name += Tags.Year; break;
      case 'i': name += Tags.DiscId; break;
      case '%': name += '%'; break;
      default: name += std::string("%") + Template[i];
    }
  }
  const std::string safe = SafeFileName(name);
  return safe.empty() ? Caption : safe;
}

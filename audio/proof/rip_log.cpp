#include "proof/rip_log.h"

#include <algorithm>
#include <cstdio>

#include "proof/sha256.h"
#include "proof/track_checksums.h"

namespace {

const char* const HashLabel = "SHA-256: ";

std::string Hex8(uint32_t Value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", Value);
  return text;
}

std::string Msf(int32_t Sectors) { return SectorTimeText(Sectors); }

void Line(std::string& Text, const std::string& Label, const std::string& Value) {
  Text += Label;
  Text += Value;
  Text += '\n';
}

std::string Plural(int Count, const char* Noun) {
  return std::to_string(Count) + " " + Noun + (Count == 1 ? "" : "s");
}

std::string Summary(const TRipLog& Log) {
  int errors = 0, accurate = 0, suspicious = 0, skipped = 0;
  bool lookedUp = !Log.AccurateRipNote.empty();
  for (const TRipLogTrack& track : Log.Tracks) {
    lookedUp = lookedUp || track.AccurateRip;
    if (track.Error) ++errors;
    if (track.AccurateRip && track.AccurateRip->Verdict == TAccurateRipVerdict::Accurate)
      ++accurate;
    if (track.Suspicious) ++suspicious;
    skipped += track.SkippedSectors;
  }
  const int count = static_cast<int>(Log.Tracks.size());
  // Hidden track one audio is no track the database could confirm.
  const int checkable = static_cast<int>(std::count_if(
      Log.Tracks.begin(), Log.Tracks.end(), [](const TRipLogTrack& T) { return T.Number > 0; }));
  std::string text = Plural(count, "track") + ", " + std::to_string(errors) + " with errors, " +
                     std::to_string(suspicious) + " suspicious, " + Plural(skipped, "sector") +
                     " skipped";
  if (lookedUp)
    text +=
        ", " + std::to_string(accurate) + " of " + std::to_string(checkable) + " accurately ripped";
  return text;
}

// Each track's start and length (minutes:seconds.frames) and its first and last sector.
void TocLines(std::string& Text, const std::vector<TRipLogTocRow>& Toc) {
  if (Toc.empty()) return;
  Text += "\nTable of contents\n  Track  Start     Length    Start sector  End sector\n";
  for (const TRipLogTocRow& row : Toc) {
    char line[96];
    std::snprintf(line, sizeof line, "  %5d  %s  %s  %12d  %10d\n", row.Track,
                  Msf(row.Start).c_str(), Msf(row.Sectors).c_str(), row.Start,
                  row.Start + row.Sectors - 1);
    Text += line;
  }
}

// The audio before track 1, by its length and sectors, and what became of it.
void HiddenAudioLine(std::string& Text, const TRipLog& Log) {
  if (Log.HiddenSectors <= 0) return;
  Line(Text, "Hidden track one audio: ",
       Msf(Log.HiddenSectors) + " (sectors 0 to " + std::to_string(Log.HiddenSectors - 1) + ")" +
           (Log.HiddenNote.empty() ? "" : ", " + Log.HiddenNote));
}

// What the layers said while reading a track, each message indented under a heading.
void MessageLines(std::string& Text, const std::string& Messages) {
  if (Messages.empty()) return;
  Text += "  Drive messages:\n";
  size_t at = 0;
  while (at < Messages.size()) {
    const size_t end = std::min(Messages.find('\n', at), Messages.size());
    if (end > at) Line(Text, "    ", Messages.substr(at, end - at));
    at = end + 1;
  }
}

}  // namespace

std::string SectorTimeText(int32_t Sectors) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d.%02d", Sectors / 75 / 60, Sectors / 75 % 60,
                Sectors % 75);
  return text;
}

std::string RipLogText(const TRipLog& Log) {
  std::string text;
  Line(text, "", Log.Program + " rip log");
  if (!Log.Date.empty()) Line(text, "Date: ", Log.Date);
  text += '\n';
  Line(text, "Drive: ", Log.Drive);
  if (!Log.DriveModel.empty()) Line(text, "Drive model: ", Log.DriveModel);
  if (!Log.DriveRevision.empty()) Line(text, "Drive revision: ", Log.DriveRevision);
  Line(text, "Read offset: ",
       Log.ReadOffset ? std::to_string(*Log.ReadOffset) + " samples" : "not corrected");
  Line(text, "Read mode: ", Log.ReadMode);
  if (!Log.PregapNote.empty()) Line(text, "Pre-gaps: ", Log.PregapNote);
  if (!Log.Artist.empty()) Line(text, "Artist: ", Log.Artist);
  if (!Log.Album.empty()) Line(text, "Album: ", Log.Album);
  if (!Log.MusicBrainzId.empty()) Line(text, "MusicBrainz disc id: ", Log.MusicBrainzId);
  if (!Log.FreedbId.empty()) Line(text, "freedb disc id: ", Log.FreedbId);
  if (!Log.AccurateRipId.empty()) Line(text, "AccurateRip disc id: ", Log.AccurateRipId);
  if (!Log.AccurateRipNote.empty()) Line(text, "AccurateRip: ", Log.AccurateRipNote);
  TocLines(text, Log.Toc);
  HiddenAudioLine(text, Log);
  for (const TRipLogTrack& track : Log.Tracks) {
    char heading[32];
    std::snprintf(heading, sizeof heading, "Track %02d", track.Number);
    text += '\n';
    Line(text, heading, "");
    Line(text, "  File: ", track.FileName);
    if (track.PregapSectors) Line(text, "  Pre-gap: ", Msf(*track.PregapSectors));
    // A track that failed or was cut short has no checksum that could pass for its own.
    if (!track.Error) {
      Line(text, "  Peak: ", PeakPercentText(track.Peak) + " %");
      if (track.TestCrc) Line(text, "  Test CRC: ", Hex8(*track.TestCrc));
      Line(text, "  Copy CRC: ", Hex8(track.CopyCrc));
      if (!track.TestCopyResult.empty()) Line(text, "  Test and copy: ", track.TestCopyResult);
      if (!track.Proof.empty()) Line(text, "  Proof: ", track.Proof);
      if (track.Number == 0)
        Line(text, "  AccurateRip sums: ", "none: the database holds no hidden track one audio");
      else if (track.AccurateRipV1 && track.AccurateRipV2)
        Line(text, "  AccurateRip sums: ",
             "v1 " + Hex8(*track.AccurateRipV1) + ", v2 " + Hex8(*track.AccurateRipV2));
      if (track.AccurateRip) Line(text, "  AccurateRip: ", track.AccurateRip->Text());
    }
    Line(text, "  Read: ",
         Plural(track.Rereads, "re-read") + ", " + Plural(track.Corrections, "correction") + ", " +
             Plural(track.SkippedSectors, "skipped sector"));
    if (track.Error) Line(text, "  Error: ", track.Error.Text());
    MessageLines(text, track.Messages);
  }
  text += '\n';
  Line(text, "Summary: ", Summary(Log));
  Line(text, HashLabel, Sha256Hex(text));
  return text;
}

bool RipLogIntact(const std::string& Text) {
  if (Text.empty() || Text.back() != '\n') return false;
  const size_t start = Text.rfind('\n', Text.size() - 2);
  const size_t hashAt = start == std::string::npos ? 0 : start + 1;
  const std::string last = Text.substr(hashAt, Text.size() - 1 - hashAt);
  return last == HashLabel + Sha256Hex(Text.substr(0, hashAt));
}

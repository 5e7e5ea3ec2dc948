// What is known of a disc's tracks, turned into tags and file names: the disc's own
// texts (CD-Text of a drive, or a cue sheet's) and what an online database knows.
#pragma once

#include <string>

#include "cdrom/audio_cdrom.h"
#include "jobs/rip_job.h"
#include "lookup/disc_lookup.h"

// What the disc in Source's current drive says of itself and of tracks 1 .. Tracks, as
// one database answer would (Source "CD-Text"), without control characters; empty
// texts when it says nothing.
TDiscInfo DiscTextOf(TCDIn& Source, int Tracks);
// Info with every text fit for a tag, a file name and a terminal (PrintableText).
TDiscInfo PrintableInfo(TDiscInfo Info);
// True when Info holds any text at all.
bool HasText(const TDiscInfo& Info);
// The tags of track Number (from 1) of a disc of Total tracks.
TTrackTags TrackTagsOf(const TDiscInfo& Info, int Number, int Total);

// The file name (no folder, no extension) that Template gives a track: %n its number in
// two digits, %t its title (Caption when unknown), %a the artist, %A the album, %y the
// year, %i the disc's freedb id (eight hex digits), %% a percent sign. Made safe for the file
// system: no "/" (it becomes "_"), no control characters, no leading dot or blank, at most
// MaxNameBytes bytes of whole characters; Caption when nothing is left.
std::string NameFromTemplate(const std::string& Template, const TTrackTags& Tags,
                             const std::string& Caption);
constexpr size_t MaxNameBytes = 200;
// Text fit for one file name in the output folder, so that no name writes outside it or
// hides the file: "/", backslashes and control characters become "_", a double quote
// "'" (as a cue sheet names the file), no bidirectional controls or other invisible
// format characters, no leading dot or blank, no trailing blank, whole UTF-8 characters
// within MaxNameBytes; empty when nothing is left.
std::string SafeFileName(std::string Name);

// Track entries: the names under which the front ends list one track of one drive,
// "<drive name>/TrackNN.cda" (the drive name is a device path or a disc image's path).
#pragma once

#include <string>

// "<DriveName>/TrackNN.cda", NN the track number with at least two digits.
std::string TrackEntryPath(const std::string& DriveName, int Track);
// Everything before the last "/": the name of the drive the entry belongs to.
std::string TrackEntryDriveRoot(const std::string& Entry);
// The part after the last "/".
std::string TrackEntryFileName(const std::string& Entry);
// The file name less its last four characters: "Track07" for ".../Track07.cda".
std::string TrackEntryCaption(const std::string& Entry);
// True when the entry ends in exactly ".cda".
bool HasTrackEntryExtension(const std::string& Entry);
// The track number: the file name from its sixth character, less its last four.
// Raises EAudioException when that is not a whole number.
int TrackEntryNumber(const std::string& Entry);

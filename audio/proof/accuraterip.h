// The AccurateRip database: the disc's identities there, the request for its entry, the
// entry's reading, and each track's verdict from the checksums of its rip. A lookup
// that fails raises ELookupError; a rip goes on without a verdict. Any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/problem.h"
#include "lookup/disc_identity.h"

struct TAccurateRipDiscIds {
  int AudioTracks = 0;
  uint32_t Id1 = 0;  // Σ a_k + L, a_k the audio tracks' starts, L the lead-out
  uint32_t Id2 = 0;  // Σ max(a_k, 1)·k + max(L, 1)·(n + 1)
  uint32_t Id3 = 0;  // the freedb id
};

// From the starts (LSN) of the disc's audio tracks and its lead-out.
TAccurateRipDiscIds AccurateRipDiscIdsOf(const TDiscToc& Toc);

// The entry's path below the database's address:
// "d/f/1/dBAR-001-000441fd-000883fb-020e8801.bin", the folders the last three hex
// digits of id1, last first.
std::string AccurateRipPath(const TAccurateRipDiscIds& Ids);

// One track in one pressing of the disc: how many rips agreed on its checksum.
struct TAccurateRipEntry {
  int Confidence = 0;
  uint32_t Crc = 0;
  uint32_t Crc450 = 0;  // of sector 450 of the track alone, for finding a read offset
};

// One pressing the database knows: an entry per audio track.
struct TAccurateRipPressing {
  std::vector<TAccurateRipEntry> Tracks;
};

// The entry's binary form: blocks of a header (track count, id1, id2, id3) and nine
// bytes per track, numbers little-endian. Raises ELookupError when the first block is cut
// short, a header names another disc, or the answer is a web page; bytes too few for a
// block after whole blocks are ignored.
std::vector<TAccurateRipPressing> ParseAccurateRipEntry(const std::string& Bytes,
                                                        const TAccurateRipDiscIds& Ids);

struct TAccurateRipSettings {
  std::string Url = "http://www.accuraterip.com/accuraterip";  // the entries' root
  std::string UserAgent = "Korvane/1.00 ( http://korvane.example.org )";
  std::chrono::milliseconds TimeLimit{10000};
  std::chrono::milliseconds ConnectLimit{5000};
  // Once it holds true (from any thread), a lookup under way ends at once, as a failure.
  std::shared_ptr<const std::atomic<bool>> Cancel = nullptr;
};

// The disc's pressings in the database; nullopt when it does not know the disc (404).
// Raises ELookupError when the database cannot be asked or answers with anything else.
std::optional<std::vector<TAccurateRipPressing>> LookupAccurateRip(
    const TDiscToc& Toc, const TAccurateRipSettings& Settings);

// What one lookup of a disc found: its pressings, or why the database could not say.
struct TAccurateRipLookup {
  std::optional<std::vector<TAccurateRipPressing>> Pressings;  // nullopt: not in the database
  TProblem Failure;  // why the lookup failed; none when the database answered
};

// LookupAccurateRip, with its failure kept as the result's instead of raised.
TAccurateRipLookup LookupAccurateRipKept(const TDiscToc& Toc, const TAccurateRipSettings& Settings);

// A copy that the database confirms with at least this confidence needs no test read:
// so many rips of other drives agreeing on its checksum prove it better than a second
// read on the same drive would.
constexpr int ProvingConfidence = 2;

enum class TAccurateRipVerdict { Accurate, NotAccurate, NotInDatabase, Silent };

struct TAccurateRipResult {
  TAccurateRipVerdict Verdict = TAccurateRipVerdict::NotInDatabase;
  int Confidence = 0;  // of the matching entry
  int Version = 0;     // 1 or 2: which checksum matched
  // "accurately ripped (confidence 7, v2)", "not accurate", "not in the database",
  // "cannot be checked: the track is silent"
  std::string Text() const;
};

// Track AudioTrack (0-based among the audio tracks) whose rip gave the checksums V1 and
// V2, against the pressings found (nullopt: the disc is not in the database). Of several
// matching entries the most confirmed one counts. A slot of confidence 0 or sum 0 is no
// rip the database holds and matches nothing; a silent track (both sums 0) cannot be
// checked, since every silent track of that length has the same sums, unless the
// database holds sums of the track: then the track is not silent, and the rip is not
// accurate.
TAccurateRipResult AccurateRipVerdict(
    const std::optional<std::vector<TAccurateRipPressing>>& Pressings, int AudioTrack, uint32_t V1,
    uint32_t V2);

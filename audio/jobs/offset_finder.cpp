#include "jobs/offset_finder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "cdrom/audio_cdrom.h"
#include "lookup/disc_identity.h"
#include "lookup/lookup_error.h"

namespace {

// Sample pairs that the AccurateRip sums leave out at the disc's start and end.
constexpr uint64_t EdgePairs = 2940;
constexpr uint64_t PairsPerSector = 588;

const char SearchStopped[] = "The search for the read offset was stopped.";

}  // namespace

std::vector<uint32_t> AccurateRipV1ByOffset(const std::vector<uint32_t>& Pairs, int Margin,
                                            const TTrackPlace& Place) {
  const uint64_t n = Place.SamplePairs;
  if (Margin < 0 || Pairs.size() < 2 * static_cast<uint64_t>(Margin)) return {};
  if (Pairs.size() - 2 * static_cast<uint64_t>(Margin) != n || n <= 2 * EdgePairs) return {};
  // The weights L to H of the pairs summed (counted from 1), as the checksummer takes them.
  const uint32_t low = Place.FirstAudioTrack ? EdgePairs : 1;
  const uint32_t high = static_cast<uint32_t>(Place.LastAudioTrack ? n - EdgePairs : n);
  uint32_t sum = 0, plain = 0;  // Σ i·p_i and Σ p_i at the offset, modulo 2^32
  for (uint32_t i = low; i <= high; ++i) {
    sum += i * Pairs[i - 1];
    plain += Pairs[i - 1];
  }
  std::vector<uint32_t> sums(2 * static_cast<size_t>(Margin) + 1);
  sums[0] = sum;
  for (size_t shift = 0; shift + 1 < sums.size(); ++shift) {
    const uint32_t leaving = Pairs[shift + low - 1];
    const uint32_t entering = Pairs[shift + high];
    plain += entering - leaving;
    sum += (high + 1) * entering - low * leaving - plain;
    sums[shift + 1] = sum;
  }
  return sums;
}

namespace {

// The database's checksums of audio track Track (0-based) with confidence.
std::map<uint32_t, int> ConfirmedSums(const std::vector<TAccurateRipPressing>& Pressings,
                                      size_t Track) {
  std::map<uint32_t, int> sums;
  for (const TAccurateRipPressing& pressing : Pressings)
    if (Track < pressing.Tracks.size() && pressing.Tracks[Track].Confidence > 0 &&
        pressing.Tracks[Track].Crc != 0)
      sums[pressing.Tracks[Track].Crc] += pressing.Tracks[Track].Confidence;
  return sums;
}

struct TAudioTrack {
  int Number = 0;    // on the disc
  size_t Index = 0;  // among the audio tracks
  int32_t Sectors = 0;
};

std::vector<TAudioTrack> AudioTracksOf(const TDiscToc& Toc) {
  std::vector<TAudioTrack> tracks;
  for (size_t i = 0; i < Toc.Tracks.size(); ++i) {
    if (!Toc.Tracks[i].Audio) continue;
    const int32_t end = i + 1 < Toc.Tracks.size() ? Toc.Tracks[i + 1].Start : Toc.LeadOut;
    tracks.push_back({Toc.Tracks[i].Number, tracks.size(), end - Toc.Tracks[i].Start});
  }
  return tracks;
}

bool StopAsked(const TOffsetSearch& Search) { return Search.ShouldStop && Search.ShouldStop(); }

// Asks the search's ShouldStop every StopPoll on a thread of its own while it lives, and
// stops the source's reads and the lookup once it answers true: a read that waits for
// the drive (a second of audio at 1x, a bad spot) ends at once rather than at its next
// chunk, and a lookup without waiting for its time limit.
class TStopRelay {
 public:
  TStopRelay(TCDIn& Source, const TOffsetSearch& Search, std::atomic<bool>& Lookup) {
    if (!Search.ShouldStop) return;
    Thread_ = std::thread([this, &Source, &Search, &Lookup] {
      constexpr std::chrono::milliseconds StopPoll{50};
      std::unique_lock<std::mutex> hold(Lock_);
      while (!Over_) {
        if (Search.ShouldStop()) {
          Lookup = true;
          Source.RequestStop();  // again after each Open
        }
        Changed_.wait_for(hold, StopPoll);
      }
    });
  }
  ~TStopRelay() {
    {
      std::lock_guard<std::mutex> hold(Lock_);
      Over_ = true;
    }
    Changed_.notify_all();
    if (Thread_.joinable()) Thread_.join();
  }
  TStopRelay(const TStopRelay&) = delete;
  TStopRelay& operator=(const TStopRelay&) = delete;

 private:
  std::mutex Lock_;
  std::condition_variable Changed_;
  bool Over_ = false;
  std::thread Thread_;
};

// The sample pairs of one track as Source delivers them at read offset Offset.
std::vector<uint32_t> ReadPairs(TCDIn& Source, int Track, int Offset, const TOffsetSearch& Search) {
  if (StopAsked(Search)) throw EAudioException(SearchStopped);
  Source.SetStartTrack(Track);
  Source.SetEndTrack(Track);
  Source.SetReadOffset(Offset);
  Source.Open();
  std::vector<uint32_t> pairs;
  std::vector<uint8_t> buffer(TCDIn::ChunkBytes);
  try {
    for (int got; (got = Source.ReadData(buffer.data(), TCDIn::ChunkBytes)) > 0;) {
      if (StopAsked(Search)) throw EAudioException(SearchStopped);
      const size_t at = pairs.size();
      pairs.resize(at + got / 4);
      for (size_t i = 0; i < static_cast<size_t>(got / 4); ++i)
        pairs[at + i] = buffer[4 * i] | buffer[4 * i + 1] << 8 | buffer[4 * i + 2] << 16 |
                        static_cast<uint32_t>(buffer[4 * i + 3]) << 24;
    }
  } catch (...) {
    Source.Close();
    if (StopAsked(Search)) throw EAudioException(SearchStopped);  // not the read's failure
    throw;
  }
  Source.Close();
  return pairs;
}

// The track's pairs from Margin before its start to Margin after its end, from two reads:
// one that many pairs early, one that many late.
std::vector<uint32_t> ReadWithMargin(TCDIn& Source, int Track, int Margin,
                                     const TOffsetSearch& Search) {
  std::vector<uint32_t> pairs = ReadPairs(Source, Track, -Margin, Search);
  const std::vector<uint32_t> late = ReadPairs(Source, Track, Margin, Search);
  if (late.size() != pairs.size() || late.size() < 2 * static_cast<size_t>(Margin)) return {};
  pairs.insert(pairs.end(), late.end() - 2 * Margin, late.end());
  return pairs;
}

// Restores the settings of the source that the search changes.
class TSourceSettings {
 public:
  explicit TSourceSettings(TCDIn& Source)
      : Source_(Source),
        Drive_(Source.CurrentDrive()),
        Start_(Source.StartTrack()),
        End_(Source.EndTrack()),
        Offset_(Source.ReadOffset()) {}
  ~TSourceSettings() {
    Source_.SetCurrentDrive(Drive_);
    Source_.SetStartTrack(Start_);
    Source_.SetEndTrack(End_);
    Source_.SetReadOffset(Offset_);
  }
  TSourceSettings(const TSourceSettings&) = delete;
  TSourceSettings& operator=(const TSourceSettings&) = delete;

 private:
  TCDIn& Source_;
  int Drive_, Start_, End_, Offset_;
};

}  // namespace

std::optional<TFoundOffset> FindReadOffset(TCDIn& Source, TOffsetSearch& Search) {
  const TSourceSettings restore(Source);
  Source.SetCurrentDrive(Search.Drive);
  const TDiscToc toc = DiscTocOf(Source.GetTocEntries(), Source.GetLastSessionStart());
  std::vector<TAudioTrack> tracks = AudioTracksOf(toc);
  if (tracks.empty())
    throw EAudioException("The disc holds no audio track to find the offset with.");
  TAccurateRipSettings database = Search.Database;
  const auto lookupStopped = std::make_shared<std::atomic<bool>>(false);
  database.Cancel = lookupStopped;
  const TStopRelay relay(Source, Search, *lookupStopped);
  const auto pressings = [&] {
    try {
      return LookupAccurateRip(toc, database);
    } catch (const ELookupError&) {
      if (StopAsked(Search)) throw EAudioException(SearchStopped);
      throw;
    }
  }();
  if (!pressings)
    throw EAudioException(
        "The AccurateRip database does not know this disc, so the offset cannot be found with "
        "it. Put in another pressed audio CD (most are known) and try again.");
  const size_t audioTracks = tracks.size();
  std::stable_sort(tracks.begin(), tracks.end(), [](const TAudioTrack& A, const TAudioTrack& B) {
    return A.Sectors < B.Sectors;
  });
  std::map<int, TFoundOffset> found;  // by offset
  int read = 0;
  for (const TAudioTrack& track : tracks) {
    if (read == Search.Tracks) break;
    const std::map<uint32_t, int> confirmed = ConfirmedSums(*pressings, track.Index);
    if (confirmed.empty()) continue;
    // The sums leave out the edges, so a track of ten sectors or fewer has no window.
    if (track.Sectors <= 0 ||
        static_cast<uint64_t>(track.Sectors) * PairsPerSector <= 2 * EdgePairs) {
      if (Search.Progress)
        Search.Progress("Track " + std::to_string(track.Number) +
                        " is too short to find the offset with; it is skipped");
      continue;
    }
    ++read;
    if (Search.Progress)
      Search.Progress("Reading track " + std::to_string(track.Number) + " (" +
                      std::to_string(read) + " of at most " + std::to_string(Search.Tracks) + ")");
    const std::vector<uint32_t> pairs =
        ReadWithMargin(Source, track.Number, MaxSearchedOffset, Search);
    if (pairs.size() <= 2 * static_cast<size_t>(MaxSearchedOffset)) continue;
    const TTrackPlace place{pairs.size() - 2 * MaxSearchedOffset, track.Index == 0,
                            track.Index + 1 == audioTracks};
    const std::vector<uint32_t> sums = AccurateRipV1ByOffset(pairs, MaxSearchedOffset, place);
    for (size_t i = 0; i < sums.size(); ++i) {
      const auto match = confirmed.find(sums[i]);
      if (match == confirmed.end()) continue;
      TFoundOffset& at = found[static_cast<int>(i) - MaxSearchedOffset];
      at.Offset = static_cast<int>(i) - MaxSearchedOffset;
      ++at.TracksMatched;
      at.Confidence += match->second;
    }
  }
  if (found.empty()) return std::nullopt;
  TFoundOffset best = found.begin()->second;
  for (const auto& [offset, at] : found)
    if (at.TracksMatched > best.TracksMatched ||
        (at.TracksMatched == best.TracksMatched && at.Confidence > best.Confidence))
      best = at;
  best.TracksRead = read;
  return best;
}

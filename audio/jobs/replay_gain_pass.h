// ReplayGain for the files of a run: each job's PCM is metered as its encoder takes it,
// and once every job of a disc has ended, each file of that disc that was done gets its
// tags again with the track's gain and peak and the album's (the done tracks of that
// disc) added: REPLAYGAIN_* comments in FLAC and Ogg Vorbis, TXXX frames in MP3,
// R128_TRACK_GAIN and R128_ALBUM_GAIN in Ogg Opus (see loudness.h, tag_rewrite.h).
//
// A file whose tags cannot be rewritten stays as it was, whole and without gains; the
// run hears a warning naming it, and `AnyUnwritten` tells the run's summary. A disc
// whose jobs did not all end (an aborted run) gets no gains: its album is not whole.
// A silent track gets no track gain, a silent album no album gain.
//
// Threads: the run's thread, except the meters, which each job's encoder feeds.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/audio_classes.h"
#include "jobs/run_observer.h"
#include "jobs/run_plan.h"
#include "outputs/loudness.h"
#include "outputs/tag_rewrite.h"

class TReplayGainPass {
 public:
  using TWarn = std::function<void(const std::string&)>;

  TReplayGainPass(const std::vector<TPlannedJob>& Jobs, TWarn Warn);

  // The job starts with Output (of a format with tags) set up for it: its tags are taken
  // now. Returns the meter that its encoder's source feeds. Raises
  // EAudioException when libebur128 is missing.
  TLoudnessMeter* Started(size_t Job, const TAudioFileOut& Output);
  // The job's file was encoded again, from audio that Meter measured (test and copy
  // replaced its copy): its gains are that audio's. Before the job ends.
  void Remeasured(size_t Job, std::unique_ptr<TLoudnessMeter> Meter);
  // The job ended (End null: it was taken back before it started). The last job of a
  // disc to end writes the gains of that disc's files.
  void Ended(size_t Job, const TTrackEnd* End);
  // A file's gains could not be written.
  bool AnyUnwritten() const { return Unwritten_; }

 private:
  struct TJob {
    int Disc = 0;
    bool Settled = false;
    std::unique_ptr<TLoudnessMeter> Meter;
    std::optional<TTagLines> Tags;
    std::string FileName;  // the done file; empty when the job kept none
  };

  void WriteDisc(int Disc);
  void WriteFile(const TJob& Job, const TLoudness& Album);

  std::vector<TJob> Jobs_;
  TWarn Warn_;
  bool Unwritten_ = false;
};

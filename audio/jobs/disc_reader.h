// Reads the tracks of a run on a thread of its own, one after another in the run's
// order, each into its spool, while their encoders run: a drive is read once, front to
// back, never seeking between tracks, and keeps streaming while the tracks are encoded.
//
// The run admits the tracks it may read: track i is read only once i < the admitted
// count, so that no more tracks wait in spools than the run has encoders for (plus the
// one being read ahead). Everything the source reports (a drive not ready, a sector that
// cannot be read) goes to the track's spool, which raises it in the track's encoder.
//
// With test and copy, when two reads other than the copy agree with each other, the
// copy is the odd one out: the later of the two, kept as it was read (`KeepReadsIn`),
// goes with the track's proof, for the run to encode into the track's file in place of
// the copy.
//
// With test and copy and the disc's AccurateRip entry, a copy that the entry confirms
// with confidence ProvingConfidence or more is proven in one read: its test read is left
// out. The reader waits for the lookup only once it needs its answer.
//
// Threads: the run's thread constructs, admits and stops; the reader owns the source
// from `Start` to `Stop` (a source of its own: readers of several drives run at once,
// each choosing its drive in the CD library for its own thread).
#pragma once

#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cdrom/audio_cdrom.h"
#include "jobs/kept_audio.h"
#include "jobs/track_spool.h"
#include "proof/accuraterip.h"
#include "proof/track_checksums.h"

// A track to read: drive and track number as the library numbers them. Skip: the job
// failed before reading (its spool is left alone).
struct TTrackRead {
  int Drive = 0;
  int Track = 0;
  bool Skip = false;
  int Offset = 0;       // the drive's read offset, corrected
  TTrackPlace Place;    // where the track lies, for its AccurateRip checksums
  bool Prove = false;   // sum the audio as it is read (CRC-32, AccurateRip, peak)
  bool Verify = false;  // read it again (test and copy) and compare the CRCs (sums too)
  int Retries = 3;      // further reads when the two differ
  int AudioIndex = -1;  // its place among the disc's audio tracks (from 0), for its entry
};

// What test and copy decided of the audio that the track's file holds.
enum class TTestCopyOutcome {
  None,        // no test read: one read, or a copy that AccurateRip proved
  Confirmed,   // the test read, or a re-read, agrees with the copy
  Replaced,    // the copy was the odd one out: the file holds what two other reads agree on
  Suspicious,  // no read agrees with what the file holds
};

// The audio that two reads other than the copy agree on: the later read's, as it was read.
struct TAgreedRead {
  explicit TAgreedRead(const std::string& Folder) : Audio(Folder) {}
  TKeptAudio Audio;
  TTrackChecksums Sums;
  std::string Reads;  // the two that agree: "the test read and re-read 1"
  int Reread = 0;     // the re-read whose audio is kept
};

// What reading a track proved: the checksums of the audio its file holds, and with test
// and copy the test pass's CRC and the verdict.
struct TTrackProof {
  TTrackChecksums Copy;
  std::optional<uint32_t> TestCrc;
  std::string TestCopy;  // "Test CRC = Copy CRC", or what the re-reads found; empty: no test
  TTestCopyOutcome Outcome = TTestCopyOutcome::None;
  // While the file holds a copy that was the odd one out: the audio that two other reads
  // agree on, for the run to encode in its place.
  std::shared_ptr<const TAgreedRead> Agreed;
  TCDReadReport Reads;  // what the copy pass met on the drive
  // What the CD and paranoia layers said during the track's reads (each sector the
  // drive refused among it), one message a line.
  std::string Messages;
  int Passes = 0;       // the reads of the track: the copy, the test, the re-reads
  // The confidence of the AccurateRip entry that proved the copy, so that no test read
  // ran; 0 when none did.
  int ProvenBy = 0;
};

// The track's file now holds the agreed audio in place of the copy: the proof's
// checksums become the agreed read's, and its verdict says so.
void AgreedAudioEncoded(TTrackProof& Proof);
// The agreed audio could not replace the copy (Why): the file keeps the copy, and the
// track stays suspicious.
void AgreedAudioNotEncoded(TTrackProof& Proof, const std::string& Why);

class TDiscReader {
 public:
  // OnReady runs on the reader thread each time a track's spool becomes ready (its read
  // began or failed), so the run can start its encoder.
  TDiscReader(TCDIn& Source, std::vector<TTrackRead> Reads, std::vector<TTrackSpool*> Spools,
              std::function<void()> OnReady);
  ~TDiscReader();
  TDiscReader(const TDiscReader&) = delete;
  TDiscReader& operator=(const TDiscReader&) = delete;

  // Entry: the disc's AccurateRip lookup, under way; before Start.
  void UseAccurateRip(std::shared_future<TAccurateRipLookup> Entry) { Entry_ = std::move(Entry); }
  // Folder: where re-reads are kept while test and copy decides; before Start. Without
  // it, a copy that is the odd one out stays what the file holds.
  void KeepReadsIn(std::string Folder) { KeepFolder_ = std::move(Folder); }
  void Start();
  // Tracks 0 .. Count - 1 may be read (a smaller count than before changes nothing).
  void Admit(size_t Count);
  // Ends the reading: the track being read stops at its next chunk; returns once the
  // thread has ended.
  void Stop();
  // What reading track Track (its index) proved; complete once its spool is finished.
  // The agreed read goes with the first call, so that its room is given back once the
  // caller lets go of it.
  TTrackProof ProofOf(size_t Track);

 private:
  void Run();
  bool WaitForAdmission(size_t Track);
  void ReadTrack(size_t Index);
  void Prove(const TTrackRead& Read, TTrackProof& Proof);
  int ConfirmedConfidence(const TTrackRead& Read, const TTrackChecksums& Copy);
  const TAccurateRipLookup* AccurateRipEntry();
  void Verify(const TTrackRead& Read, TTrackProof& Proof);
  std::optional<TTrackChecksums> ReadPass(const TTrackRead& Read, TTrackProof& Proof,
                                          TKeptAudio* Keep = nullptr);
  void TestAndCopy(const TTrackRead& Read, TTrackProof& Proof);
  std::shared_ptr<TAgreedRead> NewKeptRead() const;
  bool Stopping();

  TCDIn& Source_;
  const std::vector<TTrackRead> Reads_;
  const std::vector<TTrackSpool*> Spools_;
  std::function<void()> OnReady_;
  std::vector<TTrackProof> Proofs_;  // guarded by Lock_
  std::mutex Lock_;
  std::condition_variable Changed_;
  size_t Admitted_ = 0;
  bool Stopping_ = false;
  std::shared_future<TAccurateRipLookup> Entry_;  // the reader thread's copy
  std::string KeepFolder_;
  std::thread Thread_;
};

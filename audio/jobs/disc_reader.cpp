#include "jobs/disc_reader.h"

#include <algorithm>
#include <chrono>

TDiscReader::TDiscReader(TCDIn& Source, std::vector<TTrackRead> Reads,
                         std::vector<TTrackSpool*> Spools, std::function<void()> OnReady)
    : Source_(Source),
      Reads_(std::move(Reads)),
      Spools_(std::move(Spools)),
      OnReady_(std::move(OnReady)),
      Proofs_(Reads_.size()) {}

TDiscReader::~TDiscReader() { Stop(); }

void TDiscReader::Start() {
  Thread_ = std::thread([this] { Run(); });
}

void TDiscReader::Admit(size_t Count) {
  std::lock_guard<std::mutex> hold(Lock_);
  Admitted_ = std::max(Admitted_, Count);
  Changed_.notify_all();
}

// A read that waits for the drive (a slow burst, a bad spot) is interrupted, so that the
// thread ends within moments whatever the drive does.
void TDiscReader::Stop() {
  {
    std::lock_guard<std::mutex> hold(Lock_);
    Stopping_ = true;
    Changed_.notify_all();
  }
  if (!Thread_.joinable()) return;
  Source_.RequestStop();
  Thread_.join();
}

bool TDiscReader::WaitForAdmission(size_t Track) {
  std::unique_lock<std::mutex> hold(Lock_);
  Changed_.wait(hold, [&] { return Stopping_ || Track < Admitted_; });
  return !Stopping_;
}

bool TDiscReader::Stopping() {
  std::lock_guard<std::mutex> hold(Lock_);
  return Stopping_;
}

TTrackProof TDiscReader::ProofOf(size_t Track) {
  std::lock_guard<std::mutex> hold(Lock_);
  return Track < Proofs_.size() ? Proofs_[Track] : TTrackProof{};
}

void TDiscReader::Run() {
  for (size_t track = 0; track < Reads_.size(); ++track) {
    if (!WaitForAdmission(track)) return;
    if (!Reads_[track].Skip) ReadTrack(track);
  }
}

// Reads one track to its end into its spool, stopping early when the spool is
// cancelled (its encoder ended) or the reader stops; with test and copy, reads it again
// before its spool is finished, so that the job ends with the verdict known.
void TDiscReader::ReadTrack(size_t Index) {
  const TTrackRead& Read = Reads_[Index];
  TTrackSpool& Spool = *Spools_[Index];
  TTrackProof proof;
  Source_.SetCurrentDrive(Read.Drive);
  Source_.SetStartTrack(Read.Track);
  Source_.SetEndTrack(Read.Track);
  Source_.SetReadOffset(Read.Offset);
  std::vector<uint8_t> chunk(TCDIn::ChunkBytes);
  TTrackChecksummer sums(Read.Place);
  bool whole = true;
  try {
    Source_.Open();
    if (Stopping()) Source_.RequestStop();  // a stop asked for while the read opened
    Spool.Opened(Source_.Size);
    OnReady_();
    for (int got; (got = Source_.ReadData(chunk.data(), TCDIn::ChunkBytes)) > 0;) {
      Spool.Write(chunk.data(), static_cast<size_t>(got));
      if (Read.Prove || Read.Verify) sums.Add(chunk.data(), static_cast<size_t>(got));
      if (Stopping() || Spool.Cancelled()) {
        whole = false;
        break;
      }
    }
    Source_.Close();
    proof.Copy = sums.Result();
    proof.Reads = Source_.LastReadReport();
    proof.Passes = 1;
    if (Read.Verify && whole) Prove(Read, proof);
    {
      std::lock_guard<std::mutex> hold(Lock_);
      Proofs_[Index] = proof;
    }
    Spool.Finish(proof.Reads);
  } catch (const std::exception& e) {
    Source_.Reset();
    // A read that the run stopped ends the track's audio where it got; the run tells
    // the job as aborted.
    if (Stopping())
      Spool.Finish(Source_.LastReadReport());
    else
      Spool.Fail(e.what(), Source_.LastReadReport());
    OnReady_();
  }
}

// A copy that the disc's AccurateRip entry confirms well enough is proven as it is;
// any other gets its test read.
void TDiscReader::Prove(const TTrackRead& Read, TTrackProof& Proof) {
  const int confidence = ConfirmedConfidence(Read, Proof.Copy);
  if (confidence >= ProvingConfidence)
    Proof.ProvenBy = confidence;
  else
    Verify(Read, Proof);
}

// The confidence with which the disc's entry confirms Copy; 0 when it does not, or when
// there is no entry to ask.
int TDiscReader::ConfirmedConfidence(const TTrackRead& Read, const TTrackChecksums& Copy) {
  const TAccurateRipLookup* entry = AccurateRipEntry();
  if (!entry || entry->Failure) return 0;
  const TAccurateRipResult verdict =
      AccurateRipVerdict(entry->Pressings, Read.AudioIndex, Copy.AccurateRipV1, Copy.AccurateRipV2);
  return verdict.Verdict == EAccurateRipVerdict::Accurate ? verdict.Confidence : 0;
}

// The disc's entry once its lookup is over (within the lookup's time limits); nothing
// without a lookup, or when the reader stops first.
const TAccurateRipLookup* TDiscReader::AccurateRipEntry() {
  if (!Entry_.valid()) return nullptr;
  constexpr std::chrono::milliseconds StopPoll{50};
  while (Entry_.wait_for(StopPoll) != std::future_status::ready)
    if (Stopping()) return nullptr;
  return &Entry_.get();
}

// The test pass and what it finds; a read that fails there leaves the copy suspicious,
// not failed: the encoder had every sector.
void TDiscReader::Verify(const TTrackRead& Read, TTrackProof& Proof) {
  try {
    Proof.TestCrc = ReadPass(Read, Proof.Passes);
    if (Proof.TestCrc) Proof.TestCopy = TestAndCopy(Read, Proof);
  } catch (const std::exception& e) {
    Source_.Reset();
    Proof.TestCopy = std::string("suspicious: a test read failed: ") + e.what();
  }
}

// One more read of the track, for its CRC only; nothing when the reader stops.
std::optional<uint32_t> TDiscReader::ReadPass(const TTrackRead& Read, int& Passes) {
  std::vector<uint8_t> chunk(TCDIn::ChunkBytes);
  ++Passes;
  TTrackChecksummer sums(Read.Place);
  Source_.Open();
  for (int got; (got = Source_.ReadData(chunk.data(), TCDIn::ChunkBytes)) > 0;) {
    sums.Add(chunk.data(), static_cast<size_t>(got));
    if (Stopping()) {
      Source_.Close();
      return std::nullopt;
    }
  }
  Source_.Close();
  return sums.Result().Crc32;
}

// The copy pass fed the encoder: when the test pass read otherwise, further reads decide
// whether the copy is confirmed (a re-read agrees with it). The track is suspicious when
// no read agrees with the copy: either two other reads agree with each other, so the
// copy is the odd one out and the file holds a misread, or no two reads agree at all.
std::string TDiscReader::TestAndCopy(const TTrackRead& Read, TTrackProof& Proof) {
  const uint32_t copy = Proof.Copy.Crc32, test = *Proof.TestCrc;
  if (test == copy) return "Test CRC = Copy CRC";
  std::vector<uint32_t> others{test};  // the reads that differ from the copy
  for (int retry = 1; retry <= Read.Retries; ++retry) {
    const std::optional<uint32_t> again = ReadPass(Read, Proof.Passes);
    if (!again) break;
    const std::string reread = "re-read " + std::to_string(retry);
    if (*again == copy)
      return "Test CRC differs from Copy CRC; " + reread + " agrees with the copy";
    const auto agreeing = std::find(others.begin(), others.end(), *again);
    if (agreeing != others.end())
      return "suspicious: the copy is the odd one out: " +
             (agreeing == others.begin() ? std::string("the test read")
                                         : "re-read " + std::to_string(agreeing - others.begin())) +
             " and " + reread + " agree on other audio than the file holds";
    others.push_back(*again);
  }
  return "suspicious: Test CRC differs from Copy CRC and no two reads agree";
}

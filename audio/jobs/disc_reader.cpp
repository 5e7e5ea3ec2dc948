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
  if (Track >= Proofs_.size()) return TTrackProof{};
  TTrackProof proof = Proofs_[Track];
  Proofs_[Track].Agreed.reset();
  return proof;
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
    proof.Messages = Source_.LastReadMessages();
    proof.Passes = 1;
    if (Read.Verify && whole) Prove(Read, proof);
    {
      std::lock_guard<std::mutex> hold(Lock_);
      Proofs_[Index] = proof;
    }
    Spool.Finish(proof.Reads);
  } catch (const std::exception& e) {
    Source_.Reset();
    {
      std::lock_guard<std::mutex> hold(Lock_);
      Proofs_[Index].Messages = Source_.LastReadMessages();
    }
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
  return verdict.Verdict == TAccurateRipVerdict::Accurate ? verdict.Confidence : 0;
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
    if (const std::optional<TTrackChecksums> test = ReadPass(Read, Proof)) {
      Proof.TestCrc = test->Crc32;
      TestAndCopy(Read, Proof);
    }
  } catch (const std::exception& e) {
    Source_.Reset();
    Proof.Messages += Source_.LastReadMessages();
    Proof.Agreed.reset();
    Proof.Outcome = TTestCopyOutcome::Suspicious;
    Proof.TestCopy = std::string("suspicious: a test read failed: ") + e.what();
  }
}

// One more read of the track, for its checksums, its audio kept in Keep when given;
// nothing when the reader stops.
std::optional<TTrackChecksums> TDiscReader::ReadPass(const TTrackRead& Read, TTrackProof& Proof,
                                                     TKeptAudio* Keep) {
  std::vector<uint8_t> chunk(TCDIn::ChunkBytes);
  ++Proof.Passes;
  TTrackChecksummer sums(Read.Place);
  Source_.Open();
  bool stopped = false;
  for (int got; !stopped && (got = Source_.ReadData(chunk.data(), TCDIn::ChunkBytes)) > 0;) {
    sums.Add(chunk.data(), static_cast<size_t>(got));
    if (Keep) Keep->Append(chunk.data(), static_cast<size_t>(got));
    stopped = Stopping();
  }
  Source_.Close();
  Proof.Messages += Source_.LastReadMessages();
  if (stopped) return std::nullopt;
  return sums.Result();
}

std::shared_ptr<TAgreedRead> TDiscReader::NewKeptRead() const {
  return KeepFolder_.empty() ? nullptr : std::make_shared<TAgreedRead>(KeepFolder_);
}

namespace {

void Decide(TTrackProof& Proof, TTestCopyOutcome Outcome, std::string Text) {
  Proof.Outcome = Outcome;
  Proof.TestCopy = std::move(Text);
}

std::string RereadName(int Retry) { return "re-read " + std::to_string(Retry); }

}  // namespace

// The copy pass fed the encoder: when the test pass read otherwise, further reads decide.
// A re-read that agrees with the copy confirms it. One that agrees with an earlier read
// other than the copy makes the copy the odd one out: the re-read, kept as it was read,
// holds the audio that the two agree on, which goes with the proof for the run to
// encode in place of the copy (until it has, the track is suspicious). When no two
// reads agree at all, the track is suspicious.
void TDiscReader::TestAndCopy(const TTrackRead& Read, TTrackProof& Proof) {
  const uint32_t copy = Proof.Copy.Crc32;
  if (*Proof.TestCrc == copy)
    return Decide(Proof, TTestCopyOutcome::Confirmed, "Test CRC = Copy CRC");
  std::vector<uint32_t> others{*Proof.TestCrc};  // the reads that differ from the copy
  for (int retry = 1; retry <= Read.Retries; ++retry) {
    const std::shared_ptr<TAgreedRead> kept = NewKeptRead();
    const std::optional<TTrackChecksums> again =
        ReadPass(Read, Proof, kept ? &kept->Audio : nullptr);
    if (!again) break;
    if (again->Crc32 == copy)
      return Decide(
          Proof, TTestCopyOutcome::Confirmed,
          "Test CRC differs from Copy CRC; " + RereadName(retry) + " agrees with the copy");
    const auto agreeing = std::find(others.begin(), others.end(), again->Crc32);
    if (agreeing == others.end()) {
      others.push_back(again->Crc32);
      continue;
    }
    const auto earlier = static_cast<int>(agreeing - others.begin());
    const std::string reads = (earlier == 0 ? std::string("the test read") : RereadName(earlier)) +
                              " and " + RereadName(retry);
    if (kept && kept->Audio.Usable()) {
      kept->Sums = *again;
      kept->Reads = reads;
      kept->Reread = retry;
      Proof.Agreed = kept;
    }
    return Decide(Proof, TTestCopyOutcome::Suspicious,
                  "suspicious: the copy is the odd one out: " + reads +
                      " agree on other audio than the file holds");
  }
  Decide(Proof, TTestCopyOutcome::Suspicious,
         "suspicious: Test CRC differs from Copy CRC and no two reads agree");
}

void AgreedAudioEncoded(TTrackProof& Proof) {
  const TAgreedRead& agreed = *Proof.Agreed;
  Proof.Copy = agreed.Sums;
  Decide(Proof, TTestCopyOutcome::Replaced,
         "the copy was the odd one out; the file holds the audio that " + agreed.Reads +
             " agree on (re-encoded from " + RereadName(agreed.Reread) + ")");
  Proof.Agreed.reset();
}

void AgreedAudioNotEncoded(TTrackProof& Proof, const std::string& Why) {
  Proof.TestCopy += " (re-encoding it failed: " + Why + ")";
  Proof.Agreed.reset();
}

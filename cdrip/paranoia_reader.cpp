#include "paranoia_reader.h"

#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <vector>

namespace cdrip {
namespace {

using DriveReadFunction = long (*)(cdrom_drive_t*, void*, lsn_t, long);

// Sectors the drive delivered that are kept to be given back to the layer once the drive
// is no longer asked: more than the layer reads around its cursor.
constexpr size_t KeptSectors = 1500;
// What is kept of the layers' messages per range; the first ones tell most.
constexpr size_t MaxMessageBytes = 16384;
constexpr int32_t NoSector = INT32_MAX;

// Lines for the log, bounded.
class MessageLog {
 public:
  void Add(const std::string& Line) {
    if (Line.empty()) return;
    if (Text_.size() + Line.size() + 1 > MaxMessageBytes) {
      Cut_ = true;
      return;
    }
    Text_ += Line;
    if (Text_.back() != '\n') Text_ += '\n';
  }
  // Adds a message buffer of the layer, which it hands over to be freed.
  void AddLayerText(char* Text) {
    if (!Text) return;
    Add(Text);
    cdio_cddap_free_messages(Text);
  }
  std::string Take() {
    std::string text = std::move(Text_);
    if (Cut_) text += "(further messages left out)\n";
    Text_.clear();
    Cut_ = false;
    return text;
  }

 private:
  std::string Text_;
  bool Cut_ = false;
};

void TakeLayerMessages(cdrom_drive_t* Cdda, MessageLog& Log) {
  Log.AddLayerText(cdio_cddap_errors(Cdda));
  Log.AddLayerText(cdio_cddap_messages(Cdda));
}

// Stands between the paranoia layer and the drive; see the header for what it does.
// Threads: Read runs on the reading thread, Interrupt on any.
class DriveGuard {
 public:
  // NeverSkips: the layer never gives a stretch up itself (it verifies, and is told not
  // to skip), so the guard gives a sector up after the retries of re-reads there too.
  DriveGuard(cdrom_drive_t* Cdda, int Attempts, bool NeverSkips, MessageLog& Log)
      : Cdda_(Cdda),
        DriveRead_(Cdda->read_audio),
        Attempts_(std::max(Attempts, 1)),
        NeverSkips_(NeverSkips),
        Log_(Log) {}

  // Out may be null: the layer then only moves the drive, to defeat its cache, anywhere
  // on the disc; such a read says nothing of the range's sectors.
  long Read(uint8_t* Out, lsn_t Begin, long Count) {
    Count = std::min<long>(Count, Cdda_->nsectors > 0 ? Cdda_->nsectors : Count);
    if (Count <= 0) return 0;
    if (Replaying()) return Replay(Out, Begin, Count);
    if (Out) NoteRead(Begin, Count);
    const long got = DriveRead_(Cdda_, Out, Begin, Count);
    if (got > 0 || !Out) {
      Keep(Out, Begin, got);
      return got;
    }
    ++Rereads_;  // the failed command is read again, sector by sector
    return ReadSectorBySector(Out, Begin, Count);
  }

  // The range read: refusals outside it are not the range's.
  void SetRange(int32_t First, int32_t End) {
    First_ = First;
    End_ = End;
    const size_t sectors = End > First && End != NoSector ? static_cast<size_t>(End - First) : 0;
    Delivered_.assign(sectors, false);
    BadSectors_.assign(sectors, false);
    Troubled_ = false;
    ForgetReads();
  }
  // Whether the drive delivered sector Lsn of the range on any read. What the layer
  // hands out for a sector it never got is made up (silence where a read failed), and
  // verifies as well as the silence around it.
  bool DriveDelivered(int32_t Lsn) const {
    if (Lsn < First_ || Lsn >= End_ || Delivered_.empty()) return true;
    return Delivered_[static_cast<size_t>(Lsn - First_)];
  }
  // Reads sector Lsn, which the layer made up, from the drive into Out: twice, and
  // kept when both reads agree, with the failed reads counted as the layer's are (the
  // sector is given up once they are spent). False when it could not be read so.
  bool ReadMadeUpSector(int32_t Lsn, uint8_t* Out) {
    std::array<uint8_t, SectorBytes> again{};
    for (int attempt = 0; attempt < Attempts_ && !Replaying(); ++attempt) {
      ++Rereads_;
      if (DriveRead_(Cdda_, Out, Lsn, 1) != 1 || DriveRead_(Cdda_, again.data(), Lsn, 1) != 1) {
        NoteRefused(Lsn);
        continue;
      }
      if (std::memcmp(Out, again.data(), SectorBytes) != 0) continue;
      Keep(Out, Lsn, 1);
      return true;
    }
    return false;
  }
  // The layer starts reading anew (a seek): what it read before no longer counts.
  void ForgetReads() {
    TimesRead_.assign(End_ > First_ && End_ != NoSector ? static_cast<size_t>(End_ - First_) : 0,
                      0);
    PassEnd_ = NoSector;
  }
  // Reads of the drive that repeated audio because reads failed or did not agree.
  int32_t Rereads() const { return Rereads_; }

  void Interrupt() { Interrupted_ = true; }
  bool Interrupted() const { return Interrupted_; }
  // Once interrupted or at a sector given up, the layer reads what was delivered before.
  bool Replaying() const { return Interrupted_ || GivenUp_ != NoSector; }
  // The sector the layer is asked for: a new one starts the counts of failed reads and
  // of re-reads anew.
  void SetCursor(int32_t Lsn) {
    if (Lsn == Cursor_) return;
    Cursor_ = Lsn;
    BadReads_ = 0;
    RereadsHere_ = 0;
    ReadsHere_ = 0;
    LowestRefused_ = NoSector;
  }
  int32_t GivenUp() const { return GivenUp_; }
  // The first sector given back that the drive never delivered: nothing from it on is
  // the disc's.
  int32_t FirstInvented() const { return FirstInvented_; }
  // The first sector the drive refused at or after the cursor; NoSector when none.
  int32_t Refused() const { return LowestRefused_; }

 private:
  // A read of several sectors failed: they are read one by one up to the first that the
  // drive refuses. All of them read means the failure passed.
  long ReadSectorBySector(uint8_t* Out, lsn_t Begin, long Count) {
    long read = 0;
    for (; read < Count && !Interrupted_; ++read) {
      uint8_t* sector = Out ? Out + read * SectorBytes : nullptr;
      if (DriveRead_(Cdda_, sector, Begin + static_cast<lsn_t>(read), 1) != 1) {
        NoteRefused(Begin + static_cast<int32_t>(read));
        break;
      }
      Keep(sector, Begin + static_cast<lsn_t>(read), 1);
    }
    return read;
  }

  // The layer reads in passes of many sectors, each stretch twice (the second pass
  // verifies the first), and each new stretch overlaps the last by at most its overlap
  // (up to 32 sectors) and its jiggle (up to 15). A pass that starts where the audio,
  // PassSlack sectors on, has already been read twice repeats it; once a read of the
  // range failed or two reads of a sector differed, the layer read there again for that.
  // Such a pass is one re-read. (A range of a few sectors is read a third time on a
  // clean drive too: without trouble seen, no pass is a re-read.)
  //
  // A verifying layer, which never skips, reads where its cursor stays until what it
  // reads verifies: the cursor's sector is given up once the re-reads there reach the
  // retries (or, whatever the passes, after MaxReadsHere reads of the drive, far more
  // than reading the layer's whole cache model around one sector takes).
  void NoteRead(lsn_t Begin, long Count) {
    constexpr int32_t PassSlack = 64;
    constexpr int MaxReadsHere = 20000;
    if (TimesRead_.empty() || Begin < First_ || Begin >= End_) return;
    if (Begin != PassEnd_) {
      const int32_t probe = std::min<int32_t>(Begin + PassSlack, End_ - 1);
      if (Troubled_ && TimesRead_[static_cast<size_t>(probe - First_)] >= 2) {
        ++Rereads_;
        ++RereadsHere_;
      }
    }
    if (NeverSkips_ && (RereadsHere_ >= Attempts_ || ++ReadsHere_ > MaxReadsHere)) GiveUpCursor();
    const int32_t end = std::min<int32_t>(Begin + static_cast<int32_t>(Count), End_);
    for (int32_t lsn = Begin; lsn < end; ++lsn) {
      uint8_t& times = TimesRead_[static_cast<size_t>(lsn - First_)];
      times = static_cast<uint8_t>(std::min(times + 1, 255));
    }
    PassEnd_ = Begin + static_cast<int32_t>(Count);
  }

  // The layer starts its reads at varying places around its cursor, so the work on one
  // bad spot is counted while the cursor stays where it is, whatever sector failed.
  void NoteRefused(int32_t Lsn) {
    if (Lsn < First_ || Lsn >= End_) return;
    Troubled_ = true;
    if (!BadSectors_.empty()) BadSectors_[static_cast<size_t>(Lsn - First_)] = true;
    ++BadReads_;
    if (Lsn >= Cursor_) LowestRefused_ = std::min(LowestRefused_, Lsn);
    Log_.Add("The drive refused sector " + std::to_string(Lsn) + " (failed read " +
             std::to_string(BadReads_) + " of at most " + std::to_string(Attempts_) +
             " at sector " + std::to_string(Cursor_) + ").");
    if (BadReads_ < Attempts_) return;
    GivenUp_ = LowestRefused_ != NoSector ? LowestRefused_ : Cursor_;
    Log_.Add("Sector " + std::to_string(GivenUp_) + " given up.");
  }

  // The sector given up is the first from the cursor on that the drive refused or read
  // differently on two reads: the layer's cursor lags behind a bad spot by its overlap.
  void GiveUpCursor() {
    if (GivenUp_ != NoSector) return;
    GivenUp_ = Cursor_;
    for (int32_t lsn = std::max(Cursor_, First_); lsn < End_ && !BadSectors_.empty(); ++lsn)
      if (BadSectors_[static_cast<size_t>(lsn - First_)]) {
        GivenUp_ = lsn;
        break;
      }
    Log_.Add("Sector " + std::to_string(GivenUp_) + " given up: " + std::to_string(RereadsHere_) +
             " re-reads there did not verify.");
  }

  void Keep(const uint8_t* Sectors, lsn_t Begin, long Count) {
    if (!Sectors) return;
    for (long i = 0; i < Count; ++i) {
      const int32_t lsn = Begin + static_cast<int32_t>(i);
      const uint8_t* sector = Sectors + i * SectorBytes;
      auto [slot, added] = Kept_.try_emplace(lsn);
      if (lsn >= First_ && lsn < End_ && !Delivered_.empty()) {
        const auto at = static_cast<size_t>(lsn - First_);
        Delivered_[at] = true;
        if (!added && !std::equal(sector, sector + SectorBytes, slot->second.begin()))
          BadSectors_[at] = Troubled_ = true;
      }
      slot->second.assign(sector, sector + SectorBytes);
      if (!added) continue;
      KeptOrder_.push_back(lsn);
      if (KeptOrder_.size() > KeptSectors) {
        Kept_.erase(KeptOrder_.front());
        KeptOrder_.pop_front();
      }
    }
  }

  // What the drive delivered before, silence elsewhere: the same on every read, so the
  // layer's verification agrees at once.
  long Replay(uint8_t* Out, lsn_t Begin, long Count) {
    if (!Out) return Count;
    for (long i = 0; i < Count; ++i) {
      const int32_t lsn = Begin + static_cast<int32_t>(i);
      uint8_t* sector = Out + i * SectorBytes;
      const auto kept = Kept_.find(lsn);
      if (kept != Kept_.end()) {
        std::memcpy(sector, kept->second.data(), SectorBytes);
        continue;
      }
      std::memset(sector, 0, SectorBytes);
      if (lsn != GivenUp_) FirstInvented_ = std::min(FirstInvented_, lsn);
    }
    return Count;
  }

  cdrom_drive_t* Cdda_;
  const DriveReadFunction DriveRead_;
  const int Attempts_;
  const bool NeverSkips_;
  MessageLog& Log_;
  std::atomic<bool> Interrupted_{false};
  int32_t GivenUp_ = NoSector;
  int32_t First_ = 0, End_ = NoSector;
  int32_t Cursor_ = 0;
  int BadReads_ = 0;     // failed reads with the cursor where it is
  int RereadsHere_ = 0;  // re-reads with the cursor where it is
  int ReadsHere_ = 0;    // reads of the drive with the cursor where it is
  int32_t LowestRefused_ = NoSector;
  int32_t FirstInvented_ = NoSector;
  std::unordered_map<int32_t, std::vector<uint8_t>> Kept_;
  std::deque<int32_t> KeptOrder_;
  std::vector<uint8_t> TimesRead_;  // per sector of the range: the drive's reads of it
  std::vector<bool> Delivered_;     // per sector of the range: the drive delivered it
  std::vector<bool> BadSectors_;  // per sector of the range: refused, or read differently
  bool Troubled_ = false;           // a read of the range failed, or two reads differed
  int32_t PassEnd_ = NoSector;      // where the last read ended: a read from there goes on
  int32_t Rereads_ = 0;
};

// What the paranoia layer told of a read: its events by kind, and the first sector it
// gave up (it reports positions in 16-bit words).
struct ParanoiaEvents {
  std::array<int32_t, PARANOIA_CB_FINISHED + 1> Count{};
  int32_t FirstSkipped = NoSector;
  // Without verification the layer does not tell whether it recovered what a failed
  // read missed (it goes on with silence there): the failed read's first sector counts
  // as given up.
  bool Verifying = true;
  bool GaveUp = false;  // delivery ended before a sector given up
  int32_t Asking = 0;   // the sector the layer is asked for
};

// The layer's callback and its drive's read function carry no context of ours: the
// reader that reads on this thread sets it.
struct ReadContext {
  ParanoiaEvents* Events = nullptr;
  DriveGuard* Guard = nullptr;
};
thread_local ReadContext Current;

// A position of the layer as a sector. Before the sector asked for nothing is given up:
// with nothing verified yet the layer reports its skips at the disc's start.
int32_t SectorOfEvent(long Position, int32_t Asking) {
  const long sector = Position / CD_FRAMEWORDS;
  return static_cast<int32_t>(std::clamp<long>(sector, Asking, NoSector));
}

// What the layer reports once its reads no longer reach the drive (a stop, a sector given
// up) says nothing of the disc and is not counted.
void CountParanoiaEvent(long int Position, paranoia_cb_mode_t Mode) {
  ParanoiaEvents* events = Current.Events;
  if (!events || Mode < 0 || Mode > PARANOIA_CB_FINISHED) return;
  if (Current.Guard && Current.Guard->Replaying()) return;
  ++events->Count[Mode];
  if (Mode == PARANOIA_CB_SKIP || (Mode == PARANOIA_CB_READERR && !events->Verifying))
    events->FirstSkipped = std::min(events->FirstSkipped, SectorOfEvent(Position, events->Asking));
}

long GuardedDriveRead(cdrom_drive_t*, void* Out, lsn_t Begin, long Count) {
  if (!Current.Guard) return -1;  // only our reads run while the hook is in place
  return Current.Guard->Read(static_cast<uint8_t*>(Out), Begin, Count);
}

// Sets the thread's context for the length of a read.
class ReadScope {
 public:
  ReadScope(ParanoiaEvents& Events, DriveGuard& Guard) { Current = ReadContext{&Events, &Guard}; }
  ~ReadScope() { Current = ReadContext{}; }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;
};

// What the layer's events count. Re-reads are counted by the guard, from the drive's
// own reads (see DriveGuard::NoteRead): the layer's events do not tell them. Its VERIFY
// events come for every pass compared with the passes before, which is how every read
// is checked, and its OVERLAP events for every change of the overlap it reads with,
// which jitter statistics cause on a clean disc as well; neither is counted. READERR
// (a failed drive read) is counted by the guard, which reads the failed command again.
// Corrections are the repairs of the audio: FIXUP_EDGE and FIXUP_ATOM (jitter fixed at
// a pass's edge or within it), FIXUP_DROPPED and FIXUP_DUPED (samples the drive
// dropped or duplicated), DRIFT (the drive's positioning found drifting, compensated);
// SCRATCH and REPAIR are not sent by the layer but counted if they come. SKIP (audio
// given up after the retries) makes the skipped sector. CACHEERR concerns the drive's
// cache, not the disc, and READ, WROTE and FINISHED are progress.
ReadReport ReportOf(const ParanoiaEvents& Logged, int32_t Rereads) {
  const auto& events = Logged.Count;
  ReadReport report;
  report.Rereads = Rereads;
  for (paranoia_cb_mode_t fix :
       {PARANOIA_CB_FIXUP_EDGE, PARANOIA_CB_FIXUP_ATOM, PARANOIA_CB_FIXUP_DROPPED,
        PARANOIA_CB_FIXUP_DUPED, PARANOIA_CB_DRIFT, PARANOIA_CB_REPAIR, PARANOIA_CB_SCRATCH})
    report.Corrections += events[fix];
  report.Skips = Logged.GaveUp ? 1 : 0;
  return report;
}

struct CddaCloser {
  void operator()(cdrom_drive_t* Drive) const { cdio_cddap_close(Drive); }
};
struct ParanoiaFreer {
  void operator()(cdrom_paranoia_t* Paranoia) const { cdio_paranoia_free(Paranoia); }
};
using CddaHandle = std::unique_ptr<cdrom_drive_t, CddaCloser>;
using ParanoiaHandle = std::unique_ptr<cdrom_paranoia_t, ParanoiaFreer>;

// A verifying layer never skips: the guard gives a sector up after the retries rather
// than hang on a scratch (the other modes give up as the layer does), and the range then
// ends before that sector, so the job fails naming it.
class ParanoiaReader : public SectorReader {
 public:
  ParanoiaReader(CddaHandle Cdda, const ReadSettings& Settings, MessageLog Log)
      : Cdda_(std::move(Cdda)),
        Retries_(Settings.ParanoiaRetries),
        Log_(std::move(Log)),
        Guard_(Cdda_.get(), Settings.ParanoiaRetries,
               (Settings.ParanoiaMode & PARANOIA_MODE_VERIFY) != 0, Log_),
        Paranoia_(cdio_paranoia_init(Cdda_.get())) {
    Events_.Verifying = (Settings.ParanoiaMode & PARANOIA_MODE_VERIFY) != 0;
    // Verifying, the layer's own giving up counts its passes in steps of five, whatever
    // the retries, and gives a noisy stretch up after a few: the guard gives a sector up
    // once its retries are spent there, so the layer never skips.
    const int neverSkip = Events_.Verifying ? PARANOIA_MODE_NEVERSKIP : 0;
    if (Paranoia_) cdio_paranoia_modeset(Paranoia_.get(), Settings.ParanoiaMode | neverSkip);
    // The layer's own retries would repeat each failed command several times over; the
    // guard retries by sector instead.
    Cdda_->error_retry = 0;
    Cdda_->read_audio = GuardedDriveRead;
  }
  // The paranoia handle goes before the drive's handle it reads, and both before the
  // guard that their reads pass through.
  ~ParanoiaReader() override {
    Paranoia_.reset();
    Cdda_.reset();
  }

  bool Usable() const { return Paranoia_ != nullptr; }

  void Limit(int32_t First, int32_t End) override {
    First_ = First;
    End_ = End;
    Guard_.SetRange(First, End);
  }

  int32_t Read(uint8_t* Out, int32_t Lsn, int32_t Count) override {
    if (Lsn != Next_) Seek(Lsn);
    ReadScope scope(Events_, Guard_);
    for (int32_t i = 0; i < Count; ++i) {
      if (Guard_.Interrupted()) return i;
      Events_.Asking = Next_;
      Guard_.SetCursor(Next_);
      const int16_t* samples =
          Deliverable(Next_)
              ? cdio_paranoia_read_limited(Paranoia_.get(), CountParanoiaEvent, Retries_)
              : nullptr;
      TakeLayerMessages(Cdda_.get(), Log_);
      // After a stop what the layer hands out is no longer the drive's.
      if (Guard_.Interrupted()) return i;
      if (!samples || !Deliverable(Next_)) return EndAt(i);
      uint8_t* sector = Out + static_cast<size_t>(i) * SectorBytes;
      if (Guard_.DriveDelivered(Next_))
        StoreLittleEndian(sector, samples);
      else if (!Guard_.ReadMadeUpSector(Next_, sector))
        return Guard_.Interrupted() ? i : EndAt(i);
      ++Next_;
    }
    return Count;
  }

  ReadReport Report() const override {
    ReadReport report = ReportOf(Events_, Guard_.Rereads());
    report.FailedSector = FailedSector_;
    return report;
  }
  void Interrupt() override { Guard_.Interrupt(); }
  std::string TakeMessages() override { return Log_.Take(); }

 private:
  // The layer reads around its cursor: it is told the range, so that it stays within it.
  void Seek(int32_t Lsn) {
    cdio_paranoia_seek(Paranoia_.get(), Lsn, SEEK_SET);
    Guard_.ForgetReads();
    if (End_ > Lsn && Lsn >= First_) cdio_paranoia_set_range(Paranoia_.get(), Lsn, End_ - 1);
    Next_ = Lsn;
  }

  // A sector is delivered only before every sector given up (by the layer or the guard)
  // and before anything the drive did not deliver.
  bool Deliverable(int32_t Lsn) const {
    return Lsn < Events_.FirstSkipped && Lsn < Guard_.GivenUp() && Lsn < Guard_.FirstInvented();
  }

  // Delivery ends before sector Next_: the sector named is the one the drive refused,
  // else the one verification gave up.
  int32_t EndAt(int32_t Delivered) {
    Events_.GaveUp = true;
    const int32_t refused = Guard_.Refused();
    const int32_t skipped =
        std::min({Events_.FirstSkipped, Guard_.GivenUp(), Guard_.FirstInvented()});
    FailedSector_ =
        refused != NoSector ? refused : std::max(skipped == NoSector ? Next_ : skipped, Next_);
    Log_.Add("Reading ended before sector " + std::to_string(FailedSector_) + ".");
    Next_ = -1;  // the layer's position is past the sector now
    return Delivered;
  }

  // The paranoia layer hands samples in the machine's byte order.
  static void StoreLittleEndian(uint8_t* Out, const int16_t* Samples) {
    for (int i = 0; i < SectorBytes / 2; ++i) {
      const auto sample = static_cast<uint16_t>(Samples[i]);
      Out[2 * i] = static_cast<uint8_t>(sample & 0xFF);
      Out[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
  }

  CddaHandle Cdda_;
  const int Retries_;
  MessageLog Log_;
  DriveGuard Guard_;
  ParanoiaHandle Paranoia_;
  int32_t First_ = 0;
  int32_t End_ = 0;
  int32_t Next_ = -1;
  int32_t FailedSector_ = -1;
  ParanoiaEvents Events_{};
};

}  // namespace

std::unique_ptr<SectorReader> OpenParanoiaReader(const std::string& Device,
                                                 const ReadSettings& Settings,
                                                 std::string& Messages) {
  MessageLog log;
  char* identifying = nullptr;
  CddaHandle cdda(cdio_cddap_identify(Device.c_str(), CDDA_MESSAGE_LOGIT, &identifying));
  log.AddLayerText(identifying);
  if (!cdda) {
    Messages = log.Take();
    return nullptr;
  }
  cdio_cddap_verbose_set(cdda.get(), CDDA_MESSAGE_LOGIT, CDDA_MESSAGE_LOGIT);
  // CD audio comes little-endian from every drive that reads it by MMC command; told so,
  // the layer does not guess, and never swaps on a little-endian machine.
  cdda->bigendianp = 0;
  const bool opened = cdio_cddap_open(cdda.get()) == 0;
  TakeLayerMessages(cdda.get(), log);
  if (!opened) {
    Messages = log.Take();
    return nullptr;
  }
  auto reader = std::make_unique<ParanoiaReader>(std::move(cdda), Settings, std::move(log));
  if (!reader->Usable()) {
    Messages = reader->TakeMessages();
    return nullptr;
  }
  return reader;
}

}  // namespace cdrip

#include "cdrom/audio_cdrom.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/program_files.h"

namespace {

constexpr uint8_t AudioTrackFlag = 0x10;
constexpr int32_t SectorsPerSecond = 75;

int32_t OffsetSectors(const TCDPosition& Position) {
  return (Position.Minutes * 60 + Position.Seconds) * SectorsPerSecond + Position.Frames;
}

// A text that the library copies out as CR_GetDriveName does: asked once for its length,
// then copied; empty when there is none.
template <class Copy>
std::string CopiedText(Copy&& CopyOut) {
  const int32_t length = CopyOut(nullptr, 0);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  CopyOut(text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

// A program that runs from its build folder loads the library beside it and keeps cdr.ini
// there (when it can); an installed one finds the library through its run path and
// keeps cdr.ini in the user's configuration folder.
TCDIn::TCDIn() {
  CDRipBinding().Load(ProgramFiles().OwnFolder());
  Library_ = CDRipBinding().Library();
  if (!Library_) throw EAudioException(CDRipBinding().NotLoadedMessage());
}

// A read still open when the source goes is not closed; the consumers only learn that
// their input is gone.
TCDIn::~TCDIn() { DetachConsumers(); }

// The library's choice of drive is the calling thread's: a hold taken on another thread
// than the one that took the first chooses the drive again.
void TCDIn::EnterDriveHold() {
  if (DriveHoldCount_ == 0 || HoldThread_.load() != std::this_thread::get_id())
    Lib().CR_SetActiveCDROM(CurrentDrive_.load());
  if (DriveHoldCount_ == 0) HoldThread_ = std::this_thread::get_id();
  ++DriveHoldCount_;
}

void TCDIn::LeaveDriveHold() {
  if (DriveHoldCount_ > 0) --DriveHoldCount_;
}

void TCDIn::SetCurrentDrive(int Value) {
  TDriveHold hold(*this);
  if (Value >= 0 && Value < Lib().CR_GetNumCDROM()) CurrentDrive_ = Value;
}

void TCDIn::SetStartTrack(int Value) {
  if (Busy) throw EAudioException("The component is buisy");
  StartTrack_ = Value;
  StartPosition_ = TCDPosition{Value, 0, 0, 0};
}

void TCDIn::SetEndTrack(int Value) {
  if (Busy) throw EAudioException("The component is busy");
  EndTrack_ = Value;
  EndPosition_ = TCDPosition{Value + 1, 0, 0, 0};
}

int TCDIn::DriveCount() {
  TDriveHold hold(*this);
  return Lib().CR_GetNumCDROM();
}

TCDDriveState TCDIn::GetDriveState() {
  TDriveHold hold(*this);
  int32_t status = 0;
  Lib().CR_IsMediaLoaded(&status);
  const int32_t playing = Lib().CR_IsAudioPlaying();
  if (status != 0) return dsNotReady;
  return playing != 0 ? dsPlayingAudio : dsReady;
}

std::string TCDIn::GetCdText(int Track, int Field) {
  TDriveHold hold(*this);
  if (Lib().CR_ReadToc() != 0) return std::string();
  return CopiedText(
      [&](char* Buffer, int32_t Room) { return Lib().CR_GetCdText(Track, Field, Buffer, Room); });
}

int TCDIn::DriveReadOffset() {
  int32_t samples = 0;
  return Lib().CR_GetReadOffset(CurrentDrive_.load(), &samples) == 0 ? samples : 0;
}

std::string TCDIn::DriveModel() {
  return CopiedText([&](char* Buffer, int32_t Room) {
    return Lib().CR_GetDriveModel(CurrentDrive_.load(), Buffer, Room);
  });
}

std::string TCDIn::DriveRevision() {
  return CopiedText([&](char* Buffer, int32_t Room) {
    return Lib().CR_GetDriveRevision(CurrentDrive_, Buffer, Room);
  });
}

std::string TCDIn::DriveReadMode() {
  return CopiedText([&](char* Buffer, int32_t Room) { return Lib().CR_GetReadMode(Buffer, Room); });
}

std::vector<CR_TocEntry> TCDIn::GetTocEntries() {
  TDriveHold hold(*this);
  std::vector<CR_TocEntry> entries;
  if (Lib().CR_ReadToc() != 0) return entries;
  const int32_t count = Lib().CR_GetNumTocEntries();
  for (int32_t i = 0; i <= count && count > 0; ++i) entries.push_back(Lib().CR_GetTocEntry(i));
  return entries;
}

int32_t TCDIn::GetLastSessionStart() {
  TDriveHold hold(*this);
  int32_t sector = 0;
  return Lib().CR_GetLastSessionStart(&sector) == 0 ? sector : 0;
}

int TCDIn::GetTrackCount() {
  TDriveHold hold(*this);
  return Lib().CR_ReadToc() == 0 ? Lib().CR_GetNumTocEntries() : -1;
}

TCDTrackInfo TCDIn::GetTrackInfo(int Track) {
  const int count = GetTrackCount();
  if (Track < 0 || Track > count || (Track == 0 && HiddenAudioSectors() == 0))
    throw EAudioException("Track out of range.");
  TDriveHold hold(*this);
  const CR_TocEntry entry = Lib().CR_GetTocEntry(std::max(Track - 1, 0));
  const int32_t start = Track == 0 ? 0 : entry.StartSector;
  const int32_t length = TrackEndSector(Track) - start;
  TCDTrackInfo info;
  info.IsData = entry.Flag != AudioTrackFlag;
  info.Minutes = static_cast<uint8_t>(length / SectorsPerSecond / 60);
  info.Seconds = static_cast<uint8_t>(length / SectorsPerSecond % 60);
  info.Frames = static_cast<uint8_t>(length % SectorsPerSecond);
  return info;
}

std::optional<int32_t> TCDIn::TrackPregap(int Track) {
  TDriveHold hold(*this);
  int32_t pregap = 0;
  if (Track > 0 && Lib().CR_GetTrackPregap(Track - 1, &pregap) == 0) return pregap;
  return std::nullopt;
}

int32_t TCDIn::HiddenAudioSectors() {
  if (GetTrackCount() < 1) return 0;
  TDriveHold hold(*this);
  const CR_TocEntry first = Lib().CR_GetTocEntry(0);
  return first.Flag == AudioTrackFlag ? std::max(first.StartSector, 0) : 0;
}

// The first sector after Track: the start of the next TOC entry. A track whose next
// entry opens a later session ends where its own session's content ends, not at that
// entry: between them lie the session's lead-out and the next one's lead-in, 11400
// sectors that hold no audio, and each session gap belongs to no track. An image tells
// each track's session. A drive tells only where its last session starts, so there the
// rule holds for an enhanced CD (audio session, then a data track in a session of its
// own); a data track in the same session follows the audio directly.
int32_t TCDIn::TrackEndSector(int Track) {
  const CR_TocEntry next = Lib().CR_GetTocEntry(Track);
  if (Track < 1) return next.StartSector;
  const CR_TocEntry track = Lib().CR_GetTocEntry(Track - 1);
  const int32_t audioEnd = next.StartSector - SessionGapSectors;
  if (NextOpensLaterSession(track, next) && audioEnd > track.StartSector) return audioEnd;
  return next.StartSector;
}

bool TCDIn::NextOpensLaterSession(const CR_TocEntry& Track, const CR_TocEntry& Next) {
  if (Next.TrackNumber == CR_LEADOUT_TRACK) return false;
  if (Track.Session > 0 && Next.Session > 0) return Next.Session > Track.Session;
  int32_t lastSession = 0;
  return Lib().CR_GetLastSessionStart(&lastSession) == 0 && lastSession > Track.StartSector &&
         Next.StartSector == lastSession && Next.Flag != AudioTrackFlag &&
         Track.Flag == AudioTrackFlag;
}

// Track 0 starts at the disc's first sector.
int32_t TCDIn::SectorOf(const TCDPosition& At) {
  const int32_t start = At.Track < 1 ? 0 : Lib().CR_GetTocEntry(At.Track - 1).StartSector;
  return start + OffsetSectors(At);
}

// The end position names the entry after `EndTrack`.
int32_t TCDIn::EndSectorOf(const TCDPosition& At) {
  return TrackEndSector(At.Track - 1) + OffsetSectors(At);
}

void TCDIn::Open() {
  if (Busy) throw EAudioException("The component is busy");
  StopRequested_ = false;
  Rereads_ = Corrections_ = Skips_ = 0;
  if (GetDriveState() == dsNotReady) throw EAudioException("The drive is not ready");
  ThrowIfDiscChanged();
  const int count = GetTrackCount();
  const bool hidden = StartPosition_.Track == 0 && HiddenAudioSectors() > 0;
  if ((StartPosition_.Track < 1 && !hidden) || StartPosition_.Track > count)
    throw EAudioException("The start track out of range");
  if (GetTrackInfo(StartPosition_.Track).IsData)
    throw EAudioException("Trying to rip a data track");
  if (EndPosition_.Track < 1 || EndPosition_.Track > count + 1)
    throw EAudioException("The end track out of range");
  int64_t sectors = 0;
  {
    TDriveHold hold(*this);
    Lib().CR_ReadToc();
    sectors = static_cast<int64_t>(EndSectorOf(EndPosition_)) - SectorOf(StartPosition_);
  }
  // A range that holds nothing (or runs backwards) would end "Done" with an empty file;
  // one longer than a CD can address is no disc's.
  if (sectors <= 0) throw EAudioException("The track is empty: there is no audio to rip");
  if (sectors > MaxRangeSectors)
    throw EAudioException("The track is longer than a CD can hold (99:59:74)");
  BeginReadPass(static_cast<int32_t>(sectors * SectorBytes));
  OpenRipper();
}

// Takes the hold that lasts until `Close` and prepares the library's reading of the
// sectors that hold the range, as the read offset places it.
void TCDIn::OpenRipper() {
  EnterDriveHold();
  ReadHold_ = true;
  const int32_t count = Lib().CR_GetNumTocEntries();
  const int32_t leadOut = Lib().CR_GetTocEntry(count).StartSector;
  Shift_ = OffsetRead(SectorOf(StartPosition_), EndSectorOf(EndPosition_), leadOut, ReadOffset_);
  ChunkBufferSize_ = ChunkBytes;
  if (Shift_.ReadBytes > 0)
    Lib().CR_OpenRipper(&ChunkBufferSize_, Shift_.FirstSector, Shift_.EndSector);
}

int TCDIn::ReadData(void* Buffer, int BufferSize) {
  return DeliverStaged(Buffer, BufferSize, ChunkBuffer_.data(), [this] { return RipChunk(); });
}

// The next chunk of the range into the chunk buffer; its length, 0 at the end: the
// silence before the disc, the bytes read (less those before the range), the silence
// after it. An empty chunk before the read's end is a read failure: the track is not
// complete, so the run must end as failed rather than done.
int32_t TCDIn::RipChunk() {
  ThrowIfStopped();
  if (Shift_.LeadingSilence > 0) return Silence(Shift_.LeadingSilence);
  while (Shift_.ReadBytes > 0) {
    int32_t count = 0;
    int32_t abort = 0;
    Lib().CR_RipChunk(ChunkBuffer_.data(), &count, &abort);
    count = std::clamp<int32_t>(count, 0, ChunkBytes);
    ThrowIfStopped();
    if (count == 0) ThrowReadFailure(Position / SectorBytes + SectorOf(StartPosition_));
    const auto skip = static_cast<int32_t>(std::min<int64_t>(count, Shift_.SkipBytes));
    std::memmove(ChunkBuffer_.data(), ChunkBuffer_.data() + skip,
                 static_cast<size_t>(count - skip));
    Shift_.SkipBytes -= skip;
    count = static_cast<int32_t>(std::min<int64_t>(count - skip, Shift_.ReadBytes));
    Shift_.ReadBytes -= count;
    if (count > 0) return count;
  }
  return Silence(Shift_.TrailingSilence);
}

// A chunk of silence, of what is Left of it.
int32_t TCDIn::Silence(int64_t& Left) {
  const auto count = static_cast<int32_t>(std::min<int64_t>(Left, ChunkBytes));
  std::memset(ChunkBuffer_.data(), 0, static_cast<size_t>(count));
  Left -= count;
  return count;
}

// The tracks to rip are those of the disc as it was listed: another disc in the drive,
// or an image rewritten or cut short since, would be ripped as what it is now.
void TCDIn::ThrowIfDiscChanged() {
  TDriveHold hold(*this);
  if (Lib().CR_CheckDisc() == 1)
    throw EAudioException(
        "The disc changed since its tracks were listed. List the drive again and rip the "
        "track anew.");
}

// The library's active drive is chosen per thread: this thread chooses this source's
// drive before it stops that drive's read.
void TCDIn::RequestStop() {
  StopRequested_ = true;
  Lib().CR_SetActiveCDROM(CurrentDrive_.load());
  Lib().CR_RequestStop();
}

bool TCDIn::Eject() {
  TDriveHold hold(*this);
  return Lib().CR_EjectDisc() == 0;
}

// A stopped read ends the track as failed, never as complete.
void TCDIn::ThrowIfStopped() {
  if (StopRequested_) throw EAudioException("The read was stopped.");
}

// A disc image whose files changed is named as such, not as a drive's fault. A drive that
// holds no disc any more had its tray opened (or its disc taken) during
// the read, and the sector where reading stopped says nothing; otherwise the sector the
// drive refused (or verification gave up) is named, else the one where delivery ended.
void TCDIn::ThrowReadFailure(int32_t Sector) {
  std::error_code error;
  if (std::filesystem::is_regular_file(CDRipDriveName(CurrentDrive_.load()), error) &&
      Lib().CR_CheckDisc() != 0)
    throw EAudioException(
        "The disc image changed during the read: its files were rewritten, moved or cut "
        "short. Rip the track again once the image is whole.");
  int32_t status = 0;
  Lib().CR_IsMediaLoaded(&status);
  if (status != 0)
    throw EAudioException(
        "The drive's tray was opened, or its disc taken out, during the read. Put the disc "
        "back and rip the track again.");
  Lib().CR_GetFailedSector(&Sector);
  throw EAudioException("The disc could not be read at sector " + std::to_string(Sector) +
                        ". Clean the disc, or try another drive, and rip the track again.");
}

void TCDIn::KeepReadReport() {
  CR_ReadReport report{};
  if (Lib().CR_GetReadReport(&report) != 0) report = CR_ReadReport{};
  Rereads_ = report.Rereads;
  Corrections_ = report.Corrections;
  Skips_ = report.Skips;
  std::string messages =
      CopiedText([&](char* Buffer, int32_t Room) { return Lib().CR_GetMessages(Buffer, Room); });
  std::lock_guard<std::mutex> hold(MessagesLock_);
  Messages_ = std::move(messages);
}

TCDReadReport TCDIn::LastReadReport() const {
  return TCDReadReport{Rereads_.load(), Corrections_.load(), Skips_.load()};
}

std::string TCDIn::LastReadMessages() const {
  std::lock_guard<std::mutex> hold(MessagesLock_);
  return Messages_;
}

// Only the source that opened the library's ripper closes it: the library has one per
// drive, and a `Close` of an idle source must not end another source's read.
void TCDIn::Close() {
  if (ReadHold_) {
    KeepReadReport();
    Lib().CR_CloseRipper();
    ReadHold_ = false;
    LeaveDriveHold();
  }
  Busy = false;
  Size = 0;
}

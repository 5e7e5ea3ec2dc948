// Unit `Audio_CDROM`: `TCDIn`, the source that reads audio-CD tracks through the CD
// ripping library (binding unit `CDRip`) and delivers them as 16-bit stereo PCM at
// 44100 Hz.
//
// Threads: the window thread creates the source, sets its properties, asks for drive
// and track information and calls `Open` (through the output's `Start`); the output's
// worker thread calls `ReadData` and `Close`. They never overlap; the drive hold count
// is atomic all the same, so a window-thread query during a run stays well defined.
// `RequestStop` may come from any thread at any time (a stop of the run, a signal's
// handler thread): it ends the open read within one drive command.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bindings/cdrip_binding.h"
#include "cdrom/read_offset.h"
#include "core/audio_classes.h"

enum TCDDriveState { dsNotReady = 0, dsReady = 1, dsPlayingAudio = 2 };

// The length of a track and whether it holds data.
struct TCDTrackInfo {
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t Frames = 0;
  bool IsData = false;
};

// What reading a track met on a CD drive: reads repeated, samples repaired, sectors
// given up. All zero for disc images.
struct TCDReadReport {
  int32_t Rereads = 0;
  int32_t Corrections = 0;
  int32_t Skips = 0;
  bool Clean() const { return Rereads == 0 && Corrections == 0 && Skips == 0; }
};

// A place on the disc: the start of a TOC entry's track plus a time offset.
struct TCDPosition {
  int32_t Track = 0;
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t Frames = 0;
};

class TCDIn : public TAudioInput {
 public:
  static constexpr int32_t SectorBytes = 2352;
  static constexpr int32_t ChunkBytes = 176400;  // one second: 75 sectors
  // Lead-out, lead-in and pregap between the sessions of a multi-session disc.
  static constexpr int32_t SessionGapSectors = 11400;
  // The most sectors a read may span: what a CD addresses, 99:59:74 less the 150
  // sectors before LSN 0. Its bytes fit `Size`.
  static constexpr int32_t MaxRangeSectors = (99 * 60 + 59) * 75 + 75 - 150;

  // Loads the CD ripping library with the program's folder; raises
  // "libcdrip.so could not be loaded." when it cannot.
  TCDIn();
  ~TCDIn() override;

  int CurrentDrive() const { return CurrentDrive_; }
  // Ignored when Value is no drive of the library.
  void SetCurrentDrive(int Value);
  // Start and end track 0: the audio before track 1 (see `GetTrackInfo`).
  int StartTrack() const { return StartTrack_; }
  void SetStartTrack(int Value);
  int EndTrack() const { return EndTrack_; }
  void SetEndTrack(int Value);
  // The drive's read offset in samples, corrected from the next `Open` on: delivered
  // sample s is the drive's sample s + ReadOffset (silence outside the disc).
  int ReadOffset() const { return ReadOffset_; }
  void SetReadOffset(int Samples) { ReadOffset_ = Samples; }
  // The read offset that cdr.ini gives the current drive (0 when none): by its model,
  // else by its path (links resolved).
  int DriveReadOffset();
  // The current drive's vendor and model ("VENDOR Model"); empty for images.
  std::string DriveModel();
  // The current drive's firmware revision; empty for images.
  std::string DriveRevision();
  // How CD drives are read, as cdr.ini sets it ("paranoia full (verify, overlap,
  // repair), a sector given up after 20 failed reads").
  std::string DriveReadMode();

  int DriveCount();
  TCDDriveState GetDriveState();
  // The number of tracks; -1 when the table of contents cannot be read.
  int GetTrackCount();
  // Track 0 is the audio before track 1's INDEX 01 (hidden track one audio): from the
  // disc's first sector to track 1's start. It is out of range, as a read's start too,
  // on a disc without it.
  TCDTrackInfo GetTrackInfo(int Track);
  // The track's pre-gap in sectors, before its INDEX 01 (for track 1, its start);
  // nothing when it is not known. The first call for a drive's disc searches its
  // sub-channel, some reads per track: ask it only for the log and the cue sheet.
  std::optional<int32_t> TrackPregap(int Track);
  // The sectors of audio before track 1's INDEX 01: track 1's start when it is an audio
  // track; 0 when it starts the disc, is data, or the table cannot be read.
  int32_t HiddenAudioSectors();
  // A text of the disc (Track 0) or of a track (CR_TEXT_TITLE and its kin): the drive's
  // CD-Text, or the cue sheet's; empty when there is none.
  std::string GetCdText(int Track, int Field);
  // The table as the library reads it: the tracks' entries, then the lead-out's; and
  // where the last session begins (0: one session). Empty without a table.
  std::vector<CR_TocEntry> GetTocEntries();
  int32_t GetLastSessionStart();

  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  int ReadData(void* Buffer, int BufferSize) override;
  // `Open` fails "The disc changed since its tracks were listed..." when the drive holds
  // another disc than at the last listing of its tracks (`GetTrackCount`,
  // `GetTocEntries`, `GetCdText`), or an image whose files changed since.
  void Open() override;
  void Close() override;
  // What the last read (from `Open` to `Close`) met; any thread, once the read ended.
  TCDReadReport LastReadReport() const;
  // What the CD and paranoia layers said during the last read (its opening included),
  // one message a line, for the rip log; any thread, once the read ended.
  std::string LastReadMessages() const;
  // Ends the open read soon, from any thread, without waiting: a read of the drive in
  // progress is interrupted (a read stuck on a bad spot too), and `ReadData` raises
  // "The read was stopped." instead of delivering more, so that a stopped track never
  // ends as done. The next `Open` starts afresh.
  void RequestStop();
  // Ejects the current drive's disc; false when it cannot (a disc image).
  bool Eject();
  bool StopRequested() const { return StopRequested_; }

 private:
  // Selects this source's drive in the library for as long as it lives; nested holds
  // select it once.
  class TDriveHold {
   public:
    explicit TDriveHold(TCDIn& Owner) : Owner_(Owner) { Owner_.EnterDriveHold(); }
    ~TDriveHold() { Owner_.LeaveDriveHold(); }
    TDriveHold(const TDriveHold&) = delete;
    TDriveHold& operator=(const TDriveHold&) = delete;

   private:
    TCDIn& Owner_;
  };

  void EnterDriveHold();
  void LeaveDriveHold();
  const TCDRipFunctions& Lib() const { return Library_->Functions(); }
  int32_t SectorOf(const TCDPosition& At);
  int32_t EndSectorOf(const TCDPosition& At);
  int32_t TrackEndSector(int Track);
  bool NextOpensLaterSession(const CR_TocEntry& Track, const CR_TocEntry& Next);
  void OpenRipper();
  int32_t RipChunk();
  int32_t Silence(int64_t& Left);
  [[noreturn]] void ThrowReadFailure(int32_t Sector);
  void ThrowIfStopped();
  void ThrowIfDiscChanged();
  void KeepReadReport();

  std::shared_ptr<const TCDRipLibrary> Library_;
  std::atomic<int32_t> DriveHoldCount_{0};
  std::atomic<std::thread::id> HoldThread_{};  // the thread that took the outermost hold
  std::atomic<int> CurrentDrive_{0};           // read by a stop from another thread
  int StartTrack_ = 0;
  int EndTrack_ = 0;
  TCDPosition StartPosition_;
  TCDPosition EndPosition_;
  // True from `Open` to `Close`: the hold that the open read keeps.
  bool ReadHold_ = false;
  std::array<uint8_t, ChunkBytes> ChunkBuffer_{};
  static_assert(int64_t{MaxRangeSectors} * SectorBytes <= INT32_MAX, "a read's size fits Size");
  int32_t ChunkBufferSize_ = ChunkBytes;
  int ReadOffset_ = 0;
  TOffsetRead Shift_;  // what the open read still has to deliver
  // Written by the worker at `Close`, read by the window thread after the run.
  std::atomic<int32_t> Rereads_{0}, Corrections_{0}, Skips_{0};
  mutable std::mutex MessagesLock_;
  std::string Messages_;  // of the last read, as `Close` kept them
  std::atomic<bool> StopRequested_{false};
};

// The pages an Ogg output (Vorbis, Opus) has written, kept so that a stream that a full
// disk cut short can still be ended properly: at its last whole audio page, which
// becomes the end-of-stream page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/file_stream.h"

// The Ogg page checksum: CRC-32 with the polynomial 0x04C11DB7, no reflection, starting
// from 0, over the page with its checksum field zeroed.
uint32_t OggPageChecksum(const uint8_t* Page, size_t Length);

class TOggPageLog {
 public:
  // A page of Length bytes (Header: its header, at least 27 bytes and the segment table)
  // written at Offset; Audio when audio packets end on it.
  void Written(int64_t Offset, const uint8_t* Header, int64_t Length, bool Audio);
  void Clear() { Pages_ = std::vector<TPage>(); }
  // True when Stream holds whole an audio page on which a packet ends.
  bool HoldsAudio(const TFileStream& Stream) const { return LastWholeAudioPage(Stream) != nullptr; }
  // Cuts Stream after that page and sets its end-of-stream flag, with its checksum made
  // anew; needs no room on the disk. Nothing when there is no such page.
  void EndAtLastWholePage(TFileStream& Stream) const;

 private:
  struct TPage {
    int64_t Offset;
    int64_t Length;
    bool Audio;
    bool EndsAPacket;  // its last packet ends on it, so the stream may end there
  };
  const TPage* LastWholeAudioPage(const TFileStream& Stream) const;

  std::vector<TPage> Pages_;
};

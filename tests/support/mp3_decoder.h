// Reading back MP3 files: frames and samples through libmad (which we did not write),
// the information frame and the ID3 tags from the bytes themselves.
#pragma once

#include <mad.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace mp3test {

// The bytes of a whole file.
inline std::vector<uint8_t> ReadFile(const std::string& Path) { return ReadWholeFile(Path); }

inline uint32_t BigEndian32(const uint8_t* Bytes) {
  return (uint32_t{Bytes[0]} << 24) | (uint32_t{Bytes[1]} << 16) | (uint32_t{Bytes[2]} << 8) |
         Bytes[3];
}

// The fields of an ID3v1 tag (the last 128 bytes of the file, starting "TAG").
struct TId3v1 {
  std::string Title, Artist, Album, Year, Comment;
  int Track = 0;  // 0 = none (ID3v1.0)
  int Genre = 255;
};

inline std::string TagField(const uint8_t* Bytes, size_t Length) {
  std::string text(reinterpret_cast<const char*>(Bytes), Length);
  text.resize(std::strlen(text.c_str()));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

inline std::optional<TId3v1> ReadId3v1(const std::vector<uint8_t>& File) {
  if (File.size() < 128) return std::nullopt;
  const uint8_t* tag = File.data() + File.size() - 128;
  if (std::memcmp(tag, "TAG", 3) != 0) return std::nullopt;
  TId3v1 fields;
  fields.Title = TagField(tag + 3, 30);
  fields.Artist = TagField(tag + 33, 30);
  fields.Album = TagField(tag + 63, 30);
  fields.Year = TagField(tag + 93, 4);
  const bool hasTrack = tag[125] == 0 && tag[126] != 0;
  fields.Comment = TagField(tag + 97, hasTrack ? 28 : 30);
  fields.Track = hasTrack ? tag[126] : 0;
  fields.Genre = tag[127];
  return fields;
}

// The audio bytes: the file less an ID3v2 tag at its start and an ID3v1 tag at its end.
inline size_t Id3v2Length(const std::vector<uint8_t>& File) {
  if (File.size() < 10 || std::memcmp(File.data(), "ID3", 3) != 0) return 0;
  size_t size = 0;
  for (int i = 6; i < 10; ++i) size = (size << 7) | (File[i] & 0x7F);
  return 10 + size + ((File[5] & 0x10) ? 10 : 0);
}

inline std::vector<uint8_t> AudioBytes(const std::vector<uint8_t>& File) {
  const size_t start = Id3v2Length(File);
  size_t end = File.size();
  if (ReadId3v1(File)) end -= 128;
  if (start >= end) return {};
  return std::vector<uint8_t>(File.begin() + static_cast<std::ptrdiff_t>(start),
                              File.begin() + static_cast<std::ptrdiff_t>(end));
}

// The information frame at the start of the audio: a frame whose data holds "Xing"
// (VBR) or "Info" (CBR), the frame count and, in the encoder's extension, its delay
// and padding in samples.
struct TInfoFrame {
  bool Vbr = false;
  std::optional<uint32_t> Frames;
  std::optional<uint32_t> Bytes;
  std::optional<int> Delay, Padding;
};

inline std::optional<TInfoFrame> ReadInfoFrame(const std::vector<uint8_t>& Audio) {
  const size_t searchEnd = std::min<size_t>(Audio.size(), 64);
  for (size_t at = 4; at + 8 <= searchEnd; ++at) {
    const bool xing = std::memcmp(&Audio[at], "Xing", 4) == 0;
    if (!xing && std::memcmp(&Audio[at], "Info", 4) != 0) continue;
    TInfoFrame info;
    info.Vbr = xing;
    const uint32_t flags = BigEndian32(&Audio[at + 4]);
    size_t field = at + 8;
    auto next32 = [&]() -> std::optional<uint32_t> {
      if (field + 4 > Audio.size()) return std::nullopt;
      const uint32_t value = BigEndian32(&Audio[field]);
      field += 4;
      return value;
    };
    if (flags & 1) info.Frames = next32();
    if (flags & 2) info.Bytes = next32();
    if (flags & 4) field += 100;  // seek table
    if (flags & 8) field += 4;    // quality
    // The encoder's extension: a 9-byte version, then delay and padding 21 bytes on.
    if (field + 24 <= Audio.size() && Audio[field] == 'L' && Audio[field + 1] == 'A') {
      const uint8_t* d = &Audio[field + 21];
      info.Delay = (d[0] << 4) | (d[1] >> 4);
      info.Padding = ((d[1] & 0x0F) << 8) | d[2];
    }
    return info;
  }
  return std::nullopt;
}

struct TFrame {
  int Kbps = 0;
  mad_mode Mode = MAD_MODE_STEREO;
  int Flags = 0;
  int SampleRate = 0;
  int Samples = 0;
};

struct TDecoded {
  std::vector<TFrame> Frames;
  std::vector<int16_t> Left, Right;  // Right stays empty for single-channel frames
  int LostFrames = 0;                // frames that failed to decode
  int SampleCount() const { return static_cast<int>(Left.size()); }
};

inline int16_t ToSample(mad_fixed_t Value) {
  Value += (1L << (MAD_F_FRACBITS - 16));
  Value = std::clamp<mad_fixed_t>(Value, -MAD_F_ONE, MAD_F_ONE - 1);
  return static_cast<int16_t>(Value >> (MAD_F_FRACBITS + 1 - 16));
}

// Decodes every frame of Audio (tags already removed) with libmad.
inline TDecoded Decode(std::vector<uint8_t> Audio) {
  TDecoded out;
  const size_t audioSize = Audio.size();
  Audio.resize(audioSize + MAD_BUFFER_GUARD, 0);
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  mad_stream_init(&stream);
  mad_frame_init(&frame);
  mad_synth_init(&synth);
  mad_stream_buffer(&stream, Audio.data(), Audio.size());
  while (true) {
    if (mad_frame_decode(&frame, &stream) == -1) {
      if (stream.error == MAD_ERROR_BUFLEN) break;
      if (!MAD_RECOVERABLE(stream.error)) break;
      // Losing sync in the guard bytes after the last frame is the normal end.
      const size_t at = static_cast<size_t>(stream.this_frame - Audio.data());
      if (stream.error != MAD_ERROR_LOSTSYNC || at < audioSize) ++out.LostFrames;
      continue;
    }
    mad_synth_frame(&synth, &frame);
    TFrame info;
    info.Kbps = static_cast<int>(frame.header.bitrate / 1000);
    info.Mode = frame.header.mode;
    info.Flags = frame.header.flags;
    info.SampleRate = static_cast<int>(frame.header.samplerate);
    info.Samples = synth.pcm.length;
    out.Frames.push_back(info);
    for (int i = 0; i < synth.pcm.length; ++i) {
      out.Left.push_back(ToSample(synth.pcm.samples[0][i]));
      if (synth.pcm.channels == 2) out.Right.push_back(ToSample(synth.pcm.samples[1][i]));
    }
  }
  mad_synth_finish(&synth);
  mad_frame_finish(&frame);
  mad_stream_finish(&stream);
  return out;
}

// Decodes the audio of an MP3 file, its tags left out.
inline TDecoded DecodeFile(const std::string& Path) {
  return Decode(AudioBytes(ReadWholeFile(Path)));
}

}  // namespace mp3test

// Reading back Ogg Vorbis files: every logical stream decoded with libvorbisfile
// (which we did not write), and the raw Ogg pages as they lie in the file.
#pragma once

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace VorbisTest {

// One logical stream of a decoded file.
struct TDecodedLink {
  int Channels = 0;
  long Rate = 0;
  long Upper = 0, Nominal = 0, Lower = 0;
  std::vector<std::string> Comments;
  int64_t PcmTotal = -1;         // frames, as the stream's last granule position says
  std::vector<int16_t> Samples;  // interleaved, as decoded
  int64_t Frames() const { return Channels ? static_cast<int64_t>(Samples.size()) / Channels : 0; }
};

struct TDecodedFile {
  int OpenResult = -1;  // 0 when libvorbisfile accepted the file
  std::vector<TDecodedLink> Links;
};

inline TDecodedFile Decode(const std::string& Path) {
  TDecodedFile file;
  OggVorbis_File vf;
  file.OpenResult = ov_fopen(Path.c_str(), &vf);
  if (file.OpenResult != 0) return file;
  const long links = ov_streams(&vf);
  for (int i = 0; i < links; ++i) {
    TDecodedLink link;
    const vorbis_info* info = ov_info(&vf, i);
    link.Channels = info->channels;
    link.Rate = info->rate;
    link.Upper = info->bitrate_upper;
    link.Nominal = info->bitrate_nominal;
    link.Lower = info->bitrate_lower;
    const vorbis_comment* comment = ov_comment(&vf, i);
    for (int c = 0; c < comment->comments; ++c)
      link.Comments.emplace_back(comment->user_comments[c],
                                 static_cast<size_t>(comment->comment_lengths[c]));
    link.PcmTotal = ov_pcm_total(&vf, i);
    file.Links.push_back(std::move(link));
  }
  // libvorbisfile opens a chained file positioned at the start of its last stream;
  // decoding starts from the beginning of the file instead.
  if (links > 1) {
    EXPECT_EQ(ov_raw_seek(&vf, 0), 0);
  }
  char buffer[8192];
  int section = 0;
  long n;
  while ((n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section)) != 0) {
    if (n == OV_HOLE) continue;
    if (n < 0) {
      ADD_FAILURE() << "decoding failed: " << n;
      break;
    }
    auto& samples = file.Links.at(static_cast<size_t>(section)).Samples;
    const auto* values = reinterpret_cast<const int16_t*>(buffer);
    samples.insert(samples.end(), values, values + n / 2);
  }
  ov_clear(&vf);
  return file;
}

// One Ogg page as it lies in the file.
struct TOggPage {
  uint8_t Flags = 0;  // 0x01 continued packet, 0x02 first page, 0x04 last page
  int64_t Granule = 0;
  uint32_t Serial = 0;
  std::vector<uint8_t> Lacing;  // the segment table
};

inline std::vector<TOggPage> ReadPages(const std::string& Path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(Path);
  const auto le = [&bytes](size_t At, int Count) {
    uint64_t value = 0;
    for (int i = Count - 1; i >= 0; --i) value = (value << 8) | bytes[At + static_cast<size_t>(i)];
    return value;
  };
  std::vector<TOggPage> pages;
  size_t at = 0;
  while (at + 27 <= bytes.size() && std::equal(bytes.begin() + static_cast<long>(at),
                                               bytes.begin() + static_cast<long>(at) + 4, "OggS")) {
    TOggPage page;
    page.Flags = bytes[at + 5];
    page.Granule = static_cast<int64_t>(le(at + 6, 8));
    page.Serial = static_cast<uint32_t>(le(at + 14, 4));
    const size_t segments = bytes[at + 26];
    if (at + 27 + segments > bytes.size()) break;
    page.Lacing.assign(bytes.begin() + static_cast<long>(at + 27),
                       bytes.begin() + static_cast<long>(at + 27 + segments));
    size_t body = 0;
    for (uint8_t l : page.Lacing) body += l;
    at += 27 + segments + body;
    if (at > bytes.size()) break;
    pages.push_back(std::move(page));
  }
  EXPECT_EQ(at, bytes.size()) << "the file holds something that is not an Ogg page";
  return pages;
}

}  // namespace VorbisTest

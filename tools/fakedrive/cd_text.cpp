// The disc's texts as CD-Text packs, as READ TOC/PMA/ATIP format 5 returns them: one
// block (ISO-8859-1, English) of 18-byte packs, each with its CRC, then the block's
// size information.
#include <algorithm>
#include <array>

#include "fake_drive.h"

namespace fakedrive {
namespace {

constexpr int PackBytes = 18;
constexpr int PayloadBytes = 12;

// CRC-16 (x^16 + x^12 + x^5 + 1) of a pack's first 16 bytes, stored inverted.
void SealPack(uint8_t* Pack) {
  uint16_t crc = 0;
  for (int i = 0; i < 16; ++i) {
    crc ^= static_cast<uint16_t>(Pack[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  crc = static_cast<uint16_t>(~crc);
  Pack[16] = static_cast<uint8_t>(crc >> 8);
  Pack[17] = static_cast<uint8_t>(crc);
}

// UTF-8 as Latin-1; characters beyond it become '?'.
std::string Latin1(const std::string& Utf8) {
  std::string out;
  for (size_t i = 0; i < Utf8.size();) {
    const auto lead = static_cast<unsigned char>(Utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
    } else if ((lead >> 5) == 6 && i + 1 < Utf8.size()) {
      const unsigned code = ((lead & 0x1F) << 6) | (static_cast<unsigned char>(Utf8[i + 1]) & 0x3F);
      out += code < 0x100 ? static_cast<char>(code) : '?';
      i += 2;
    } else {
      out += '?';
      i += (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 1;
    }
  }
  return out;
}

class PackWriter {
 public:
  // The strings of one pack type, one per entry (track 0 = the disc), each followed by
  // its terminating zero, cut into packs.
  void Add(uint8_t Type, const std::vector<std::pair<int, std::string>>& Strings) {
    std::vector<std::pair<int, int>> owners;  // per byte: track, position in its string
    std::string bytes;
    for (const auto& [track, text] : Strings) {
      const std::string value = text + '\0';
      for (size_t i = 0; i < value.size(); ++i) owners.emplace_back(track, static_cast<int>(i));
      bytes += value;
    }
    for (size_t at = 0; at < bytes.size(); at += PayloadBytes) {
      const auto [track, position] = owners[at];
      uint8_t* pack = NewPack(Type, static_cast<uint8_t>(track));
      pack[3] = static_cast<uint8_t>(std::min(position, 15));
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  std::min<size_t>(PayloadBytes, bytes.size() - at), pack + 4);
      ++Counts_[Type - 0x80];
    }
  }

  // The three size-information packs close the block.
  std::vector<uint8_t> Finish(uint8_t FirstTrack, uint8_t LastTrack) {
    Counts_[0x0F] = 3;
    const auto lastSequence = static_cast<uint8_t>(Sequence_ + 2);
    uint8_t info[36] = {0x00, FirstTrack, LastTrack, 0x00};
    std::copy(Counts_.begin(), Counts_.end(), info + 4);
    info[20] = lastSequence;
    info[28] = 0x09;  // English
    for (int i = 0; i < 3; ++i) {
      uint8_t* pack = NewPack(0x8F, static_cast<uint8_t>(i));
      std::copy_n(info + i * PayloadBytes, PayloadBytes, pack + 4);
    }
    for (size_t at = 0; at < Packs_.size(); at += PackBytes) SealPack(&Packs_[at]);
    return Packs_;
  }

 private:
  uint8_t* NewPack(uint8_t Type, uint8_t Track) {
    Packs_.resize(Packs_.size() + PackBytes, 0);
    uint8_t* pack = &Packs_[Packs_.size() - PackBytes];
    pack[0] = Type;
    pack[1] = Track;
    pack[2] = Sequence_++;
    return pack;
  }

  std::vector<uint8_t> Packs_;
  std::array<uint8_t, 16> Counts_{};
  uint8_t Sequence_ = 0;
};

}  // namespace

std::vector<uint8_t> CdTextPacks(const cdrip::Toc& Toc) {
  if (Toc.Text.Entries.empty() || Toc.Tracks.empty()) return {};
  PackWriter writer;
  const std::pair<uint8_t, cdrip::TextField> kinds[] = {{0x80, cdrip::TextField::Title},
                                                        {0x81, cdrip::TextField::Performer},
                                                        {0x82, cdrip::TextField::Songwriter}};
  for (const auto& [type, field] : kinds) {
    std::vector<std::pair<int, std::string>> strings{{0, Latin1(Toc.Text.Get(0, field))}};
    bool any = !strings.front().second.empty();
    for (const cdrip::TrackEntry& track : Toc.Tracks) {
      strings.emplace_back(track.Number, Latin1(Toc.Text.Get(track.Number, field)));
      any = any || !strings.back().second.empty();
    }
    if (any) writer.Add(type, strings);
  }
  // The genre pack: a genre code (0: not used), then the disc's genre as text.
  const std::string genre = Latin1(Toc.Text.Get(0, cdrip::TextField::Genre));
  if (!genre.empty()) writer.Add(0x87, {{0, std::string("\0\0", 2) + genre}});
  return writer.Finish(Toc.Tracks.front().Number, Toc.Tracks.back().Number);
}

}  // namespace fakedrive

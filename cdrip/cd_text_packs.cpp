#include "cd_text_packs.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <vector>

#include "text_case.h"

namespace cdrip {
namespace {

constexpr size_t PackBytes = 18;
constexpr size_t PayloadBytes = 12;
constexpr int Blocks = 8;
constexpr uint8_t SizeInfoType = 0x8F;
constexpr uint8_t GenreType = 0x87;
constexpr uint8_t EnglishLanguage = 0x09;
constexpr uint8_t TabMark = 0x09;

struct Pack {
  uint8_t Type = 0;
  int Track = 0;  // the track of the pack's first character (0: the disc)
  uint8_t Sequence = 0;
  int Position = 0;  // characters of that track's string in earlier packs, at most 15
  const uint8_t* Payload = nullptr;
};

struct Block {
  std::vector<Pack> Packs;  // in sequence order
  bool DoubleByte = false;
  std::array<uint8_t, 36> SizeInfo{};
  int SizeInfoParts = 0;  // bit per size-information pack found
};

// CRC-16 (x^16 + x^12 + x^5 + 1) of the first 16 bytes, as the pack stores it: inverted.
// Drives that do not pass the CRC on give zeros in its place.
uint16_t PackCrc(const uint8_t* Bytes) {
  uint16_t crc = 0;
  for (size_t i = 0; i < 16; ++i) {
    crc ^= static_cast<uint16_t>(Bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<uint16_t>(~crc);
}

uint16_t StoredCrc(const uint8_t* Bytes) {
  return static_cast<uint16_t>(Bytes[16] << 8 | Bytes[17]);
}

// The intact packs by block; Dropped counts those that failed their CRC or are no
// CD-Text pack at all.
std::array<Block, Blocks> SortPacks(const uint8_t* Data, size_t Count, int& Dropped) {
  bool crcsGiven = false;
  for (size_t i = 0; i < Count; ++i) crcsGiven = crcsGiven || StoredCrc(Data + i * PackBytes) != 0;
  std::array<Block, Blocks> blocks;
  for (size_t i = 0; i < Count; ++i) {
    const uint8_t* bytes = Data + i * PackBytes;
    const bool extension = bytes[1] & 0x80;
    if (bytes[0] < 0x80 || bytes[0] > 0x8F || (crcsGiven && StoredCrc(bytes) != PackCrc(bytes))) {
      ++Dropped;
      continue;
    }
    if (extension) continue;  // extension packs carry no strings of their own
    Block& block = blocks[(bytes[3] >> 4) & 0x07];
    const Pack pack{bytes[0], bytes[1] & 0x7F, bytes[2], bytes[3] & 0x0F, bytes + 4};
    if (pack.Type == SizeInfoType) {
      if (pack.Track > 2) continue;
      std::copy_n(pack.Payload, PayloadBytes, block.SizeInfo.begin() + pack.Track * PayloadBytes);
      block.SizeInfoParts |= 1 << pack.Track;
      continue;
    }
    block.DoubleByte = block.DoubleByte || (bytes[3] & 0x80);
    block.Packs.push_back(pack);
  }
  return blocks;
}

// The character set a block's size information gives: 0x00 ISO-8859-1, 0x01 ASCII,
// 0x80 MS-JIS, 0x81 Korean, 0x82 Mandarin Chinese. A block without its first size pack is
// taken as ISO-8859-1, or as double-byte where its packs say so.
uint8_t CharacterSet(const Block& Block) {
  if (Block.SizeInfoParts & 1) return Block.SizeInfo[0];
  return Block.DoubleByte ? 0x80 : 0x00;
}

bool Readable(const Block& Block) {
  const uint8_t set = CharacterSet(Block);
  return !Block.DoubleByte && (set == 0x00 || set == 0x01);
}

std::string CharacterSetName(uint8_t Set) {
  switch (Set) {
    case 0x80: return "MS-JIS";
    case 0x81: return "Korean";
    case 0x82: return "Mandarin Chinese";
    default: return "an unknown character set (code " + std::to_string(Set) + ")";
  }
}

// The language of block Index, as any block's size information lists all blocks'.
std::optional<uint8_t> LanguageOf(const std::array<Block, Blocks>& All, int Index) {
  for (const Block& block : All)
    if (block.SizeInfoParts & 4) return block.SizeInfo[28 + Index];
  return std::nullopt;
}

// The block read: the first readable one in English, else the first readable one.
std::optional<int> ChooseBlock(const std::array<Block, Blocks>& All) {
  std::optional<int> first;
  for (int index = 0; index < Blocks; ++index) {
    if (All[index].Packs.empty() || !Readable(All[index])) continue;
    if (LanguageOf(All, index) == EnglishLanguage) return index;
    if (!first) first = index;
  }
  return first;
}

// The strings of one pack type, by track, as bytes. A string runs on from pack to pack
// until its terminating zero; after a pack that is missing, the strings it touched are
// lost, and reading resumes at the next string that starts whole (position 0).
std::map<int, std::string> StringsOf(const std::vector<Pack>& Packs, uint8_t Type) {
  std::map<int, std::string> strings;
  int track = -1;
  std::string current;
  bool whole = false;
  std::optional<uint8_t> lastSequence;
  for (const Pack& pack : Packs) {
    if (pack.Type != Type) continue;
    const bool follows = lastSequence && pack.Sequence == static_cast<uint8_t>(*lastSequence + 1) &&
                         pack.Track == track &&
                         pack.Position == static_cast<int>(std::min<size_t>(current.size(), 15));
    if (!follows) {
      track = pack.Track;
      current.clear();
      whole = pack.Position == 0;
    }
    lastSequence = pack.Sequence;
    for (size_t i = 0; i < PayloadBytes; ++i) {
      const auto byte = static_cast<char>(pack.Payload[i]);
      if (byte != '\0') {
        current += byte;
        continue;
      }
      if (whole && track <= 99) {
        // A lone tab stands for the string of the track before.
        const auto before = strings.find(track - 1);
        const bool same = current.size() == 1 && current[0] == TabMark;
        strings[track] =
            same ? (before == strings.end() ? std::string() : before->second) : current;
      }
      ++track;
      current.clear();
      whole = true;
    }
  }
  return strings;
}

// The genre pack holds the disc's genre code (two bytes), then its genre as text.
std::string GenreText(const std::vector<Pack>& Packs) {
  std::string bytes;
  std::optional<uint8_t> lastSequence;
  for (const Pack& pack : Packs) {
    if (pack.Type != GenreType) continue;
    const bool starts = !lastSequence && pack.Track == 0 && pack.Position == 0;
    const bool follows = lastSequence && pack.Sequence == static_cast<uint8_t>(*lastSequence + 1);
    if (!starts && !follows) break;
    bytes.append(reinterpret_cast<const char*>(pack.Payload), PayloadBytes);
    lastSequence = pack.Sequence;
  }
  if (bytes.size() <= 2) return std::string();
  const std::string text = bytes.substr(2);
  return text.substr(0, text.find('\0'));
}

std::string AsUtf8(const std::string& Bytes, uint8_t Set) {
  if (Set == 0x00) return PrintableText(Latin1ToUtf8(Bytes));
  std::string ascii = Bytes;
  for (char& c : ascii)
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  return PrintableText(ascii);
}

void AddNote(std::string& Note, const std::string& Sentence) {
  Note += Note.empty() ? Sentence : " " + Sentence;
}

}  // namespace

CdTextReading ParseCdTextPacks(const uint8_t* Packs, size_t Size) {
  CdTextReading reading;
  int dropped = 0;
  const std::array<Block, Blocks> blocks = SortPacks(Packs, Size / PackBytes, dropped);
  if (dropped > 0)
    AddNote(reading.Note, std::to_string(dropped) +
                              " CD-Text packs were damaged and left out, with the texts they "
                              "carried.");
  const std::optional<int> chosen = ChooseBlock(blocks);
  if (!chosen) {
    for (const Block& block : blocks)
      if (!block.Packs.empty()) {
        AddNote(reading.Note, "The disc's CD-Text is in " + CharacterSetName(CharacterSet(block)) +
                                  ", which Korvane cannot read; its texts are left out.");
        break;
      }
    return reading;
  }
  const Block& block = blocks[*chosen];
  const uint8_t set = CharacterSet(block);
  const std::pair<uint8_t, TextField> fields[] = {
      {0x80, TextField::Title}, {0x81, TextField::Performer}, {0x82, TextField::Songwriter}};
  for (const auto& [type, field] : fields)
    for (const auto& [track, bytes] : StringsOf(block.Packs, type))
      reading.Text.Set(track, field, AsUtf8(bytes, set));
  reading.Text.Set(0, TextField::Genre, AsUtf8(GenreText(block.Packs), set));
  return reading;
}

}  // namespace cdrip

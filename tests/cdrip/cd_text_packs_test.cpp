// The CD-Text pack parser on packs made here as a disc's lead-in holds them.
#include "cd_text_packs.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using cdrip::TextField;

// Packs of the strings of one type, the disc's first, each ended by a zero (two in
// double-byte blocks), then each pack's CRC; size information as asked.
class Packs {
 public:
  Packs& Strings(uint8_t Type, std::vector<std::string> Texts, int Block = 0, bool Double = false) {
    std::string bytes;
    std::vector<std::pair<int, int>> owners;  // per byte: track, character in its string
    for (size_t track = 0; track < Texts.size(); ++track) {
      const std::string text = Texts[track] + std::string(Double ? 2 : 1, '\0');
      for (size_t i = 0; i < text.size(); ++i)
        owners.emplace_back(static_cast<int>(track), static_cast<int>(i / (Double ? 2 : 1)));
      bytes += text;
    }
    for (size_t at = 0; at < bytes.size(); at += 12) {
      uint8_t* pack = Add(Type, owners[at].first, Block);
      pack[3] |= static_cast<uint8_t>(std::min(owners[at].second, 15) | (Double ? 0x80 : 0));
      bytes.copy(reinterpret_cast<char*>(pack + 4), 12, at);
    }
    return *this;
  }
  Packs& SizeInfo(int Block, uint8_t CharacterSet, std::vector<uint8_t> Languages) {
    uint8_t info[36] = {CharacterSet, 1, 3};
    std::copy(Languages.begin(), Languages.end(), info + 28);
    for (int part = 0; part < 3; ++part)
      std::copy_n(info + part * 12, 12, Add(0x8F, part, Block) + 4);
    return *this;
  }
  Packs& Damage(size_t Pack) {
    SealAll();  // first: the damage must break the CRCs
    Bytes_[Pack * 18 + 5] ^= 0x40;
    return *this;
  }
  Packs& WithoutCrcs() {
    Crcs_ = false;
    return *this;
  }

  cdrip::CdTextReading Parse() {
    SealAll();
    return cdrip::ParseCdTextPacks(Bytes_.data(), Bytes_.size());
  }

 private:
  uint8_t* Add(uint8_t Type, int Track, int Block) {
    Bytes_.resize(Bytes_.size() + 18, 0);
    uint8_t* pack = &Bytes_[Bytes_.size() - 18];
    pack[0] = Type;
    pack[1] = static_cast<uint8_t>(Track);
    pack[2] = Sequence_++;
    pack[3] = static_cast<uint8_t>(Block << 4);
    return pack;
  }
  void SealAll() {
    for (size_t at = 0; Crcs_ && at < Bytes_.size(); at += 18) Seal(&Bytes_[at]);
  }
  static void Seal(uint8_t* Pack) {
    if (Pack[16] || Pack[17]) return;  // sealed before
    uint16_t crc = 0;
    for (int i = 0; i < 16; ++i) {
      crc ^= static_cast<uint16_t>(Pack[i] << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    Pack[16] = static_cast<uint8_t>(~crc >> 8);
    Pack[17] = static_cast<uint8_t>(~crc);
  }
  std::vector<uint8_t> Bytes_;
  uint8_t Sequence_ = 0;
  bool Crcs_ = true;
};

struct Case {
  const char* Name;
  std::function<Packs()> Make;
  std::vector<std::tuple<int, TextField, std::string>> Texts;  // all the texts there are
  std::string Note;                                            // a part of the note
};

const Case Cases[] = {
    {"an empty disc title keeps each title with its track",
     [] {
       return Packs().Strings(0x80, {"", "One", "A title of more than one pack", ""});
     },
     {{1, TextField::Title, "One"}, {2, TextField::Title, "A title of more than one pack"}},
     ""},
    {"a damaged pack loses only the strings it touches",
     [] {
       return Packs()
           .Strings(0x80, {"Disc", "One", "A title of more than one pack", "Three"})
           .Damage(1);
     },
     {{0, TextField::Title, "Disc"}, {1, TextField::Title, "One"}, {3, TextField::Title, "Three"}},
     "1 CD-Text packs were damaged"},
    {"packs without CRCs are read",
     [] { return Packs().Strings(0x81, {"Band"}).WithoutCrcs(); },
     {{0, TextField::Performer, "Band"}},
     ""},
    {"a tab stands for the string of the track before",
     [] {
       return Packs().Strings(0x81, {"", "Band", "\t"});
     },
     {{1, TextField::Performer, "Band"}, {2, TextField::Performer, "Band"}},
     ""},
    {"ISO-8859-1 and ASCII",
     [] {
       return Packs()
           .Strings(0x80, {"Caf\xe9"})
           .Strings(0x81, {"X"}, 1)
           .Strings(0x82, {"Ol\xe9"}, 1)
           .SizeInfo(0, 0x00, {0x08, 0x09})
           .SizeInfo(1, 0x01, {0x08, 0x09});
     },
     {{0, TextField::Performer, "X"}, {0, TextField::Songwriter, "Ol?"}},
     ""},
    {"the first block when none is in English",
     [] {
       return Packs()
           .Strings(0x80, {"Gr\xfc\xdf\x65"})
           .Strings(0x80, {"Titre"}, 1)
           .Strings(0x87, {std::string("\0\x19Rock", 6)})
           .SizeInfo(0, 0x00, {0x08, 0x0F})
           .SizeInfo(1, 0x00, {0x08, 0x0F});
     },
     {{0, TextField::Title, "Grüße"}, {0, TextField::Genre, "Rock"}},
     ""},
    {"an English block after one in MS-JIS",
     [] {
       return Packs()
           .Strings(0x80, {"\x93\xfa\x96\x7b"}, 0, true)
           .Strings(0x80, {"Japan"}, 1)
           .SizeInfo(0, 0x80, {0x69, 0x09})
           .SizeInfo(1, 0x00, {0x69, 0x09});
     },
     {{0, TextField::Title, "Japan"}},
     ""},
    {"MS-JIS alone is named, not read",
     [] { return Packs().Strings(0x80, {"\x93\xfa\x96\x7b"}, 0, true).SizeInfo(0, 0x80, {0x69}); },
     {},
     "is in MS-JIS, which Korvane cannot read"},
};

TEST(CdTextPacks, AreReadAsDiscsHoldThem) {
  for (const Case& test : Cases) {
    SCOPED_TRACE(test.Name);
    const cdrip::CdTextReading reading = test.Make().Parse();
    cdrip::DiscText expected;
    for (const auto& [track, field, text] : test.Texts) expected.Set(track, field, text);
    EXPECT_EQ(reading.Text.Entries, expected.Entries);
    if (test.Note.empty())
      EXPECT_EQ(reading.Note, "");
    else
      EXPECT_NE(reading.Note.find(test.Note), std::string::npos) << reading.Note;
  }
}

}  // namespace

#include "outputs/audio_lame.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <utility>

#include "outputs/tag_text.h"
#include "text_case.h"

namespace {

constexpr int BitRateTable[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                96, 112, 128, 144, 160, 192, 224, 256, 320};
constexpr int SampleRateTable[] = {0, 11025, 22050, 44100, 32000, 41000, 48000};

// The library's numbers for the calls whose values are fixed.
constexpr int EncoderInputChannels = 2;
static_assert(vbr_rh == 2, "the VBR mode passed is the library's number 2");

// The library's documented worst case for one encode call: 1.25 bytes per input sample
// of one channel, plus 7200.
constexpr double WorstCaseBytesPerSample = 1.25;
constexpr int WorstCaseExtraBytes = 7200;

// What one read of the audio moves when the file is copied behind a larger tag.
constexpr int64_t CopyBlockSize = 1 << 20;

// clang-format off
const std::array<const char*, 126> GenreNames = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop",
    "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock",
    "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack",
    "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance",
    "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel",
    "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk",
    "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka",
    "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock",
    "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango",
    "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet",
    "Punk Rock", "Drum Solo", "A capella", "Euro-House", "Dance Hall"};
// clang-format on

bool SameTextIgnoringCase(const std::string& A, const char* B) {
  const size_t length = std::strlen(B);
  if (A.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(A[i])) !=
        std::tolower(static_cast<unsigned char>(B[i])))
      return false;
  }
  return true;
}

// The library matches genre names against its own table, which spells some of them
// differently; a number always reaches the tag as that genre.
std::string GenreForLibrary(const std::string& Genre) {
  const int number = Id3v1GenreNumber(Genre);
  return number >= 0 ? std::to_string(number) : Genre;
}

// The length of the MPEG audio Layer III frame whose 4-byte header is Header, 0 when
// Header is not one. The encoder writes no free-format frames.
int64_t Mp3FrameLength(const uint8_t* Header) {
  static const int Mpeg1Kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static const int Mpeg2Kbps[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static const int RatesHz[3][3] = {
      {11025, 12000, 8000}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  if (Header[0] != 0xFF || (Header[1] & 0xE0) != 0xE0) return 0;
  const int version = (Header[1] >> 3) & 3;  // 0: MPEG-2.5, 2: MPEG-2, 3: MPEG-1
  const int layer = (Header[1] >> 1) & 3;    // 1: Layer III
  const int rateIndex = Header[2] >> 4;
  const int hzIndex = (Header[2] >> 2) & 3;
  if (version == 1 || layer != 1 || rateIndex == 0 || rateIndex == 15 || hzIndex == 3) return 0;
  const bool mpeg1 = version == 3;
  const int kbps = (mpeg1 ? Mpeg1Kbps : Mpeg2Kbps)[rateIndex];
  const int hz = RatesHz[mpeg1 ? 2 : version == 2 ? 1 : 0][hzIndex];
  const int padding = (Header[2] >> 1) & 1;
  return static_cast<int64_t>((mpeg1 ? 144 : 72) * kbps * 1000 / hz + padding);
}

EAudioException EncoderFailure(int Result) {
  return EAudioException("The MP3 encoder failed (error " + std::to_string(Result) + ").");
}

int OneOrZero(bool Value) { return Value ? 1 : 0; }

}  // namespace

std::string Id3v2GenreText(const std::string& Genre) {
  int number = Id3v1GenreNumber(Genre);
  const bool digits =
      !Genre.empty() && Genre.size() <= 3 &&
      std::all_of(Genre.begin(), Genre.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  if (number < 0 && digits) number = std::stoi(Genre);
  return number >= 0 && number < static_cast<int>(GenreNames.size()) ? GenreNames[number] : Genre;
}

int BitRateKbps(TMP3BitRate Value) { return BitRateTable[Value]; }

int SampleRateHz(TMP3SampleRate Value) { return SampleRateTable[Value]; }

std::optional<TMP3BitRate> BitRateForKbps(int Kbps) {
  for (size_t i = 0; i < std::size(BitRateTable); ++i)
    if (BitRateTable[i] == Kbps) return static_cast<TMP3BitRate>(i);
  return std::nullopt;
}

std::optional<TMP3SampleRate> SampleRateForHz(int Hz) {
  for (size_t i = 0; i < std::size(SampleRateTable); ++i)
    if (SampleRateTable[i] == Hz) return static_cast<TMP3SampleRate>(i);
  return std::nullopt;
}

const std::array<const char*, 126>& Id3v1GenreNames() { return GenreNames; }

int Id3v1GenreNumber(const std::string& Name) {
  for (size_t i = 0; i < GenreNames.size(); ++i)
    if (SameTextIgnoringCase(Name, GenreNames[i])) return static_cast<int>(i);
  return -1;
}

TSharedText& TSharedText::operator=(std::string Value) {
  std::lock_guard<std::mutex> hold(Lock_);
  Value_ = std::move(Value);
  return *this;
}

std::string TSharedText::Get() const {
  std::lock_guard<std::mutex> hold(Lock_);
  return Value_;
}

// ---------------------------------------------------------------------------------
// TMP3Out
// ---------------------------------------------------------------------------------

TMP3Out::TMP3Out() {
  LameBinding().Load();
  Library_ = LameBinding().Library();
  if (!Library_) throw EAudioException(LameBinding().NotLoadedMessage());
}

TMP3Out::~TMP3Out() {
  StopWorker();
  LameBinding().Unload();
}

void TMP3Out::StartFile() {
  TagBehind_ = false;
  BytesWritten_ = 0;
  PendingBytes_ = 0;
  CreateEncoder(*Input());
  TagStart_ = Stream ? Stream->Position() : 0;
  ReserveTagRoom();
  AudioStart_ = Stream ? Stream->Position() : 0;
}

// The texts are read again when the run ends and may have changed by then, so the tag
// written now is given room to grow; at the end the final tag goes into that room.
// Without texts there is no room, so a file that never gets a tag is never copied.
void TMP3Out::ReserveTagRoom() {
  TagRoom_ = 0;
  if (!Stream) return;
  const std::vector<uint8_t> frames = Id3v2Frames(TagTexts());
  if (frames.empty()) return;
  TagRoom_ = Id3v2Room(frames.size());
  const std::vector<uint8_t> tag = Id3v2Tag(frames, TagRoom_);
  Stream->Write(tag.data(), TagRoom_);
}

TTagTexts TMP3Out::TagTexts() const {
  return TTagTexts{Id3TagTitle.Get(),
                   Id3TagArtist.Get(),
                   Id3TagAlbum.Get(),
                   Id3TagYear.Get(),
                   Id3TagTrack.Get(),
                   Id3TagComment.Get(),
                   Id3v2GenreText(Id3TagGenre.Get()),
                   Id3TagDisc.Get(),
                   Id3UserTexts};
}

void TMP3Out::CreateEncoder(TAudioInput& Source) {
  const int bits = Source.BitsPerSample();
  const int channels = Source.Channels();
  // Every block is read as 16-bit samples, one or two to a frame.
  if (bits != 16 || (channels != 1 && channels != 2))
    throw EAudioException("The MP3 output accepts 16-bit PCM with one or two channels.");
  SetupChannels_ = channels;

  LameFlags = TEncoderHandle(Lame().lame_init(), TEncoderCloser{&Lame()});
  if (!LameFlags) throw EAudioException(LameBinding().NotLoadedMessage());
  lame_global_flags* flags = LameFlags.get();
  const int32_t size = Source.Size;
  if (size > 0) Lame().lame_set_num_samples(flags, size / ((bits / 8) * channels));
  Lame().lame_set_in_samplerate(flags, Source.SampleRate());
  // A mono input is fed as two identical channels.
  Lame().lame_set_num_channels(flags, EncoderInputChannels);
  PassFrameSettings();
  PassBitRateSettings();
  if (Lame().lame_init_params(flags) < 0)
    throw EAudioException("The MP3 encoder does not accept these settings.");
  AllocateMP3Buffer(Source.SampleRate());
}

void TMP3Out::PassFrameSettings() {
  lame_global_flags* flags = LameFlags.get();
  Lame().lame_set_out_samplerate(flags, SampleRateHz(SampleRate));
  Lame().lame_set_mode(flags, Mode);
  Lame().lame_set_copyright(flags, OneOrZero(Copyright));
  Lame().lame_set_original(flags, OneOrZero(Original));
  Lame().lame_set_error_protection(flags, OneOrZero(CRC));
}

void TMP3Out::PassBitRateSettings() {
  lame_global_flags* flags = LameFlags.get();
  if (!EnableVBR) {
    Lame().lame_set_brate(flags, BitRateKbps(BitRate));
    Lame().lame_set_quality(flags, Quality);
    return;
  }
  // Without `WriteVBRHeader` no call is made, so the library's default stands.
  if (WriteVBRHeader) Lame().lame_set_bWriteVbrTag(flags, 1);
  Lame().lame_set_VBR(flags, vbr_rh);
  Lame().lame_set_VBR_q(flags, VBRQuality);
  if (VBRMaxBitrate < VBRMinBitrate) std::swap(VBRMinBitrate, VBRMaxBitrate);
  Lame().lame_set_VBR_min_bitrate_kbps(flags, VBRMinBitrate);
  Lame().lame_set_VBR_max_bitrate_kbps(flags, VBRMaxBitrate);
}

void TMP3Out::AllocateMP3Buffer(int InputRate) {
  // One call encodes at most a full block of mono samples; an output rate above the
  // input's makes more frames of the same samples.
  const int samplesPerChannel = InputBlockSize / 2;
  const int outputRate = Lame().lame_get_out_samplerate(LameFlags.get());
  const bool upsampled = InputRate > 0 && outputRate > InputRate;
  const double rateRatio = upsampled ? static_cast<double>(outputRate) / InputRate : 1.0;
  MP3BufferSize =
      static_cast<int>(std::ceil(WorstCaseBytesPerSample * samplesPerChannel * rateRatio)) +
      WorstCaseExtraBytes;
  MP3Buffer.assign(static_cast<size_t>(MP3BufferSize), 0);
}

bool TMP3Out::WriteStep(bool Abort) {
  if (!Active) return true;
  if (Abort) return false;
  auto* block = reinterpret_cast<uint8_t*>(InputBuffer.data());
  const int n = ReadInput(block + PendingBytes_, InputBlockSize - PendingBytes_);
  if (n == 0) return false;
  // The channel count is asked anew for every block; a source that went away
  // keeps the layout it had.
  TAudioInput* source = Input();
  const int channels = (source ? source->Channels() : SetupChannels_) == 2 ? 2 : 1;
  const int frameBytes = 2 * channels;
  const int available = PendingBytes_ + n;
  const int frames = available / frameBytes;
  // Bytes of a frame that the source split between two blocks wait for the rest.
  PendingBytes_ = available - frames * frameBytes;
  const int encoded = frames > 0 ? Encode(frames, channels) : 0;
  std::memmove(block, block + frames * frameBytes, static_cast<size_t>(PendingBytes_));
  if (encoded < 0) throw EncoderFailure(encoded);
  WriteEncoded(encoded);
  return true;
}

int TMP3Out::Encode(int Frames, int Channels) {
  if (Channels == 2) {
    return Lame().lame_encode_buffer_interleaved(LameFlags.get(), InputBuffer.data(), Frames,
                                                 MP3Buffer.data(), MP3BufferSize);
  }
  // Mono: the same samples are the left and the right channel.
  const int16_t* samples = InputBuffer.data();
  return Lame().lame_encode_buffer(LameFlags.get(), samples, samples, Frames, MP3Buffer.data(),
                                   MP3BufferSize);
}

void TMP3Out::WriteEncoded(int Count) {
  if (Count <= 0 || !Stream) return;
  Stream->Write(MP3Buffer.data(), Count);
  BytesWritten_ += Count;
}

void TMP3Out::CompleteFile() {
  if (!LameFlags) return;
  const TTagTexts texts = TagTexts();
  HandOverTags(texts);
  const int flushed = Lame().lame_encode_flush(LameFlags.get(), MP3Buffer.data(), MP3BufferSize);
  if (flushed < 0) throw EncoderFailure(flushed);
  WriteEncoded(flushed);
  RewriteInformationFrame();
  PlaceId3v2Tag(texts);
}

// The library writes its ID3v1 tag with the final frames, the texts in Latin-1 and
// cut to the fields; the genre goes by its table number when it has one.
void TMP3Out::HandOverTags(const TTagTexts& Texts) {
  lame_global_flags* flags = LameFlags.get();
  const auto latin1 = [](const std::string& Text) { return Latin1TagText(Text); };
  Lame().id3tag_init(flags);
  Lame().id3tag_set_title(flags, latin1(Texts.Title).c_str());
  Lame().id3tag_set_artist(flags, latin1(Texts.Artist).c_str());
  Lame().id3tag_set_album(flags, latin1(Texts.Album).c_str());
  Lame().id3tag_set_year(flags, YearOfDate(Texts.Year).c_str());
  // ID3v1 holds the track's number alone, not "7/10".
  Lame().id3tag_set_track(flags, latin1(Texts.Track.substr(0, Texts.Track.find('/'))).c_str());
  Lame().id3tag_set_comment(flags, latin1(Texts.Comment).c_str());
  Lame().id3tag_set_genre(flags, GenreForLibrary(latin1(Texts.Genre)).c_str());
}

// Whether the stream is a file holding everything written, so that what is written
// back at the start stays there.
bool TMP3Out::KeepsWhatWasWritten() const {
  return Stream && BytesWritten_ > 0 && Stream->Size() >= AudioStart_ + BytesWritten_;
}

// The library opens the stream with an empty information frame and builds its final
// version (lengths, seek table, delay and padding) only once the stream is complete.
// When the stream is a file holding everything written, that frame goes into its place:
// the start of the audio, after the room of the ID3v2 tag.
void TMP3Out::RewriteInformationFrame() {
  if (!KeepsWhatWasWritten()) return;
  const size_t length =
      Lame().lame_get_lametag_frame(LameFlags.get(), MP3Buffer.data(), MP3Buffer.size());
  if (length == 0 || length > MP3Buffer.size()) return;
  const int64_t end = AudioStart_ + BytesWritten_;
  const int64_t framePosition = AudioStart_;
  if (framePosition + static_cast<int64_t>(length) > end) return;
  uint8_t header[2] = {0, 0};
  Stream->Seek(framePosition);
  const bool frameThere =
      Stream->Read(header, 2) == 2 && header[0] == 0xFF && (header[1] & 0xE0) == 0xE0;
  if (frameThere) {
    Stream->Seek(framePosition);
    Stream->Write(MP3Buffer.data(), static_cast<int64_t>(length));
  }
  Stream->Seek(end);
}

// The final tag goes into the room kept at the start. Texts that outgrow the room, or
// a tag whose texts were all emptied, move the audio: the file is copied behind a tag
// with room of its own (or behind none).
void TMP3Out::PlaceId3v2Tag(const TTagTexts& Texts) {
  if (!KeepsWhatWasWritten()) return;
  const std::vector<uint8_t> frames = Id3v2Frames(Texts);
  const int64_t needed =
      frames.empty() ? 0 : Id3v2HeaderLength + static_cast<int64_t>(frames.size());
  if (needed > 0 && needed <= TagRoom_) {
    const std::vector<uint8_t> tag = Id3v2Tag(frames, TagRoom_);
    Stream->Seek(TagStart_);
    Stream->Write(tag.data(), TagRoom_);
    Stream->Seek(AudioStart_ + BytesWritten_);
    return;
  }
  if (needed == 0 && TagRoom_ == 0) return;
  try {
    MoveAudioBehind(frames.empty() ? std::vector<uint8_t>()
                                   : Id3v2Tag(frames, Id3v2Room(frames.size())));
  } catch (const std::exception& E) {
    // The file itself is whole: only its tag is behind.
    TagBehind_ = true;
    throw EAudioException(std::string(E.what()) + " The file is whole, but its ID3v2 tag " +
                          "holds the texts it had when the run started.");
  }
}

TMP3Out::TFrameWalk TMP3Out::WalkFrames(int64_t Limit) {
  const int64_t intact = Stream->IntactLength();
  TFrameWalk walk;
  walk.End = AudioStart_;
  uint8_t header[4];
  while (walk.Frames < Limit && walk.End + 4 <= intact) {
    Stream->Seek(walk.End);
    if (Stream->Read(header, 4) != 4) break;
    const int64_t length = Mp3FrameLength(header);
    if (length == 0 || walk.End + length > intact) break;
    if (walk.Frames == 0) walk.FirstIsInformation = IsInformationFrame(walk.End, length);
    walk.End += length;
    ++walk.Frames;
  }
  return walk;
}

// The information frame carries "Xing" or "Info" after its side information.
bool TMP3Out::IsInformationFrame(int64_t Offset, int64_t Length) {
  uint8_t start[64] = {};
  const int64_t count = std::min<int64_t>(Length, sizeof start);
  Stream->Seek(Offset);
  if (Stream->Read(start, count) != count) return false;
  const auto has = [&](const char* Id) {
    return std::search(start, start + count, Id, Id + 4) != start + count;
  };
  return has("Xing") || has("Info");
}

// A file cut short by a full disk ends with its last whole frame: a frame cut inside
// is what decoders report as invalid data.
void TMP3Out::MendFile() {
  const TFrameWalk walk = WalkFrames(std::numeric_limits<int64_t>::max());
  if (walk.End < Stream->Size()) Stream->Truncate(walk.End);
}

// At least one frame of audio besides the information frame.
bool TMP3Out::HoldsAudio() {
  const TFrameWalk walk = WalkFrames(2);
  return walk.Frames - (walk.FirstIsInformation ? 1 : 0) > 0;
}

std::string TMP3Out::FailureNote() {
  const std::string note = TAudioFileOut::FailureNote();
  return TagBehind_ ? std::string() : note;
}

// Writes Tag and the audio to a staging file beside the stream's file (named after
// FileName, as the stream's own staging name is) and puts it in that file's place, so
// a failure on the way leaves the file as it was. Only a file that the output opened
// and wrote from its start is copied.
void TMP3Out::MoveAudioBehind(const std::vector<uint8_t>& Tag) {
  if (StreamAssigned || TagStart_ != 0) return;
  const std::string staged = StagingNameFor(FileName);
  if (staged.empty()) return;
  auto copy = std::make_unique<TFileStream>(staged, TFileStream::TMode::Create, FileName);
  try {
    copy->Write(Tag.data(), static_cast<int64_t>(Tag.size()));
    CopyAudio(*copy);
    copy->Flush();
    PublishStagedFile(staged, Stream->FileName());
  } catch (...) {
    copy.reset();
    DiscardStagedFile(staged);
    throw;
  }
  Stream = std::move(copy);
  TagRoom_ = static_cast<int64_t>(Tag.size());
  AudioStart_ = TagRoom_;
}

void TMP3Out::CopyAudio(TFileStream& To) {
  std::vector<uint8_t> block(static_cast<size_t>(std::min(CopyBlockSize, BytesWritten_)));
  Stream->Seek(AudioStart_);
  for (int64_t left = BytesWritten_; left > 0;) {
    const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(block.size()));
    if (Stream->Read(block.data(), want) != want)
      throw EAudioException("The file \"" + FileName + "\" ended before its audio did.");
    To.Write(block.data(), want);
    left -= want;
  }
}

void TMP3Out::ReleaseRun() {
  LameFlags.reset();
  MP3Buffer = std::vector<uint8_t>();
  MP3BufferSize = 0;
  PendingBytes_ = 0;
}

// ---------------------------------------------------------------------------------
// Tags as comment lines
// ---------------------------------------------------------------------------------

namespace {

std::string UpperAscii(std::string Text) {
  for (char& c : Text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return Text;
}

// "7" of "10": "7/10"; a number that already holds its whole, or has none, as it is.
std::string NumberOf(const std::string& Number, const std::string& Total) {
  if (Total.empty() || Number.find('/') != std::string::npos) return Number;
  return Number + "/" + Total;
}

}  // namespace

void TMP3Out::SetTags(const std::vector<std::string>& Lines) {
  std::map<std::string, std::string> named;
  std::vector<std::pair<std::string, std::string>> others;
  for (const std::string& line : Lines) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) {
      named["COMMENT"] = line.substr(equals == 0 ? 1 : 0);
      continue;
    }
    std::string name = UpperAscii(line.substr(0, equals));
    if (name == "YEAR") name = "DATE";
    if (name == "DESCRIPTION") name = "COMMENT";
    named[name] = line.substr(equals + 1);
  }
  const auto take = [&named](const char* Name) {
    const auto found = named.find(Name);
    if (found == named.end()) return std::string();
    std::string value = found->second;
    named.erase(found);
    return value;
  };
  Id3TagTitle = take("TITLE");
  Id3TagArtist = take("ARTIST");
  Id3TagAlbum = take("ALBUM");
  Id3TagYear = take("DATE");
  Id3TagGenre = take("GENRE");
  Id3TagComment = take("COMMENT");
  const std::string track = take("TRACKNUMBER"), disc = take("DISCNUMBER");
  Id3TagTrack = track.empty() ? track : NumberOf(track, take("TRACKTOTAL"));
  Id3TagDisc = disc.empty() ? disc : NumberOf(disc, take("DISCTOTAL"));
  for (const std::string& line : Lines) {  // the user texts in the order given
    const std::string name = UpperAscii(line.substr(0, line.find('=')));
    const auto found = named.find(name);
    if (found == named.end()) continue;
    others.emplace_back(name, found->second);
    named.erase(found);
  }
  Id3UserTexts = std::move(others);
}

std::vector<std::string> TMP3Out::Tags() const {
  std::vector<std::string> lines;
  const std::pair<const char*, const TSharedText*> fields[] = {
      {"TITLE", &Id3TagTitle},    {"ARTIST", &Id3TagArtist},   {"ALBUM", &Id3TagAlbum},
      {"DATE", &Id3TagYear},      {"COMMENT", &Id3TagComment}, {"TRACKNUMBER", &Id3TagTrack},
      {"DISCNUMBER", &Id3TagDisc}};
  for (const auto& [name, field] : fields)
    if (const std::string value = field->Get(); !value.empty())
      lines.push_back(name + ("=" + value));
  // A genre by its number in the ID3v1 table is named, as the ID3v2 tag names it.
  if (const std::string genre = Id3TagGenre.Get(); !genre.empty())
    lines.push_back("GENRE=" + Id3v2GenreText(genre));
  for (const auto& [name, value] : Id3UserTexts) lines.push_back(name + "=" + value);
  return lines;
}

// ---------------------------------------------------------------------------------
// The bit rates the encoder has
// ---------------------------------------------------------------------------------

namespace {

// The layer III bit rates in kbit/s that the encoder has for each MPEG version: MPEG-1
// (32, 44.1, 48 kHz), MPEG-2 (16, 22.05, 24 kHz) and MPEG-2.5 (8, 11.025, 12 kHz).
const std::vector<int>& BitRatesAt(int Hz) {
  static const std::vector<int> Mpeg1 = {32,  40,  48,  56,  64,  80,  96,
                                         112, 128, 160, 192, 224, 256, 320};
  static const std::vector<int> Mpeg2 = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static const std::vector<int> Mpeg25 = {8, 16, 24, 32, 40, 48, 56, 64};
  if (Hz >= 32000) return Mpeg1;
  return Hz >= 16000 ? Mpeg2 : Mpeg25;
}

int NearestBitRate(int Kbps, const std::vector<int>& Rates) {
  int nearest = Rates.front();
  for (const int rate : Rates)
    if (std::abs(rate - Kbps) < std::abs(nearest - Kbps)) nearest = rate;
  return nearest;
}

}  // namespace

// A scratch encoder, given the settings as `CreateEncoder` gives them, tells the output
// sample rate it settles on for CD audio, and with it the bit rates it has.
std::vector<TMP3Out::TBitRateChange> TMP3Out::BitRateChanges() const {
  const TLameFunctions& lame = Lame();
  const TEncoderHandle encoder(lame.lame_init(), TEncoderCloser{&lame});
  lame_global_flags* flags = encoder.get();
  if (!flags) return {};
  lame.lame_set_in_samplerate(flags, 44100);
  lame.lame_set_num_channels(flags, 2);
  lame.lame_set_out_samplerate(flags, SampleRateHz(SampleRate));
  lame.lame_set_mode(flags, Mode);
  std::vector<std::pair<const char*, int>> asked;
  if (EnableVBR) {
    lame.lame_set_VBR(flags, vbr_rh);
    lame.lame_set_VBR_q(flags, VBRQuality);
    lame.lame_set_VBR_min_bitrate_kbps(flags, std::min(VBRMinBitrate, VBRMaxBitrate));
    lame.lame_set_VBR_max_bitrate_kbps(flags, std::max(VBRMinBitrate, VBRMaxBitrate));
    asked = {{"VBRMinBitrate", VBRMinBitrate}, {"VBRMaxBitrate", VBRMaxBitrate}};
  } else {
    lame.lame_set_brate(flags, BitRateKbps(BitRate));
    asked = {{"BitRate", BitRateKbps(BitRate)}};
  }
  if (lame.lame_init_params(flags) < 0) return {};
  const int hz = lame.lame_get_out_samplerate(flags);
  const std::vector<int>& rates = BitRatesAt(hz);
  std::vector<TBitRateChange> changes;
  for (const auto& [setting, kbps] : asked) {
    const int used = NearestBitRate(kbps, rates);
    if (used == kbps) continue;
    const std::string why =
        kbps > rates.back()    ? "carries at most " + std::to_string(rates.back()) + " kbit/s"
        : kbps < rates.front() ? "carries at least " + std::to_string(rates.front()) + " kbit/s"
                               : "has no " + std::to_string(kbps) + " kbit/s";
    changes.push_back({setting, kbps, used, hz, why});
  }
  return changes;
}

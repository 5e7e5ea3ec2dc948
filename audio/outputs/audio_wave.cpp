#include "outputs/audio_wave.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "byte_order.h"

namespace {

constexpr int PCMTransferSize = 16384;
constexpr int PCMHeaderSize = 44;
constexpr int IMAHeaderSize = 60;
constexpr int64_t HeaderScanLimit = 8192;

void PutId(uint8_t* At, const char* Id) { std::memcpy(At, Id, 4); }

// Sizes in the RIFF header are 32-bit; a larger file keeps the largest value.
uint32_t RiffField(int64_t Value) {
  return static_cast<uint32_t>(std::clamp<int64_t>(Value, 0, 0xFFFFFFFF));
}

void WriteField32(TFileStream& Stream, int64_t Offset, uint32_t Value) {
  uint8_t bytes[4];
  PutLe32(bytes, Value);
  Stream.Seek(Offset);
  Stream.Write(bytes, 4);
}

}  // namespace

// ---------------------------------------------------------------------------------
// IMA ADPCM
// ---------------------------------------------------------------------------------

const int32_t IMAStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int32_t IMAIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// Both routines are written without branches on the signal (masks and conditional
// moves), so their speed does not depend on how busy the audio is.
int IMAReconstruct(TIMAChannelState& State, int Code) {
  const int32_t step = IMAStepTable[State.StepIndex];
  const int32_t delta = (step >> 3) + (step & -((Code >> 2) & 1)) +
                        ((step >> 1) & -((Code >> 1) & 1)) + ((step >> 2) & -(Code & 1));
  const int32_t negative = -((Code >> 3) & 1);  // all bits set when the sign bit is
  const int32_t predicted = State.Predictor + ((delta ^ negative) - negative);
  // The lower bound is -32767, not -32768.
  State.Predictor = static_cast<int16_t>(std::clamp<int32_t>(predicted, -32767, 32767));
  State.StepIndex =
      static_cast<uint8_t>(std::clamp<int32_t>(State.StepIndex + IMAIndexTable[Code], 0, 88));
  return State.Predictor;
}

int IMAEncodeSample(TIMAChannelState& State, int Sample) {
  const int32_t step = IMAStepTable[State.StepIndex];
  int32_t diff = Sample - State.Predictor;
  const int sign = diff < 0 ? 8 : 0;
  diff = diff < 0 ? -diff : diff;
  const int32_t bit2 = diff >= step;
  diff -= step & -bit2;
  const int32_t bit1 = diff >= (step >> 1);
  diff -= (step >> 1) & -bit1;
  const int32_t bit0 = diff >= (step >> 2);
  const int code = sign | (bit2 << 2) | (bit1 << 1) | bit0;
  IMAReconstruct(State, code);
  return code;
}

int IMASamplesPerBlock(int Channels, int BlockSize) {
  return (2 / Channels) * (BlockSize - 4 * Channels) + 1;
}

namespace {

void WriteChannelHeader(uint8_t* At, const TIMAChannelState& State) {
  PutLe16(At, static_cast<uint16_t>(State.Predictor));
  At[2] = State.StepIndex;
  At[3] = 0;
}

}  // namespace

void EncodeIMAMono(const int16_t* Samples, TIMAChannelState& State, uint8_t* Block, int BlockSize) {
  std::memset(Block, 0, static_cast<size_t>(BlockSize));
  WriteChannelHeader(Block, State);
  const int codes = 2 * (BlockSize - 4);
  uint8_t* out = Block + 4;
  for (int k = 0; k < codes; k += 2) {
    const int low = IMAEncodeSample(State, Samples[k]);
    const int high = IMAEncodeSample(State, Samples[k + 1]);
    *out++ = static_cast<uint8_t>(low | (high << 4));
  }
}

void EncodeIMAStereo(const int16_t* Frames, TIMAChannelState (&States)[2], uint8_t* Block,
                     int BlockSize) {
  std::memset(Block, 0, static_cast<size_t>(BlockSize));
  WriteChannelHeader(Block, States[0]);
  WriteChannelHeader(Block + 4, States[1]);
  const int codes = BlockSize - 8;  // per channel
  // Groups of 8 bytes: 4 bytes (8 codes) of the left channel, then 4 of the right.
  for (int k = 0; k < codes; k += 2) {
    const int byte = 8 + (k / 8) * 8 + (k / 2) % 4;
    for (int channel = 0; channel < 2; ++channel) {
      const int low = IMAEncodeSample(States[channel], Frames[2 * k + channel]);
      const int high = IMAEncodeSample(States[channel], Frames[2 * (k + 1) + channel]);
      Block[byte + 4 * channel] = static_cast<uint8_t>(low | (high << 4));
    }
  }
}

// ---------------------------------------------------------------------------------
// Header scan
// ---------------------------------------------------------------------------------

bool SameChunkId(const uint8_t* Bytes, const char* Id) {
  for (int i = 0; i < 4; ++i) {
    const auto difference = static_cast<uint8_t>(Bytes[i] - static_cast<uint8_t>(Id[i]));
    if (difference != 0 && difference != 32 && difference != 256 - 32) return false;
  }
  return true;
}

namespace {

// Reads the file front to back, counting what it consumed, and keeps only the last
// four bytes read and the payloads the caller asks for.
class THeaderReader {
 public:
  explicit THeaderReader(TFileStream& Stream) : Stream_(Stream), Size_(Stream.Size()) {}

  // Reads Count bytes; the last four of them become `Last`. False at the end of file.
  bool Read(int64_t Count) {
    uint8_t buffer[4];
    while (Count > 4) {  // only the last four bytes are kept
      const int64_t skip = Count - 4;
      if (Stream_.Position() + skip > Size_) return Fail();
      Stream_.Seek(Stream_.Position() + skip);
      Consumed_ += skip;
      Count = 4;
    }
    if (Stream_.Read(buffer, Count) != Count) return Fail();
    Consumed_ += Count;
    std::memmove(Last, Last + Count, static_cast<size_t>(4 - Count));
    std::memcpy(Last + 4 - Count, buffer, static_cast<size_t>(Count));
    return true;
  }
  // Passes over the payload of a data chunk that comes before the format: audio, which
  // the limit on the header's length does not count.
  bool SkipAudio(uint32_t Length) {
    if (Stream_.Position() + Length > Size_) return Fail();
    Stream_.Seek(Stream_.Position() + Length);
    SkipPadByte(Length);
    return true;
  }
  // Reads a chunk payload of Length bytes, keeping its first KeepCount bytes.
  bool ReadPayload(uint32_t Length, uint8_t* Keep, size_t KeepCount) {
    const size_t kept = std::min<size_t>(KeepCount, Length);
    if (KeepCount > 0) std::memset(Keep, 0, KeepCount);
    if (Stream_.Read(Keep, static_cast<int64_t>(kept)) != static_cast<int64_t>(kept)) return Fail();
    Consumed_ += static_cast<int64_t>(kept);
    const int64_t rest = static_cast<int64_t>(Length) - static_cast<int64_t>(kept);
    if (Stream_.Position() + rest > Size_) return Fail();
    Stream_.Seek(Stream_.Position() + rest);
    Consumed_ += rest;
    SkipPadByte(Length);
    return true;
  }
  // RIFF pads a chunk of odd size with a zero byte, though some writers leave it out.
  // Chunk ids never start with a zero byte, so a zero there can only be the pad.
  void SkipPadByte(uint32_t Length) {
    if ((Length & 1) == 0) return;
    const int64_t before = Stream_.Position();
    uint8_t pad = 0xFF;
    if (Stream_.Read(&pad, 1) == 1 && pad == 0)
      ++Consumed_;
    else
      Stream_.Seek(before);
  }
  uint32_t LastAs32() const { return GetLe32(Last); }
  bool AtEnd() const { return Failed_ || Stream_.Position() >= Size_; }
  bool WithinLimit() const { return !Failed_ && Consumed_ < HeaderScanLimit; }
  int64_t Position() const { return Stream_.Position(); }

  uint8_t Last[4] = {0, 0, 0, 0};

 private:
  bool Fail() {
    Failed_ = true;
    return false;
  }
  TFileStream& Stream_;
  int64_t Size_;
  int64_t Consumed_ = 0;
  bool Failed_ = false;
};

TWavType TypeOfFormatTag(uint16_t Tag) {
  switch (Tag) {
    case 1: return wtPCM;
    case 2: return wtMSADPCM;
    case 0x11: return wtDVIADPCM;
    case 0x55: return wtACM;
    default: return wtUnsupported;
  }
}

// Skips the chunk whose id was just read: its size, its payload, and reads the next id.
bool SkipChunk(THeaderReader& Reader) {
  if (!Reader.Read(4)) return false;
  return Reader.ReadPayload(Reader.LastAs32(), nullptr, 0) && Reader.Read(4);
}

// Notes where the data chunk whose id was just read lies, skips it and reads the next
// id: writers may put the format after the audio.
bool NoteDataAhead(THeaderReader& Reader, TExistingWavFormat& Found) {
  Found.DataSizeOffset = Reader.Position();
  if (!Reader.Read(4)) return false;
  Found.DataSize = Reader.LastAs32();
  Found.DataOffset = Reader.Position();
  return Reader.SkipAudio(Found.DataSize) && Reader.Read(4);
}

// The format is complete; a data chunk that came before it is the file's audio.
bool DataSeen(const TExistingWavFormat& Found) { return Found.DataOffset >= 0; }

// The data chunk met before the format: the stream goes back to its first byte.
TExistingWavFormat FoundAhead(TFileStream& Stream, TExistingWavFormat Found, TWavType Type) {
  Found.Type = Type;
  Stream.Seek(Found.DataOffset);
  return Found;
}

}  // namespace

TExistingWavFormat ScanWavHeader(TFileStream& Stream) {
  enum { StateRiff, StateWave, StateFmt, StateFact, StateData } state = StateRiff;
  TExistingWavFormat found;
  TWavType type = wtUnsupported;
  THeaderReader reader(Stream);
  if (!reader.Read(4)) return found;
  while (reader.WithinLimit()) {
    switch (state) {
      case StateRiff:
        if (SameChunkId(reader.Last, "RIFF")) {
          reader.Read(4);  // the RIFF size, never used
          state = StateWave;
        } else {
          reader.Read(1);
        }
        break;
      case StateWave:
        if (SameChunkId(reader.Last, "WAVE")) {
          reader.Read(4);
          state = StateFmt;
        } else {
          reader.Read(1);
        }
        break;
      case StateFmt:
        if (SameChunkId(reader.Last, "fmt ")) {
          uint8_t fmt[16];
          if (!reader.Read(4) || !reader.ReadPayload(reader.LastAs32(), fmt, sizeof fmt))
            return TExistingWavFormat{};
          type = TypeOfFormatTag(GetLe16(fmt));
          if (type != wtPCM && type != wtDVIADPCM) return TExistingWavFormat{};
          found.Channels = GetLe16(fmt + 2);
          found.SampleRate = GetLe32(fmt + 4);
          found.BlockAlign = GetLe16(fmt + 12);
          found.BitsPerSample = GetLe16(fmt + 14);
          if (type == wtPCM && DataSeen(found)) return FoundAhead(Stream, found, type);
          reader.Read(4);
          state = type == wtDVIADPCM ? StateFact : StateData;
        } else if (SameChunkId(reader.Last, "data") && !DataSeen(found)) {
          NoteDataAhead(reader, found);
        } else {
          SkipChunk(reader);
        }
        break;
      case StateFact:
        if (SameChunkId(reader.Last, "fact")) {
          uint8_t count[4];
          if (!reader.Read(4)) return TExistingWavFormat{};
          found.FactOffset = reader.Position();
          if (!reader.ReadPayload(reader.LastAs32(), count, sizeof count))
            return TExistingWavFormat{};
          found.FactCount = GetLe32(count);
          if (DataSeen(found)) return FoundAhead(Stream, found, type);
          reader.Read(4);
          state = StateData;
        } else {
          SkipChunk(reader);
        }
        break;
      case StateData:
        if (SameChunkId(reader.Last, "data")) {
          found.DataSizeOffset = reader.Position();
          if (!reader.Read(4)) return TExistingWavFormat{};
          found.DataSize = reader.LastAs32();
          found.DataOffset = reader.Position();
          found.Type = type;
          return found;
        }
        SkipChunk(reader);
        break;
    }
    if (reader.AtEnd()) break;
  }
  return TExistingWavFormat{};
}

// ---------------------------------------------------------------------------------
// TWaveOut
// ---------------------------------------------------------------------------------

TWaveOut::TWaveOut() : Transfer_(PCMTransferSize) {}

TWaveOut::~TWaveOut() { StopWorker(); }

void TWaveOut::SetWavType(TWavType Value) {
  if (Busy) return;
  if (Value == wtPCM || Value == wtDVIADPCM) WavType_ = Value;
}

void TWaveOut::SetBlockSize(uint16_t Value) {
  if (Busy || Value == 0 || Value % 4 != 0) return;
  BlockSize_ = Value;
}

void TWaveOut::SetFileMode(TFileOutputMode Value) { FileMode_ = Value; }

std::array<uint8_t, 44> TWaveOut::FillPCMHeader() {
  TAudioInput& input = *Input();
  const int32_t size = input.Size;
  const uint32_t dataSize = size < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
  const int channels = input.Channels();
  const int bits = input.BitsPerSample();
  const uint32_t rate = static_cast<uint32_t>(input.SampleRate());
  const uint32_t blockAlign = static_cast<uint32_t>(bits * channels / 8);
  std::array<uint8_t, 44> h{};
  PutId(&h[0], "RIFF");
  PutLe32(&h[4], dataSize + 36);
  PutId(&h[8], "WAVE");
  PutId(&h[12], "fmt ");
  PutLe32(&h[16], 16);
  PutLe16(&h[20], 1);
  PutLe16(&h[22], static_cast<uint32_t>(channels));
  PutLe32(&h[24], rate);
  PutLe32(&h[28], rate * blockAlign);
  PutLe16(&h[32], blockAlign);
  PutLe16(&h[34], static_cast<uint32_t>(bits));
  PutId(&h[36], "data");
  PutLe32(&h[40], dataSize);
  return h;
}

std::array<uint8_t, 60> TWaveOut::FillIMAHeader() {
  TAudioInput& input = *Input();
  const int channels = input.Channels();
  const int bits = input.BitsPerSample();
  const uint32_t rate = static_cast<uint32_t>(input.SampleRate());
  const int samplesPerBlock = IMASamplesPerBlock(channels, BlockSize_);
  const int32_t size = input.Size;
  const uint32_t frames = size < 0 ? 0 : static_cast<uint32_t>(size / (bits / 8) / channels);
  const double blocks = std::nearbyint(static_cast<double>(frames) / samplesPerBlock);
  const uint32_t dataSize = static_cast<uint32_t>(blocks) * BlockSize_;
  std::array<uint8_t, 60> h{};
  PutId(&h[0], "RIFF");
  PutLe32(&h[4], dataSize + 52);
  PutId(&h[8], "WAVE");
  PutId(&h[12], "fmt ");
  PutLe32(&h[16], 20);
  PutLe16(&h[20], 0x11);
  PutLe16(&h[22], static_cast<uint32_t>(channels));
  PutLe32(&h[24], rate);
  PutLe32(&h[28], (rate / static_cast<uint32_t>(samplesPerBlock)) * BlockSize_);
  PutLe16(&h[32], BlockSize_);
  PutLe16(&h[34], 4);
  PutLe16(&h[36], 2);
  PutLe16(&h[38], static_cast<uint32_t>(samplesPerBlock));
  PutId(&h[40], "fact");
  PutLe32(&h[44], 4);
  PutLe32(&h[48], frames);
  PutId(&h[52], "data");
  PutLe32(&h[56], dataSize);
  return h;
}

void TWaveOut::ReadAppendHeader() {
  Stream->Seek(0);
  ExistingFormat_ = ScanWavHeader(*Stream);
  if (ExistingFormat_.Type == wtDVIADPCM) BlockSize_ = ExistingFormat_.BlockAlign;
}

// A file opened for appending that already holds data keeps its own format; any other
// file gets a fresh header.
void TWaveOut::StartFile() {
  EndOfInput_ = false;
  Appending_ = false;
  FramesEncoded_ = 0;
  FramesBefore_ = 0;
  const bool appendingToData = FileMode_ == foAppend && Stream->Size() > 0;
  if (appendingToData) {
    ReadAppendHeader();
    if (ExistingFormat_.Type != wtPCM && ExistingFormat_.Type != wtDVIADPCM)
      throw EAudioException("Cannot append data to this .wav file.");
    WavType_ = ExistingFormat_.Type;
  }
  Appending_ = appendingToData;
  if (WavType_ == wtPCM)
    PreparePCM(appendingToData);
  else
    PrepareIMA(appendingToData);
}

// Appending writes at the end of the file, so the data chunk must be the file's last.
// A chunk after it (a trailing LIST, say) would be swallowed into the audio; such a
// file is refused rather than damaged.
void TWaveOut::RequireDataAtEnd() {
  const TExistingWavFormat& f = ExistingFormat_;
  const int64_t dataEnd = f.DataOffset + f.DataSize + (f.DataSize & 1);
  if (f.DataSize != 0xFFFFFFFFu && dataEnd < Stream->Size())
    throw EAudioException("Cannot append data to this .wav file.");
}

void TWaveOut::PreparePCM(bool AppendingToData) {
  TAudioInput& input = *Input();
  if (AppendingToData) {
    const TExistingWavFormat& f = ExistingFormat_;
    if (static_cast<int>(f.SampleRate) != input.SampleRate() ||
        f.BitsPerSample != input.BitsPerSample() || f.Channels != input.Channels())
      throw EAudioException("Cannot append data in different audio format.");
    RequireDataAtEnd();
    PcmFrameBytes_ = f.BlockAlign;
    DataOffset_ = f.DataOffset;
    DataSizeOffset_ = f.DataSizeOffset;
    Stream->Seek(Stream->Size());
    return;
  }
  const auto header = FillPCMHeader();
  Stream->Write(header.data(), header.size());
  PcmFrameBytes_ = input.Channels() * input.BitsPerSample() / 8;
  DataOffset_ = PCMHeaderSize;
  DataSizeOffset_ = 40;
}

void TWaveOut::PrepareIMA(bool AppendingToData) {
  TAudioInput& input = *Input();
  if (input.BitsPerSample() != 16) throw EAudioException("Cannot encode 8 bit sound into ADPCM.");
  Channels_ = input.Channels();
  if (AppendingToData) {
    const TExistingWavFormat& f = ExistingFormat_;
    if (static_cast<int>(f.SampleRate) != input.SampleRate() || f.Channels != Channels_)
      throw EAudioException("Cannot append data in different audio format.");
    RequireDataAtEnd();
    if (BlockSize_ == 0 || f.DataSize % BlockSize_ != 0)
      throw EAudioException("Cannot append data to this .wav file.");
  }
  // Stereo blocks hold groups of 8 bytes per channel pair; the samples-per-block
  // field is 16 bits wide. Other block sizes cannot be written correctly.
  SamplesPerBlock_ = IMASamplesPerBlock(Channels_, BlockSize_);
  if ((Channels_ != 1 && Channels_ != 2) || BlockSize_ <= 4 * Channels_ ||
      (Channels_ == 2 && (BlockSize_ - 8) % 8 != 0) || SamplesPerBlock_ > 0xFFFF)
    throw EAudioException("IMA ADPCM cannot be written with a block size of " +
                          std::to_string(BlockSize_) + " bytes and " + std::to_string(Channels_) +
                          " channels.");
  const int areaBytes = (BlockSize_ - 4 * Channels_) * 4 + 2 * Channels_;
  ImaInput_.assign(static_cast<size_t>(areaBytes), 0);
  ImaSamples_.assign(static_cast<size_t>(areaBytes / 2), 0);
  ImaBlock_.assign(BlockSize_, 0);
  if (AppendingToData) {
    const TExistingWavFormat& f = ExistingFormat_;
    DataOffset_ = f.DataOffset;
    DataSizeOffset_ = f.DataSizeOffset;
    FactOffset_ = f.FactOffset;
    FramesBefore_ = static_cast<int64_t>(f.DataSize / BlockSize_) * SamplesPerBlock_;
    Stream->Seek(Stream->Size());
    return;
  }
  const auto header = FillIMAHeader();
  Stream->Write(header.data(), header.size());
  ImaStates_[0].StepIndex = 0;
  ImaStates_[1].StepIndex = 0;
  DataOffset_ = IMAHeaderSize;
  DataSizeOffset_ = 56;
  FactOffset_ = 48;
}

bool TWaveOut::WriteStep(bool Abort) {
  if (!Active) return true;
  if (Abort || EndOfInput_) return false;
  return WavType_ == wtPCM ? WritePCMStep() : WriteIMAStep();
}

// Read and write failures escape the step, so the run ends as a failure, not "Done".
bool TWaveOut::WritePCMStep() {
  const int n = ReadInput(Transfer_.data(), PCMTransferSize);
  if (n > 0) Stream->Write(Transfer_.data(), n);
  return n > 0;
}

bool TWaveOut::WriteIMAStep() {
  const int areaBytes = static_cast<int>(ImaInput_.size());
  std::fill(ImaInput_.begin(), ImaInput_.end(), 0);
  int filled = 0;
  while (filled < areaBytes) {
    const int n = ReadInput(ImaInput_.data() + filled, areaBytes - filled);
    if (n == 0) {
      EndOfInput_ = true;
      break;
    }
    filled += n;
  }
  FramesEncoded_ += filled / (2 * Channels_);
  for (size_t i = 0; i < ImaSamples_.size(); ++i)
    ImaSamples_[i] = static_cast<int16_t>(GetLe16(&ImaInput_[2 * i]));
  // Each block's predictor is its first frame; the rest is coded.
  ImaStates_[0].Predictor = ImaSamples_[0];
  if (Channels_ == 1) {
    EncodeIMAMono(ImaSamples_.data() + 1, ImaStates_[0], ImaBlock_.data(), BlockSize_);
  } else {
    ImaStates_[1].Predictor = ImaSamples_[1];
    EncodeIMAStereo(ImaSamples_.data() + 2, ImaStates_, ImaBlock_.data(), BlockSize_);
  }
  Stream->Write(ImaBlock_.data(), BlockSize_);
  return true;
}

// The headers state what the file really holds, however the run ended: the data size
// and RIFF size from the file's length, the fact count from the frames encoded. IMA
// ADPCM data that a full disk cut inside a block keeps its whole blocks only, and the
// fact count no more than they hold.
void TWaveOut::CorrectHeaders(TFileStream& File) {
  if (WavType_ == wtDVIADPCM) {
    const int64_t data = File.Size() - DataOffset_;
    if (data > 0 && data % BlockSize_ != 0) File.Truncate(DataOffset_ + data - data % BlockSize_);
  }
  const int64_t length = File.Size();
  WriteField32(File, DataSizeOffset_, RiffField(length - DataOffset_));
  if (WavType_ == wtDVIADPCM && FactOffset_ >= 0) {
    const int64_t held = (length - DataOffset_) / BlockSize_ * SamplesPerBlock_;
    WriteField32(File, FactOffset_, RiffField(std::min(FramesBefore_ + FramesEncoded_, held)));
  }
  WriteField32(File, 4, RiffField(length - 8));
}

// Audio that could not be written (a full disk) does not stop the headers from being
// made true to what the file holds; the failed write is still the run's failure.
void TWaveOut::CompleteFile() {
  if (!Stream) return;
  TFirstFailure failure;
  failure.Attempt([this] { Stream->Flush(); });
  failure.Attempt([this] { CorrectHeaders(*Stream); });
  failure.Raise();
}

// The bytes of the smallest whole piece of audio: an IMA ADPCM block, a PCM frame.
int64_t TWaveOut::WholeUnitBytes() const {
  if (WavType_ == wtDVIADPCM) return BlockSize_;
  const int64_t frameBytes = static_cast<int64_t>(PcmFrameBytes_);
  return frameBytes > 0 ? frameBytes : 1;
}

// Keeps the whole pieces of audio before the first byte the disk did not take (a
// later write may have left a hole), then states them in the headers.
void TWaveOut::MendFile() {
  const int64_t intact = Stream->IntactLength();
  const int64_t data = intact - DataOffset_;
  if (data < 0) return;  // not even the header is there: nothing to mend
  const int64_t kept = DataOffset_ + data - data % WholeUnitBytes();
  if (kept < Stream->Size()) Stream->Truncate(kept);
  CorrectHeaders(*Stream);
}

// A header and at least one whole piece of audio after it.
bool TWaveOut::HoldsAudio() { return Stream->IntactLength() - DataOffset_ >= WholeUnitBytes(); }

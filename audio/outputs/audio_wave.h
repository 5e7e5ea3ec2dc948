// WAV files: the RIFF WAVE writer `TWaveOut` (plain PCM or IMA ADPCM, new files or
// appended to existing ones) and the 4-bit IMA ADPCM block encoder it uses.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/audio_classes.h"

enum TWavType : uint8_t {
  wtUnsupported = 0,
  wtPCM = 1,
  wtDVIADPCM = 2,  // IMA ADPCM
  wtMSADPCM = 3,
  wtACM = 4,
};

// ---------------------------------------------------------------------------------
// IMA ADPCM: pure routines over one block, no allocation.
// ---------------------------------------------------------------------------------

struct TIMAChannelState {
  int16_t Predictor = 0;  // the last reconstructed sample
  uint8_t StepIndex = 0;  // 0..88
};

extern const int32_t IMAStepTable[89];
extern const int32_t IMAIndexTable[16];

// Applies code (0..15) to the state as a decoder would; returns the new sample.
int IMAReconstruct(TIMAChannelState& State, int Code);
// Chooses the code for Sample, applies it to the state and returns it.
int IMAEncodeSample(TIMAChannelState& State, int Sample);

// Samples (frames) per block of BlockSize bytes for 1 or 2 channels.
int IMASamplesPerBlock(int Channels, int BlockSize);

// One block of BlockSize bytes. The caller has set each channel's `Predictor` to the
// block's first sample; Samples holds the S - 1 samples (interleaved frames for
// stereo) that follow it.
void EncodeIMAMono(const int16_t* Samples, TIMAChannelState& State, uint8_t* Block, int BlockSize);
void EncodeIMAStereo(const int16_t* Frames, TIMAChannelState (&States)[2], uint8_t* Block,
                     int BlockSize);

// ---------------------------------------------------------------------------------
// TWaveOut
// ---------------------------------------------------------------------------------

// What the header scan found in a file that is about to be appended to.
struct TExistingWavFormat {
  TWavType Type = wtUnsupported;
  uint32_t SampleRate = 0;
  uint16_t Channels = 0;
  uint16_t BitsPerSample = 0;
  uint16_t BlockAlign = 0;
  uint32_t FactCount = 0;
  int64_t FactOffset = -1;  // stream offset of the fact count
  uint32_t DataSize = 0;
  int64_t DataSizeOffset = -1;  // stream offset of the data chunk's size field
  int64_t DataOffset = -1;      // stream offset of the first data byte
};

// Scans the start of Stream for the RIFF, fmt, fact and data headers (at most 8192
// bytes). On success the stream stands at the first data byte.
TExistingWavFormat ScanWavHeader(TFileStream& Stream);
bool SameChunkId(const uint8_t* Bytes, const char* Id);

// Writes .wav files. `StartFile` runs on the caller's thread (from `Start`);
// `WriteStep` and `CompleteFile` on the output's worker.
class TWaveOut : public TAudioFileOut {
 public:
  TWaveOut();
  ~TWaveOut() override;

  TWavType WavType() const { return WavType_; }
  // Ignored while busy; only wtPCM and wtDVIADPCM are taken.
  void SetWavType(TWavType Value);
  uint16_t BlockSize() const { return BlockSize_; }
  // Ignored while busy, and for 0 or a value that is not a multiple of 4.
  void SetBlockSize(uint16_t Value);
  void SetFileMode(TFileOutputMode Value) override;

  // What the last append scan found.
  const TExistingWavFormat& ExistingFormat() const { return ExistingFormat_; }

  bool WriteStep(bool Abort) override;

 protected:
  void StartFile() override;
  void CompleteFile() override;
  void MendFile() override;
  bool HoldsAudio() override;

 private:
  std::array<uint8_t, 44> FillPCMHeader();
  std::array<uint8_t, 60> FillIMAHeader();
  void ReadAppendHeader();
  void PreparePCM(bool AppendingToData);
  void PrepareIMA(bool AppendingToData);
  void RequireDataAtEnd();
  bool WritePCMStep();
  bool WriteIMAStep();
  void CorrectHeaders(TFileStream& File);
  int64_t WholeUnitBytes() const;

  TWavType WavType_ = wtPCM;
  uint16_t BlockSize_ = 512;
  bool EndOfInput_ = false;
  bool Appending_ = false;      // appending to a file that already holds data
  int64_t DataOffset_ = 0;      // where this file's data payload starts
  int64_t DataSizeOffset_ = 0;  // where its data size field is
  int64_t FactOffset_ = -1;     // where its fact count is (IMA)
  int64_t FramesEncoded_ = 0;   // input frames taken into IMA blocks this run
  int64_t FramesBefore_ = 0;    // frames the appended-to file held before
  int Channels_ = 2;
  int PcmFrameBytes_ = 4;  // bytes of one PCM frame (all channels)
  int SamplesPerBlock_ = 0;
  std::vector<uint8_t> Transfer_;
  std::vector<uint8_t> ImaInput_;
  std::vector<int16_t> ImaSamples_;
  std::vector<uint8_t> ImaBlock_;
  TIMAChannelState ImaStates_[2];
  TExistingWavFormat ExistingFormat_;
};

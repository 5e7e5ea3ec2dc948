#include "outputs/audio_vorbis.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "byte_order.h"
#include "outputs/tag_text.h"

namespace {

// Bytes asked of the input per step.
constexpr int InputBlockSize = 65536;
// Frames of analysis buffer asked for per block: what a full block can fill.
constexpr int StereoFramesPerBlock = InputBlockSize / 4;
constexpr int MonoFramesPerBlock = InputBlockSize / 2;

const long BitRateBps[] = {-1,     45000,  48000,  56000,  64000,  80000,  96000,  112000,
                           128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};

// A signed 16-bit little-endian sample as a float in [-1, 1).
inline float SampleAt(const uint8_t* Bytes) {
  const auto value = static_cast<int16_t>(GetLe16(Bytes));
  return static_cast<float>(value / 32768.0);
}

// The serial numbers of the Ogg pages in Stream (none when it does not hold Ogg
// pages), read page header by page header; the stream's position is kept.
std::set<uint32_t> SerialsInStream(TFileStream& Stream) {
  std::set<uint32_t> serials;
  const int64_t size = Stream.Size();
  const int64_t kept = Stream.Position();
  int64_t at = 0;
  uint8_t header[27 + 255];
  while (at + 27 <= size) {
    Stream.Seek(at);
    if (Stream.Read(header, 27) != 27 || std::memcmp(header, "OggS", 4) != 0) break;
    const int segments = header[26];
    if (Stream.Read(header + 27, segments) != segments) break;
    int64_t body = 0;
    for (int i = 0; i < segments; ++i) body += header[27 + i];
    serials.insert(GetLe32(header + 14));
    at += 27 + segments + body;
  }
  Stream.Seek(kept);
  return serials;
}

// A vorbis_info that exists only to ask the encoder whether it accepts a set-up.
class TScratchInfo {
 public:
  TScratchInfo() { VorbisApi().vorbis_info_init(&Info); }
  ~TScratchInfo() { VorbisApi().vorbis_info_clear(&Info); }
  TScratchInfo(const TScratchInfo&) = delete;
  TScratchInfo& operator=(const TScratchInfo&) = delete;
  vorbis_info Info{};
};

}  // namespace

void LoadVorbisLibraries() {
  OggBinding().Load();
  VorbisBinding().Load();
  VorbisEncBinding().Load();
  VorbisFileBinding().Load();
}

void UnloadVorbisLibraries() {
  VorbisFileBinding().Unload();
  VorbisEncBinding().Unload();
  VorbisBinding().Unload();
  OggBinding().Unload();
}

long VorbisBitRateBps(TVorbisBitRate Rate) { return Rate <= bbr499 ? BitRateBps[Rate] : -1; }

// ---------------------------------------------------------------------------------
// Construction and properties
// ---------------------------------------------------------------------------------

TVorbisOut::TVorbisOut() : InputBuffer_(InputBlockSize) {
  // The libraries are loaded when the program starts; a component made without that
  // (a test, a tool) loads them here, once.
  LoadVorbisLibraries();
  RequireLoaded({&OggBinding(), &VorbisBinding(), &VorbisFileBinding(), &VorbisEncBinding()});
}

TVorbisOut::~TVorbisOut() { StopWorker(); }

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate Value) {
  Nominal_ = Value;
  if (Value < Minimum_) Minimum_ = Value;
  if (Value > Maximum_) Maximum_ = Value;
  if (Value == bbrAutoSelect) Maximum_ = bbrAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate Value) {
  if (Nominal_ == bbrAutoSelect) return;
  if (Value == bbrAutoSelect || Value >= Nominal_) Maximum_ = Value;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate Value) {
  if (Value <= Nominal_) Minimum_ = Value;
}

void TVorbisOut::SetFileMode(TFileOutputMode Value) { FileMode_ = Value; }

// ---------------------------------------------------------------------------------
// Start of a run (window thread)
// ---------------------------------------------------------------------------------

void TVorbisOut::CheckSettings() {
  Settings_ = ChooseSettings(*Input());
  CheckEncoderAccepts(Settings_);
}

void TVorbisOut::StartFile() {
  EndOfStream_ = false;
  InputEnded_ = false;
  HeadersWritten_ = false;
  Pages_.Clear();
  Carry_ = 0;
  StartEncoder(Settings_, SerialForRun());
  WriteHeaders();
  HeadersWritten_ = true;
}

TVorbisOut::TEncoderSettings TVorbisOut::ChooseSettings(TAudioInput& Source) const {
  TEncoderSettings settings;
  settings.Channels = Source.Channels();
  settings.SampleRate = Source.SampleRate();
  const int bits = Source.BitsPerSample();
  if (bits != 16 || (settings.Channels != 1 && settings.Channels != 2))
    throw EAudioException(
        "The Ogg Vorbis output needs 16-bit samples in 1 or 2 channels; the input "
        "delivers " +
        std::to_string(bits) + "-bit samples in " + ChannelText(settings.Channels) + ".");
  settings.Quality = Compression;
  settings.Managed = Nominal_ != bbrAutoSelect;
  if (settings.Managed) {
    settings.Nominal = VorbisBitRateBps(Nominal_);
    settings.Maximum = VorbisBitRateBps(Maximum_);
    if (settings.Maximum < settings.Nominal) settings.Maximum = settings.Nominal;
    settings.Minimum = VorbisBitRateBps(Minimum_);
    if (settings.Minimum < 0) settings.Minimum = settings.Nominal;
  }
  return settings;
}

// Sets the encoder up in Info; true when the encoder accepted the settings.
bool TVorbisOut::ApplySettings(vorbis_info& Info, const TEncoderSettings& Settings) {
  const TVorbisEncApi& enc = VorbisEncApi();
  if (Settings.Managed)
    return enc.vorbis_encode_init(&Info, Settings.Channels, Settings.SampleRate, Settings.Maximum,
                                  Settings.Nominal, Settings.Minimum) == 0;
  // The encoder's table look-up is not safe with a quality that is not a number.
  if (!std::isfinite(Settings.Quality)) return false;
  return enc.vorbis_encode_setup_vbr(&Info, Settings.Channels, Settings.SampleRate,
                                     Settings.Quality) == 0 &&
         enc.vorbis_encode_setup_init(&Info) == 0;
}

void TVorbisOut::CheckEncoderAccepts(const TEncoderSettings& Settings) {
  TScratchInfo probe;
  if (!ApplySettings(probe.Info, Settings)) RaiseRefused(Settings);
}

void TVorbisOut::RaiseRefused(const TEncoderSettings& Settings) {
  std::string what;
  if (Settings.Managed) {
    what = "with maximum " + std::to_string(Settings.Maximum) + ", nominal " +
           std::to_string(Settings.Nominal) + " and minimum " + std::to_string(Settings.Minimum) +
           " bit/s";
  } else {
    char quality[32];
    std::snprintf(quality, sizeof quality, "%.2f", static_cast<double>(Settings.Quality));
    what = std::string("at quality ") + quality;
  }
  throw EAudioException("The Ogg Vorbis encoder cannot encode " + ChannelText(Settings.Channels) +
                        " at " + std::to_string(Settings.SampleRate) + " Hz " + what + ".");
}

// `Serial`, unless the stream is appended to content that already has a logical
// stream of that number: every stream of a chained file needs a number of its own, or
// decoders take the new stream for the rest of the old one. Then the next free one.
int32_t TVorbisOut::SerialForRun() {
  if (FileMode_ != foAppend || !Stream) return Serial;
  const std::set<uint32_t> used = SerialsInStream(*Stream);
  auto serial = static_cast<uint32_t>(Serial);
  while (used.count(serial) != 0) ++serial;
  return static_cast<int32_t>(serial);
}

void TVorbisOut::StartEncoder(const TEncoderSettings& Settings, int32_t StreamSerial) {
  const TVorbisApi& vorbis = VorbisApi();
  vorbis.vorbis_info_init(&Run_.Info);
  Run_.InfoReady = true;
  if (!ApplySettings(Run_.Info, Settings)) RaiseRefused(Settings);
  Channels_ = Settings.Channels;
  vorbis.vorbis_comment_init(&Run_.Comment);
  Run_.CommentReady = true;
  AddComments();
  vorbis.vorbis_analysis_init(&Run_.Dsp, &Run_.Info);
  Run_.DspReady = true;
  vorbis.vorbis_block_init(&Run_.Dsp, &Run_.Block);
  Run_.BlockReady = true;
  OggApi().ogg_stream_init(&Run_.StreamState, StreamSerial);
  Run_.StreamReady = true;
}

// Each line gives one comment with its own name and value; empty lines give none.
void TVorbisOut::AddComments() {
  std::string name, value;
  for (const std::string& line : Comments) {
    if (line.empty()) continue;
    SplitCommentLine(line, name, value);
    VorbisApi().vorbis_comment_add_tag(&Run_.Comment, name.c_str(), value.c_str());
  }
}

// The three header packets, flushed so that the first audio packet starts a page.
void TVorbisOut::WriteHeaders() {
  const TOggApi& ogg = OggApi();
  VorbisApi().vorbis_analysis_headerout(&Run_.Dsp, &Run_.Comment, &Run_.Header, &Run_.HeaderComment,
                                        &Run_.HeaderCodebooks);
  ogg.ogg_stream_packetin(&Run_.StreamState, &Run_.Header);
  ogg.ogg_stream_packetin(&Run_.StreamState, &Run_.HeaderComment);
  ogg.ogg_stream_packetin(&Run_.StreamState, &Run_.HeaderCodebooks);
  while (ogg.ogg_stream_flush(&Run_.StreamState, &Run_.Page) != 0) WritePage(Run_.Page);
}

// ---------------------------------------------------------------------------------
// WriteStep and the end of a run (worker thread)
// ---------------------------------------------------------------------------------

bool TVorbisOut::WriteStep(bool Abort) {
  if (!Active) return true;
  if (Abort || EndOfStream_ || InputEnded_) return false;
  const int n = ReadInput(InputBuffer_.data() + Carry_, InputBlockSize - Carry_);
  if (n > 0)
    EncodeBlock(Carry_ + n);
  else
    EndInput();
  EmitPackets();
  return true;
}

// Hands the whole frames of the first Bytes bytes of `InputBuffer_` to the encoder; a
// partial frame at the end stays for the next block.
void TVorbisOut::EncodeBlock(int Bytes) {
  const int frameBytes = 2 * Channels_;
  const int frames = Bytes / frameBytes;
  Carry_ = Bytes - frames * frameBytes;
  if (frames > 0) {
    const TVorbisApi& vorbis = VorbisApi();
    const uint8_t* samples = InputBuffer_.data();
    if (Channels_ == 2) {
      float** buffer = vorbis.vorbis_analysis_buffer(&Run_.Dsp, StereoFramesPerBlock);
      float* left = buffer[0];
      float* right = buffer[1];
      for (int i = 0; i < frames; ++i) {
        left[i] = SampleAt(samples + 4 * i);
        right[i] = SampleAt(samples + 4 * i + 2);
      }
    } else {
      float* mono = vorbis.vorbis_analysis_buffer(&Run_.Dsp, MonoFramesPerBlock)[0];
      for (int i = 0; i < frames; ++i) mono[i] = SampleAt(samples + 2 * i);
    }
    // Zero frames would tell the encoder that the input has ended.
    vorbis.vorbis_analysis_wrote(&Run_.Dsp, frames);
  }
  if (Carry_ > 0)
    std::memmove(InputBuffer_.data(), InputBuffer_.data() + frames * frameBytes,
                 static_cast<size_t>(Carry_));
}

void TVorbisOut::EndInput() {
  VorbisApi().vorbis_analysis_wrote(&Run_.Dsp, 0);
  InputEnded_ = true;
}

// Encodes every block the encoder has ready and writes the pages that fill up.
void TVorbisOut::EmitPackets() {
  const TVorbisApi& vorbis = VorbisApi();
  while (vorbis.vorbis_analysis_blockout(&Run_.Dsp, &Run_.Block) == 1) {
    vorbis.vorbis_analysis(&Run_.Block, nullptr);
    vorbis.vorbis_bitrate_addblock(&Run_.Block);
    while (vorbis.vorbis_bitrate_flushpacket(&Run_.Dsp, &Run_.Packet) == 1) {
      OggApi().ogg_stream_packetin(&Run_.StreamState, &Run_.Packet);
      WritePages();
    }
  }
}

void TVorbisOut::WritePages() {
  const TOggApi& ogg = OggApi();
  while (!EndOfStream_ && ogg.ogg_stream_pageout(&Run_.StreamState, &Run_.Page) != 0) {
    WritePage(Run_.Page);
    if (ogg.ogg_page_eos(&Run_.Page) != 0) EndOfStream_ = true;
  }
}

void TVorbisOut::WritePage(const ogg_page& Page) {
  Pages_.Written(Stream->Position(), Page.header, Page.header_len + Page.body_len, HeadersWritten_);
  Stream->Write(Page.header, Page.header_len);
  Stream->Write(Page.body, Page.body_len);
}

// A stream cut short by a full disk ends at its last whole page, which becomes the
// end-of-stream page. That needs no room.
void TVorbisOut::MendFile() {
  EndOfStream_ = true;  // nothing more is written to this stream
  Pages_.EndAtLastWholePage(*Stream);
}

bool TVorbisOut::HoldsAudio() { return Pages_.HoldsAudio(*Stream); }

// A run that ends before its input did (Abort, a failure, the output going away)
// still gets a complete stream: what the encoder holds is encoded, and the pages are
// written up to the end-of-stream mark, so the file decodes up to where it stopped.
// The comment lines belonged to the run, so they are emptied whatever happens.
void TVorbisOut::CompleteFile() {
  Comments.clear();
  if (!Run_.StreamReady || !Stream || EndOfStream_) return;
  if (!InputEnded_) EndInput();
  EmitPackets();
  const TOggApi& ogg = OggApi();
  while (!EndOfStream_ && ogg.ogg_stream_flush(&Run_.StreamState, &Run_.Page) != 0) {
    WritePage(Run_.Page);
    if (ogg.ogg_page_eos(&Run_.Page) != 0) EndOfStream_ = true;
  }
}

// The comment lines belong to one file, also when its set-up failed.
void TVorbisOut::ReleaseRun() {
  Comments.clear();
  Run_.Release();
  Pages_.Clear();
}

void TVorbisOut::TRunRecords::Release() {
  const TOggApi& ogg = OggApi();
  const TVorbisApi& vorbis = VorbisApi();
  if (StreamReady && ogg.ogg_stream_clear) ogg.ogg_stream_clear(&StreamState);
  if (BlockReady && vorbis.vorbis_block_clear) vorbis.vorbis_block_clear(&Block);
  if (DspReady && vorbis.vorbis_dsp_clear) vorbis.vorbis_dsp_clear(&Dsp);
  if (CommentReady && vorbis.vorbis_comment_clear) vorbis.vorbis_comment_clear(&Comment);
  if (InfoReady && vorbis.vorbis_info_clear) vorbis.vorbis_info_clear(&Info);
  StreamReady = BlockReady = DspReady = CommentReady = InfoReady = false;
}

#include "outputs/audio_opus.h"

#include <cstring>
#include <filesystem>

#include "byte_order.h"
#include "outputs/tag_text.h"

namespace {

constexpr int SampleBits = 16;
// The longest stretch of audio one Ogg page holds, in samples at 48 kHz: a quarter of a
// second, so that a file cut short by a full disk loses little and a small disk keeps
// some audio. The page headers then take about 0.4 % more of a 160 kbit/s file than
// with pages of a second.
constexpr int MuxingDelay = 12000;

// Where an Ogg page header holds the granule position.
constexpr int GranuleAt = 6;

int64_t GranuleOf(const unsigned char* Page) {
  return static_cast<int64_t>(GetLe32(Page + GranuleAt)) |
         (static_cast<int64_t>(GetLe32(Page + GranuleAt + 4)) << 32);
}

}  // namespace

TOpusOut::TOpusOut() : InputBuffer_(InputBlockSize) {
  OpusEncBinding().Load();
  Library_ = OpusEncBinding().Library();
  if (!Library_) throw EAudioException(OpusEncBinding().NotLoadedMessage());
}

TOpusOut::~TOpusOut() {
  StopWorker();
  OpusEncBinding().Unload();
}

// ---------------------------------------------------------------------------------
// Start of a run (window thread)
// ---------------------------------------------------------------------------------

void TOpusOut::CheckSettings() {
  TAudioInput& source = *Input();
  const int bits = source.BitsPerSample();
  const int channels = source.Channels();
  const int rate = source.SampleRate();
  if (bits != SampleBits || (channels != 1 && channels != 2))
    throw EAudioException(
        "The Opus output needs 16-bit samples in 1 or 2 channels; the input delivers " +
        std::to_string(bits) + "-bit samples in " + ChannelText(channels) + ".");
  if (rate < MinSampleRate || rate > MaxSampleRate)
    throw EAudioException(
        "The Opus output takes sample rates from 8000 to 192000 Hz; the input "
        "delivers " +
        std::to_string(rate) + " Hz.");
  if (Bitrate < MinBitrate || Bitrate > MaxBitrate(channels))
    throw EAudioException("The Opus bit rate is " + std::to_string(Bitrate) + " kbit/s; for " +
                          ChannelText(channels) + " it must be from " + std::to_string(MinBitrate) +
                          " to " + std::to_string(MaxBitrate(channels)) + ".");
  if (Complexity < MinComplexity || Complexity > MaxComplexity)
    throw EAudioException("The Opus complexity is " + std::to_string(Complexity) +
                          "; it must be from 0 to 10.");
  CommentList_ = CommentList();
}

// Each line gives one comment with its own name and value; empty lines give none.
TOpusOut::TCommentsHandle TOpusOut::CommentList() const {
  TCommentsHandle list(Api().ope_comments_create(), TCommentsDeleter{&Api()});
  if (!list) throw EAudioException("Out of memory for the Opus comments.");
  std::string name, value;
  for (const std::string& line : Comments) {
    if (line.empty()) continue;
    SplitCommentLine(line, name, value);
    if (!ValidCommentName(name))
      throw EAudioException("The comment line \"" + line +
                            "\" cannot be stored in an Opus file: a name holds printable ASCII "
                            "other than \"=\".");
    const int result = Api().ope_comments_add(list.get(), name.c_str(), value.c_str());
    if (result != OPE_OK) RaiseEncoderFailure(result);
  }
  return list;
}

void TOpusOut::StartFile() {
  Carry_ = 0;
  Drained_ = false;
  Pages_.Clear();
  CreateEncoder();
}

void TOpusOut::CreateEncoder() {
  TAudioInput& source = *Input();
  Channels_ = source.Channels();
  if (!CommentList_) CommentList_ = CommentList();
  int error = OPE_OK;
  // Channel mapping family 0: mono or stereo in one stream, as decoders expect.
  Encoder_ = TEncoderHandle(
      Api().ope_encoder_create_pull(CommentList_.get(), source.SampleRate(), Channels_, 0, &error),
      TEncoderDeleter{&Api()});
  if (!Encoder_ || error != OPE_OK) RaiseEncoderFailure(error);
  OggOpusEnc* encoder = Encoder_.get();
  const auto& control = Api().ope_encoder_ctl;
  Configure(control(encoder, OPUS_SET_BITRATE(Bitrate * 1000)), "bit rate");
  Configure(control(encoder, OPUS_SET_COMPLEXITY(Complexity)), "complexity");
  Configure(control(encoder, OPUS_SET_VBR(Vbr ? 1 : 0)), "bit rate mode");
  // Variable means unconstrained: a frame may take what it needs.
  if (Vbr) Configure(control(encoder, OPUS_SET_VBR_CONSTRAINT(0)), "bit rate mode");
  // The input holds 16 significant bits; the codec spends nothing below them.
  Configure(control(encoder, OPUS_SET_LSB_DEPTH(SampleBits)), "sample depth");
  // Frames of 20 ms, the library's own choice, but stated: the library (0.2.1) reads
  // this setting at the end of the stream without having set it, and a stray value
  // would change the last frame from run to run.
  Configure(control(encoder, OPUS_SET_EXPERT_FRAME_DURATION(OPUS_FRAMESIZE_20_MS)), "frame size");
  Configure(control(encoder, OPE_SET_MUXING_DELAY(MuxingDelay)), "page length");
  Configure(control(encoder, OPE_SET_SERIALNO(static_cast<opus_int32>(StreamSerial()))),
            "stream serial number");
  StartStream();
}

// Writes the header pages. A write of no samples does that, and also sets the end of the
// stream, which the library (0.2.1) otherwise leaves unset until audio is written: a run
// that ends before its input delivered anything would drain an encoder that does not
// know where its stream ends.
void TOpusOut::StartStream() {
  const int16_t none = 0;
  const int result = Api().ope_encoder_write(Encoder_.get(), &none, 0);
  if (result != OPE_OK) RaiseEncoderFailure(result);
  WritePages();
}

void TOpusOut::Configure(int Result, const char* Option) const {
  if (Result != OPE_OK)
    throw EAudioException(std::string("The Opus encoder refused its ") + Option + ": " +
                          Api().ope_strerror(Result) + ".");
}

// The serial number of the file's logical stream, from the file's name: the same
// track gives the same file whichever run wrote it, and two tracks of a disc joined
// into one chained file still have streams of their own.
uint32_t TOpusOut::StreamSerial() const {
  const std::string name = std::filesystem::path(FileName).filename().string();
  uint32_t hash = 2166136261u;
  for (const char c : name) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  return hash & 0x7FFFFFFFu;
}

[[noreturn]] void TOpusOut::RaiseEncoderFailure(int Code) const {
  throw EAudioException(std::string("The Opus encoder failed: ") + Api().ope_strerror(Code) + ".");
}

// ---------------------------------------------------------------------------------
// WriteStep and the end of a run (worker thread)
// ---------------------------------------------------------------------------------

bool TOpusOut::WriteStep(bool Abort) {
  if (!Active) return true;
  if (Abort || Drained_) return false;
  const int n = ReadInput(InputBuffer_.data() + Carry_, InputBlockSize - Carry_);
  if (n == 0) return false;
  Encode(Carry_ + n);
  return true;
}

// Hands the whole frames of the first Bytes bytes of `InputBuffer_` to the encoder and
// writes the pages it has ready; a partial frame at the end stays for the next block.
void TOpusOut::Encode(int Bytes) {
  const int frameBytes = 2 * Channels_;
  const int frames = Bytes / frameBytes;
  const int samples = frames * Channels_;
  Carry_ = Bytes - frames * frameBytes;
  if (frames > 0) {
    Samples_.resize(static_cast<size_t>(samples));
    const uint8_t* bytes = InputBuffer_.data();
    for (int i = 0; i < samples; ++i) Samples_[i] = static_cast<int16_t>(GetLe16(bytes + 2 * i));
    const int result = Api().ope_encoder_write(Encoder_.get(), Samples_.data(), frames);
    if (result != OPE_OK) RaiseEncoderFailure(result);
    WritePages();
  }
  if (Carry_ > 0)
    std::memmove(InputBuffer_.data(), InputBuffer_.data() + frames * frameBytes,
                 static_cast<size_t>(Carry_));
}

void TOpusOut::WritePages() {
  unsigned char* page = nullptr;
  opus_int32 length = 0;
  int result;
  while ((result = Api().ope_encoder_get_page(Encoder_.get(), &page, &length, 0)) == 1)
    WritePage(page, length);
  if (result != 0) RaiseEncoderFailure(result);
}

void TOpusOut::WritePage(const unsigned char* Page, int32_t Length) {
  Pages_.Written(Stream->Position(), Page, Length, GranuleOf(Page) > 0);
  Stream->Write(Page, Length);
}

// A run that ends before its input did (Abort, a failure, the output going away) still
// gets a complete stream: the encoder codes what it holds, the last page states the
// length given, and it is marked as the end of the stream. The comment lines belonged to
// the run, so they are emptied whatever happens.
void TOpusOut::CompleteFile() {
  Comments.clear();
  if (!Encoder_ || Drained_ || !Stream) return;
  Drained_ = true;
  const int result = Api().ope_encoder_drain(Encoder_.get());
  if (result != OPE_OK) RaiseEncoderFailure(result);
  WritePages();
}

void TOpusOut::ReleaseRun() {
  Encoder_.reset();
  CommentList_.reset();
  Pages_.Clear();
}

// A stream cut short by a full disk ends at its last whole page, which becomes the
// end-of-stream page. That needs no room. Its granule position already states the
// samples of the packets it ends.
void TOpusOut::MendFile() {
  Drained_ = true;  // nothing more is written to this stream
  Pages_.EndAtLastWholePage(*Stream);
}

bool TOpusOut::HoldsAudio() { return Pages_.HoldsAudio(*Stream); }

#include "outputs/audio_flac.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "outputs/tag_text.h"

namespace {

// The file's signature, the length of a metadata block header, and the block types and
// lengths that a mended file's fix-ups read and write.
constexpr int64_t SignatureLength = 4;
constexpr int64_t BlockHeaderLength = 4;
constexpr int StreamInfoType = 0;
constexpr int SeekTableType = 3;
constexpr int64_t StreamInfoLength = 34;
constexpr int64_t SeekPointLength = 18;
constexpr uint64_t PlaceholderPoint = 0xFFFFFFFFFFFFFFFFull;
// STREAMINFO: the byte whose low four bits start the 36-bit sample count, and the MD5.
constexpr int SampleCountAt = 13;
constexpr int Md5At = 18;

constexpr int SampleBits = 16;
// The highest sample rate a FLAC stream can state.
constexpr int MaxSampleRate = 1048575;
constexpr int MaxChannels = 8;

// FLAC's integers are big-endian.
uint32_t GetBe24(const uint8_t* At) {
  return (static_cast<uint32_t>(At[0]) << 16) | (static_cast<uint32_t>(At[1]) << 8) | At[2];
}

void PutBe(uint8_t* Bytes, uint64_t Value, int Count) {
  for (int i = Count - 1; i >= 0; --i, Value >>= 8) Bytes[i] = static_cast<uint8_t>(Value);
}

}  // namespace

TFlacOut::TFlacOut() : InputBuffer_(InputBlockSize) {
  FlacBinding().Load();
  Library_ = FlacBinding().Library();
  if (!Library_) throw EAudioException(FlacBinding().NotLoadedMessage());
}

TFlacOut::~TFlacOut() {
  StopWorker();
  FlacBinding().Unload();
}

// ---------------------------------------------------------------------------------
// Start of a run (window thread)
// ---------------------------------------------------------------------------------

void TFlacOut::CheckSettings() {
  if (CompressionLevel < MinCompressionLevel || CompressionLevel > MaxCompressionLevel)
    throw EAudioException("The FLAC compression level is " + std::to_string(CompressionLevel) +
                          "; it must be from 0 to 8.");
  TAudioInput& source = *Input();
  const int bits = source.BitsPerSample();
  const int channels = source.Channels();
  const int rate = source.SampleRate();
  if (bits != SampleBits || channels < 1 || channels > MaxChannels)
    throw EAudioException(
        "The FLAC output needs 16-bit samples in 1 to 8 channels; the input delivers " +
        std::to_string(bits) + "-bit samples in " + ChannelText(channels) + ".");
  if (rate < 1 || rate > MaxSampleRate)
    throw EAudioException("The FLAC output cannot store a sample rate of " + std::to_string(rate) +
                          " Hz.");
  CommentBlock_ = CommentBlock();
}

void TFlacOut::StartFile() {
  Carry_ = 0;
  Frames_.clear();
  StreamFailure_ = nullptr;
  Completed_ = false;
  FileStart_ = Stream ? Stream->Position() : 0;
  CreateEncoder(*Input());
}

TFlacOut::TMetadataHandle TFlacOut::NewBlock(FLAC__MetadataType Type) const {
  TMetadataHandle block(Flac().FLAC__metadata_object_new(Type), TMetadataDeleter{&Flac()});
  if (!block) throw EAudioException("Out of memory for a FLAC metadata block.");
  return block;
}

// Each line gives one comment with its own name and value; empty lines give none.
TFlacOut::TMetadataHandle TFlacOut::CommentBlock() const {
  TMetadataHandle block = NewBlock(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  std::string name, value;
  for (const std::string& line : Comments) {
    if (line.empty()) continue;
    SplitCommentLine(line, name, value);
    FLAC__StreamMetadata_VorbisComment_Entry entry{};
    if (!Flac().FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                               value.c_str()))
      throw EAudioException("The comment line \"" + line +
                            "\" cannot be stored in a FLAC file: a name holds printable ASCII "
                            "other than \"=\", a value UTF-8 text.");
    // The block takes the entry's text over; it is freed here only when it does not.
    if (!Flac().FLAC__metadata_object_vorbiscomment_append_comment(block.get(), entry, false)) {
      std::free(entry.entry);
      throw EAudioException("Out of memory for a FLAC comment.");
    }
  }
  return block;
}

// Points every `SeekPointSpacingSeconds` of the expected length; the encoder fills in
// those that its frames reach.
TFlacOut::TMetadataHandle TFlacOut::SeekTableTemplate(uint64_t TotalFrames) const {
  TMetadataHandle block = NewBlock(FLAC__METADATA_TYPE_SEEKTABLE);
  const auto spacing = static_cast<uint32_t>(SampleRate_) * SeekPointSpacingSeconds;
  if (!Flac().FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
          block.get(), spacing, TotalFrames) ||
      !Flac().FLAC__metadata_object_seektable_template_sort(block.get(), true))
    throw EAudioException("Out of memory for a FLAC seek table.");
  return block;
}

void TFlacOut::CreateEncoder(TAudioInput& Source) {
  const TFlacFunctions& flac = Flac();
  Channels_ = Source.Channels();
  SampleRate_ = Source.SampleRate();
  const int32_t size = Source.Size;
  const uint64_t totalFrames = size > 0 ? static_cast<uint64_t>(size) / (2u * Channels_) : 0;
  Encoder_ = TEncoderHandle(flac.FLAC__stream_encoder_new(), TEncoderDeleter{&flac});
  if (!Encoder_) throw EAudioException("Out of memory for the FLAC encoder.");
  FLAC__StreamEncoder* encoder = Encoder_.get();
  flac.FLAC__stream_encoder_set_channels(encoder, static_cast<uint32_t>(Channels_));
  flac.FLAC__stream_encoder_set_bits_per_sample(encoder, SampleBits);
  flac.FLAC__stream_encoder_set_sample_rate(encoder, static_cast<uint32_t>(SampleRate_));
  flac.FLAC__stream_encoder_set_compression_level(encoder, static_cast<uint32_t>(CompressionLevel));
  std::vector<FLAC__StreamMetadata*> blocks;
  // A source that does not know its length gets no seek table: its points could not
  // be spaced.
  if (totalFrames > 0) {
    flac.FLAC__stream_encoder_set_total_samples_estimate(encoder, totalFrames);
    SeekTable_ = SeekTableTemplate(totalFrames);
    blocks.push_back(SeekTable_.get());
  }
  if (!CommentBlock_) CommentBlock_ = CommentBlock();
  blocks.push_back(CommentBlock_.get());
  Padding_ = NewBlock(FLAC__METADATA_TYPE_PADDING);
  Padding_->length = PaddingBytes;
  blocks.push_back(Padding_.get());
  flac.FLAC__stream_encoder_set_metadata(encoder, blocks.data(),
                                         static_cast<uint32_t>(blocks.size()));
  const FLAC__StreamEncoderInitStatus status = flac.FLAC__stream_encoder_init_stream(
      encoder, WriteCallback, SeekCallback, TellCallback, nullptr, this);
  if (StreamFailure_) std::rethrow_exception(StreamFailure_);
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    throw EAudioException("The FLAC encoder refused its set-up for " + ChannelText(Channels_) +
                          " at " + std::to_string(SampleRate_) + " Hz (status " +
                          std::to_string(static_cast<int>(status)) + ").");
}

// ---------------------------------------------------------------------------------
// WriteStep and the end of a run (worker thread)
// ---------------------------------------------------------------------------------

bool TFlacOut::WriteStep(bool Abort) {
  if (!Active) return true;
  if (Abort) return false;
  const int n = ReadInput(InputBuffer_.data() + Carry_, InputBlockSize - Carry_);
  if (n == 0) return false;
  Encode(Carry_ + n);
  return true;
}

// Hands the whole frames of the first Bytes bytes of `InputBuffer_` to the encoder; a
// partial frame at the end stays for the next block.
void TFlacOut::Encode(int Bytes) {
  const int frameBytes = 2 * Channels_;
  const int frames = Bytes / frameBytes;
  const int samples = frames * Channels_;
  Carry_ = Bytes - frames * frameBytes;
  if (frames > 0) {
    Samples_.resize(static_cast<size_t>(samples));
    const uint8_t* bytes = InputBuffer_.data();
    for (int i = 0; i < samples; ++i) Samples_[i] = static_cast<int16_t>(GetLe16(bytes + 2 * i));
    if (!Flac().FLAC__stream_encoder_process_interleaved(Encoder_.get(), Samples_.data(),
                                                         static_cast<uint32_t>(frames)))
      RaiseEncoderFailure();
  }
  if (Carry_ > 0)
    std::memmove(InputBuffer_.data(), InputBuffer_.data() + frames * frameBytes,
                 static_cast<size_t>(Carry_));
}

// The stream's own failure says best what went wrong; else the encoder's state does.
void TFlacOut::RaiseEncoderFailure() {
  if (StreamFailure_) std::rethrow_exception(StreamFailure_);
  throw EAudioException(std::string("The FLAC encoder failed: ") +
                        Flac().FLAC__stream_encoder_get_resolved_state_string(Encoder_.get()));
}

// A run that ends before its input did (Abort, a failure, the output going away) is
// finished like any other: the encoder writes what it holds and states the true
// length and MD5. The seek table's points were spaced over the length expected, so
// those that a shorter run never reached are made placeholders. When writing has
// failed, the encoder can do neither, and the file is mended instead. The comment lines
// belonged to the run, so they are emptied whatever happens.
void TFlacOut::CompleteFile() {
  Comments.clear();
  if (!Encoder_ || Completed_ || !Stream) return;
  Completed_ = true;
  const bool finished = Flac().FLAC__stream_encoder_finish(Encoder_.get());
  TFirstFailure failure;
  if (!finished) failure.Attempt([this] { RaiseEncoderFailure(); });
  const bool writingFailed = !finished || StreamFailure_;
  failure.Attempt([this, writingFailed] { FixUpHeaders(writingFailed); });
  failure.Raise();
}

// A stream that lost writes after the encoder finished well (its last bytes did not
// reach the disk) is mended as one that failed while encoding.
void TFlacOut::MendFile() {
  if (Encoder_) FixUpHeaders(true);
}

// At least one whole frame, with nothing lost before its end.
bool TFlacOut::HoldsAudio() {
  const int64_t intact = Stream->IntactLength();
  return !Frames_.empty() && Frames_.front().Offset + Frames_.front().Bytes <= intact;
}

// The comment lines belong to one file, also when its set-up failed.
void TFlacOut::ReleaseRun() {
  Comments.clear();
  Encoder_.reset();
  SeekTable_.reset();
  CommentBlock_.reset();
  Padding_.reset();
  Frames_ = std::vector<TFrameMark>();
}

// ---------------------------------------------------------------------------------
// Header fix-ups at the end of a run
// ---------------------------------------------------------------------------------

// Points the seek table only into the frames of the file. After a failed write, first
// keeps the whole frames that reached the file and makes STREAMINFO state their sample
// count (with no MD5, which covered audio the file lacks).
void TFlacOut::FixUpHeaders(bool WritingFailed) {
  uint64_t samples = Frames_.empty() ? 0 : Frames_.back().FirstSample + Frames_.back().Samples;
  if (WritingFailed) {
    try {
      Stream->Flush();
    } catch (const EAudioException&) {
      // What the system did not take is dropped; the file is mended to what it holds.
    }
    samples = CutAfterLastWholeFrame();
  }
  // The walk ends at the file's end too: a device (which reads as endless zeros) or a
  // file cut within its metadata has no last block.
  const int64_t size = Stream->Size();
  int64_t at = FileStart_ + SignatureLength;
  uint8_t header[BlockHeaderLength];
  for (bool last = false; !last && at + BlockHeaderLength <= size;) {
    Stream->Seek(at);
    if (Stream->Read(header, BlockHeaderLength) != BlockHeaderLength) break;
    last = (header[0] & 0x80) != 0;
    const int type = header[0] & 0x7F;
    const auto length = static_cast<uint32_t>(GetBe24(header + 1));
    const int64_t body = at + BlockHeaderLength;
    if (type == StreamInfoType && length == StreamInfoLength && WritingFailed)
      RewriteStreamInfoLength(body, samples);
    else if (type == SeekTableType)
      RewriteSeekTable(body, length, samples);
    at = body + length;
  }
}

// Cuts a frame that the file holds only part of; returns the samples of the frames
// kept.
uint64_t TFlacOut::CutAfterLastWholeFrame() {
  const int64_t size = Stream->IntactLength();
  const auto whole = std::find_if(Frames_.begin(), Frames_.end(), [size](const TFrameMark& Frame) {
    return Frame.Offset + Frame.Bytes > size;
  });
  // The frames before the first one cut short all end within the file; a first frame
  // cut short may start beyond its end (the metadata was cut short), and cutting there
  // would lengthen the file.
  if (whole != Frames_.end() && whole->Offset < Stream->Size()) Stream->Truncate(whole->Offset);
  Frames_.erase(whole, Frames_.end());
  return Frames_.empty() ? 0 : Frames_.back().FirstSample + Frames_.back().Samples;
}

void TFlacOut::RewriteStreamInfoLength(int64_t BlockBody, uint64_t Samples) {
  uint8_t info[StreamInfoLength];
  Stream->Seek(BlockBody);
  if (Stream->Read(info, StreamInfoLength) != StreamInfoLength) return;
  info[SampleCountAt] =
      static_cast<uint8_t>((info[SampleCountAt] & 0xF0) | ((Samples >> 32) & 0x0F));
  PutBe(info + SampleCountAt + 1, Samples & 0xFFFFFFFFu, 4);
  std::memset(info + Md5At, 0, 16);
  Stream->Seek(BlockBody);
  Stream->Write(info, StreamInfoLength);
}

// One point for each spacing that the kept frames reach, at the frame that holds it;
// the rest of the block's points become placeholders.
void TFlacOut::RewriteSeekTable(int64_t BlockBody, uint32_t Length, uint64_t Samples) {
  const int64_t points = Length / SeekPointLength;
  std::vector<uint8_t> table(static_cast<size_t>(points * SeekPointLength));
  const uint64_t spacing = static_cast<uint64_t>(SampleRate_) * SeekPointSpacingSeconds;
  int64_t written = 0;
  const TFrameMark* previous = nullptr;
  for (uint64_t target = 0; target < Samples && written < points; target += spacing) {
    const auto frame = std::upper_bound(
        Frames_.begin(), Frames_.end(), target,
        [](uint64_t Sample, const TFrameMark& Frame) { return Sample < Frame.FirstSample; });
    const TFrameMark& holder = *(frame - 1);
    if (&holder == previous) continue;
    previous = &holder;
    uint8_t* point = table.data() + written++ * SeekPointLength;
    PutBe(point, holder.FirstSample, 8);
    PutBe(point + 8, static_cast<uint64_t>(holder.Offset - Frames_.front().Offset), 8);
    PutBe(point + 16, holder.Samples, 2);
  }
  for (; written < points; ++written)
    PutBe(table.data() + written * SeekPointLength, PlaceholderPoint, 8);
  Stream->Seek(BlockBody);
  Stream->Write(table.data(), static_cast<int64_t>(table.size()));
}

// ---------------------------------------------------------------------------------
// The encoder's callbacks (worker thread; the window thread during `Setup`)
// ---------------------------------------------------------------------------------

// Each frame arrives whole in one call (Samples > 0); metadata with Samples = 0.
FLAC__StreamEncoderWriteStatus TFlacOut::WriteCallback(const FLAC__StreamEncoder*,
                                                       const FLAC__byte Buffer[], size_t Bytes,
                                                       uint32_t Samples, uint32_t, void* Output) {
  auto& self = *static_cast<TFlacOut*>(Output);
  if (self.StreamFailure_ || !self.Stream) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  try {
    const int64_t offset = self.Stream->Position();
    self.Stream->Write(Buffer, static_cast<int64_t>(Bytes));
    if (Samples > 0) {
      const uint64_t first =
          self.Frames_.empty() ? 0 : self.Frames_.back().FirstSample + self.Frames_.back().Samples;
      self.Frames_.push_back(TFrameMark{offset, static_cast<int64_t>(Bytes), first, Samples});
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  } catch (...) {
    self.StreamFailure_ = std::current_exception();
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  }
}

FLAC__StreamEncoderSeekStatus TFlacOut::SeekCallback(const FLAC__StreamEncoder*,
                                                     FLAC__uint64 Offset, void* Output) {
  auto& self = *static_cast<TFlacOut*>(Output);
  if (!self.Stream) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  self.Stream->Seek(static_cast<int64_t>(Offset));
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus TFlacOut::TellCallback(const FLAC__StreamEncoder*,
                                                     FLAC__uint64* Offset, void* Output) {
  auto& self = *static_cast<TFlacOut*>(Output);
  if (!self.Stream) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  *Offset = static_cast<FLAC__uint64>(self.Stream->Position());
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

#include "outputs/tag_rewrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "bindings/flac.h"
#include "bindings/ogg.h"
#include "byte_order.h"
#include "core/audio_exception.h"
#include "core/file_stream.h"

namespace {

using TBytes = std::vector<uint8_t>;
constexpr size_t CopyChunk = 1 << 16;

// ---------------------------------------------------------------------------------
// Shared
// ---------------------------------------------------------------------------------

// The name and value of one line; free text becomes a COMMENT.
std::pair<std::string, std::string> NameAndValue(const std::string& Line) {
  const size_t equals = Line.find('=');
  if (equals == std::string::npos || equals == 0)
    return {"COMMENT", equals == 0 ? Line.substr(1) : Line};
  return {Line.substr(0, equals), Line.substr(equals + 1)};
}

std::string Upper(std::string Text) {
  for (char& c : Text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return Text;
}

// A file opened for reading, closed by the destructor.
class TReadFile {
 public:
  explicit TReadFile(const std::string& FileName) : Fd_(::open(FileName.c_str(), O_RDONLY)) {
    if (Fd_ < 0) throw EAudioException(std::string("it cannot be read: ") + std::strerror(errno));
  }
  ~TReadFile() { ::close(Fd_); }
  TReadFile(const TReadFile&) = delete;
  TReadFile& operator=(const TReadFile&) = delete;

  // Up to Count bytes; 0 at the end.
  size_t Read(void* Buffer, size_t Count) {
    ssize_t got;
    do got = ::read(Fd_, Buffer, Count);
    while (got < 0 && errno == EINTR);
    if (got < 0) throw EAudioException(std::string("it cannot be read: ") + std::strerror(errno));
    return static_cast<size_t>(got);
  }
  // Exactly Count bytes, or what the file still holds.
  size_t ReadFully(void* Buffer, size_t Count) {
    size_t done = 0;
    for (size_t got;
         done < Count && (got = Read(static_cast<uint8_t*>(Buffer) + done, Count - done)) > 0;)
      done += got;
    return done;
  }

 private:
  int Fd_;
};

// Writes a new file beside FileName under a staging name with Write, then puts it in
// place of FileName; the staging file goes again when anything fails.
template <class WriteFile>
void ReplaceThroughStaging(const std::string& FileName, WriteFile&& Write) {
  const std::string staged = StagingNameFor(FileName);
  if (staged.empty()) throw EAudioException("it is not a regular file");
  try {
    TFileStream out(staged, TFileStream::TMode::Create, FileName);
    Write(out);
    out.Close();
  } catch (...) {
    DiscardStagedFile(staged);
    throw;
  }
  PublishStagedFile(staged, FileName);
}

// ---------------------------------------------------------------------------------
// FLAC
// ---------------------------------------------------------------------------------

const TFlacFunctions& Flac() { return FlacBinding().Functions(); }

struct TStdioCloser {
  void operator()(std::FILE* File) const { std::fclose(File); }
};
using TStdioFile = std::unique_ptr<std::FILE, TStdioCloser>;

struct TChainDeleter {
  void operator()(FLAC__Metadata_Chain* Chain) const { Flac().FLAC__metadata_chain_delete(Chain); }
};
struct TIteratorDeleter {
  void operator()(FLAC__Metadata_Iterator* It) const { Flac().FLAC__metadata_iterator_delete(It); }
};
struct TBlockDeleter {
  void operator()(FLAC__StreamMetadata* Block) const { Flac().FLAC__metadata_object_delete(Block); }
};

size_t StdioRead(void* Buffer, size_t Size, size_t Count, FLAC__IOHandle Handle) {
  return std::fread(Buffer, Size, Count, static_cast<std::FILE*>(Handle));
}
size_t StdioWrite(const void* Buffer, size_t Size, size_t Count, FLAC__IOHandle Handle) {
  return std::fwrite(Buffer, Size, Count, static_cast<std::FILE*>(Handle));
}
int StdioSeek(FLAC__IOHandle Handle, FLAC__int64 Offset, int Whence) {
  return ::fseeko(static_cast<std::FILE*>(Handle), Offset, Whence);
}
FLAC__int64 StdioTell(FLAC__IOHandle Handle) { return ::ftello(static_cast<std::FILE*>(Handle)); }
int StdioEof(FLAC__IOHandle Handle) { return std::feof(static_cast<std::FILE*>(Handle)); }

constexpr FLAC__IOCallbacks StdioCallbacks{StdioRead, StdioWrite, StdioSeek,
                                           StdioTell, StdioEof,   nullptr};

TStdioFile OpenStdio(const std::string& FileName, const char* Mode) {
  TStdioFile file(std::fopen(FileName.c_str(), Mode));
  if (!file) throw EAudioException(std::string("it cannot be opened: ") + std::strerror(errno));
  return file;
}

// Flushes File to the disk and closes it, reporting what only that reveals (a full disk).
void CloseWritten(TStdioFile File) {
  const bool flushed = std::fflush(File.get()) == 0 && ::fsync(::fileno(File.get())) == 0;
  const int error = errno;
  if (std::fclose(File.release()) != 0 || !flushed)
    throw EAudioException(std::string("it cannot be written: ") +
                          std::strerror(flushed ? errno : error));
}

// The metadata blocks that libFLAC rewrites in place (one seek, then the blocks in order),
// gathered in memory so that they reach the file in one write.
struct TGatheredBlocks {
  int64_t Start = -1;  // where the first byte goes
  int64_t Position = 0;
  std::string Bytes;
};

size_t GatherWrite(const void* Buffer, size_t Size, size_t Count, FLAC__IOHandle Handle) {
  auto& gathered = *static_cast<TGatheredBlocks*>(Handle);
  if (gathered.Start < 0) gathered.Start = gathered.Position;
  // One run of bytes is what one write can take; anything else is refused.
  if (gathered.Position != gathered.Start + static_cast<int64_t>(gathered.Bytes.size())) return 0;
  gathered.Bytes.append(static_cast<const char*>(Buffer), Size * Count);
  gathered.Position += static_cast<int64_t>(Size * Count);
  return Count;
}
int GatherSeek(FLAC__IOHandle Handle, FLAC__int64 Offset, int Whence) {
  if (Whence != SEEK_SET) return -1;
  static_cast<TGatheredBlocks*>(Handle)->Position = Offset;
  return 0;
}
FLAC__int64 GatherTell(FLAC__IOHandle Handle) {
  return static_cast<TGatheredBlocks*>(Handle)->Position;
}

constexpr FLAC__IOCallbacks GatherCallbacks{nullptr,    GatherWrite, GatherSeek,
                                            GatherTell, nullptr,     nullptr};

// Puts the gathered blocks over the old ones with one write, then onto the disk: a kill
// leaves the old blocks or the new ones, never a file that mixes them.
void WriteGatheredBlocks(const std::string& FileName, const TGatheredBlocks& Blocks) {
  if (Blocks.Start < 0) return;
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw EAudioException(std::string("it cannot be opened: ") + std::strerror(errno));
  ssize_t wrote;
  do wrote = ::pwrite(fd, Blocks.Bytes.data(), Blocks.Bytes.size(), Blocks.Start);
  while (wrote < 0 && errno == EINTR);
  int error = wrote < 0 ? errno : wrote != static_cast<ssize_t>(Blocks.Bytes.size()) ? EIO : 0;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0)
    throw EAudioException(std::string("it cannot be written: ") + std::strerror(error));
}

std::string ChainFailure(FLAC__Metadata_Chain* Chain, const char* What) {
  const FLAC__Metadata_ChainStatus status = Flac().FLAC__metadata_chain_status(Chain);
  switch (status) {
    case FLAC__METADATA_CHAIN_STATUS_NOT_A_FLAC_FILE: return "it is not a FLAC file";
    case FLAC__METADATA_CHAIN_STATUS_BAD_METADATA:
    case FLAC__METADATA_CHAIN_STATUS_READ_ERROR:
      return "its metadata blocks are damaged or cut short";
    case FLAC__METADATA_CHAIN_STATUS_MEMORY_ALLOCATION_ERROR: return "out of memory";
    default:
      return std::string(What) + " (libFLAC chain status " +
             std::to_string(static_cast<int>(status)) + ")";
  }
}

void FillComments(FLAC__StreamMetadata* Block, const TTagLines& Lines) {
  if (!Flac().FLAC__metadata_object_vorbiscomment_resize_comments(Block, 0))
    throw EAudioException("out of memory");
  for (const std::string& line : Lines) {
    if (line.empty()) continue;
    const auto [name, value] = NameAndValue(line);
    FLAC__StreamMetadata_VorbisComment_Entry entry{};
    if (!Flac().FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                               value.c_str()))
      throw EAudioException("the comment line \"" + line +
                            "\" cannot be stored: a name holds printable ASCII other than "
                            "\"=\", a value UTF-8 text");
    if (!Flac().FLAC__metadata_object_vorbiscomment_append_comment(Block, entry, false)) {
      std::free(entry.entry);
      throw EAudioException("out of memory");
    }
  }
}

// Puts Lines into the chain's comment block, adding one after STREAMINFO when it has none.
void SetChainComments(FLAC__Metadata_Chain* Chain, const TTagLines& Lines) {
  const TFlacFunctions& flac = Flac();
  std::unique_ptr<FLAC__Metadata_Iterator, TIteratorDeleter> it(flac.FLAC__metadata_iterator_new());
  if (!it) throw EAudioException("out of memory");
  flac.FLAC__metadata_iterator_init(it.get(), Chain);
  do {
    if (flac.FLAC__metadata_iterator_get_block_type(it.get()) == FLAC__METADATA_TYPE_VORBIS_COMMENT)
      return FillComments(flac.FLAC__metadata_iterator_get_block(it.get()), Lines);
  } while (flac.FLAC__metadata_iterator_next(it.get()));
  flac.FLAC__metadata_iterator_init(it.get(), Chain);
  std::unique_ptr<FLAC__StreamMetadata, TBlockDeleter> block(
      flac.FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
  if (!block) throw EAudioException("out of memory");
  FillComments(block.get(), Lines);
  if (!flac.FLAC__metadata_iterator_insert_block_after(it.get(), block.get()))
    throw EAudioException("out of memory");
  block.release();  // the chain owns it now
}

}  // namespace

void RewriteFlacTags(const std::string& FileName, const TTagLines& Lines) {
  FlacBinding().Load();
  RequireLoaded({&FlacBinding()});
  const auto library = FlacBinding().Library();  // held while the chain lives
  const TFlacFunctions& flac = Flac();
  std::unique_ptr<FLAC__Metadata_Chain, TChainDeleter> chain(flac.FLAC__metadata_chain_new());
  if (!chain) throw EAudioException("out of memory");
  TStdioFile in = OpenStdio(FileName, "rb");
  if (!flac.FLAC__metadata_chain_read_with_callbacks(chain.get(), in.get(), StdioCallbacks))
    throw EAudioException(ChainFailure(chain.get(), "its metadata cannot be read"));
  SetChainComments(chain.get(), Lines);
  if (!flac.FLAC__metadata_chain_check_if_tempfile_needed(chain.get(), true)) {
    TGatheredBlocks blocks;
    if (!flac.FLAC__metadata_chain_write_with_callbacks(chain.get(), true, &blocks,
                                                        GatherCallbacks))
      throw EAudioException(ChainFailure(chain.get(), "its metadata cannot be written"));
    return WriteGatheredBlocks(FileName, blocks);
  }
  const std::string staged = StagingNameFor(FileName);
  if (staged.empty()) throw EAudioException("it is not a regular file");
  try {
    TStdioFile out = OpenStdio(staged, "wb");
    if (!flac.FLAC__metadata_chain_write_with_callbacks_and_tempfile(
            chain.get(), true, in.get(), StdioCallbacks, out.get(), StdioCallbacks))
      throw EAudioException(ChainFailure(chain.get(), "the copy cannot be written"));
    CloseWritten(std::move(out));
  } catch (...) {
    DiscardStagedFile(staged);
    throw;
  }
  PublishStagedFile(staged, FileName);
}

// ---------------------------------------------------------------------------------
// Ogg Vorbis and Ogg Opus
// ---------------------------------------------------------------------------------

namespace {

constexpr char VorbisCommentMagic[] = "\x03vorbis";
constexpr char OpusTagsMagic[] = "OpusTags";

bool StartsWith(const TBytes& Packet, const char* Magic, size_t Length) {
  return Packet.size() >= Length && std::memcmp(Packet.data(), Magic, Length) == 0;
}

// The vendor string of a comment packet that starts with a magic of MagicLength bytes.
std::string VendorOf(const TBytes& Packet, size_t MagicLength) {
  if (Packet.size() < MagicLength + 4) throw EAudioException("its comment header is damaged");
  const uint32_t length = GetLe32(Packet.data() + MagicLength);
  if (length > Packet.size() - MagicLength - 4)
    throw EAudioException("its comment header is damaged");
  return std::string(Packet.begin() + static_cast<std::ptrdiff_t>(MagicLength + 4),
                     Packet.begin() + static_cast<std::ptrdiff_t>(MagicLength + 4 + length));
}

void PutLength(TBytes& Out, size_t Length) {
  uint8_t le[4];
  PutLe32(le, static_cast<uint32_t>(Length));
  Out.insert(Out.end(), le, le + 4);
}

void PutString(TBytes& Out, const std::string& Text) {
  PutLength(Out, Text.size());
  Out.insert(Out.end(), Text.begin(), Text.end());
}

// A comment name holds printable ASCII from space to "}" but no "=".
void CheckCommentName(const std::string& Name, const std::string& Line) {
  for (char c : Name)
    if (c < 0x20 || c > 0x7D || c == '=')
      throw EAudioException("the comment line \"" + Line +
                            "\" cannot be stored: a name holds printable ASCII other than \"=\"");
}

// The comment packet with the old one's vendor and Lines: Vorbis's with its framing bit.
TBytes CommentPacket(const TBytes& Old, bool Opus, const TTagLines& Lines) {
  const size_t magicLength = 8 - (Opus ? 0 : 1);
  TBytes packet(Old.begin(), Old.begin() + static_cast<std::ptrdiff_t>(magicLength));
  PutString(packet, VendorOf(Old, magicLength));
  std::vector<std::string> comments;
  for (const std::string& line : Lines) {
    if (line.empty()) continue;
    const auto [name, value] = NameAndValue(line);
    CheckCommentName(name, line);
    comments.push_back(name + "=" + value);
  }
  PutLength(packet, comments.size());
  for (const std::string& comment : comments) PutString(packet, comment);
  if (!Opus) packet.push_back(1);
  return packet;
}

struct TSyncState {
  ogg_sync_state Sync{};
  TSyncState() { OggApi().ogg_sync_init(&Sync); }
  ~TSyncState() { OggApi().ogg_sync_clear(&Sync); }
  TSyncState(const TSyncState&) = delete;
  TSyncState& operator=(const TSyncState&) = delete;
};

struct TStreamState {
  ogg_stream_state Stream{};
  explicit TStreamState(int Serial) { OggApi().ogg_stream_init(&Stream, Serial); }
  ~TStreamState() { OggApi().ogg_stream_clear(&Stream); }
  TStreamState(const TStreamState&) = delete;
  TStreamState& operator=(const TStreamState&) = delete;
};

// Reads an Ogg file page by page; every page's CRC is checked by libogg.
class TPageReader {
 public:
  explicit TPageReader(const std::string& FileName) : File_(FileName) {}

  // The next page; false at the end of the file. Raises on bytes that are no page
  // (damage) and on a page cut short at the end.
  bool Next(ogg_page& Page) {
    const TOggApi& ogg = OggApi();
    while (true) {
      const int result = ogg.ogg_sync_pageout(&Sync_.Sync, &Page);
      if (result == 1) return true;
      if (result < 0) throw EAudioException("it holds damaged Ogg pages");
      char* buffer = ogg.ogg_sync_buffer(&Sync_.Sync, CopyChunk);
      if (!buffer) throw EAudioException("out of memory");
      const size_t got = File_.Read(buffer, CopyChunk);
      if (got == 0) break;
      ogg.ogg_sync_wrote(&Sync_.Sync, static_cast<long>(got));
    }
    if (Sync_.Sync.fill > Sync_.Sync.returned)
      throw EAudioException("its last Ogg page is cut short (the file is truncated)");
    return false;
  }

 private:
  TReadFile File_;
  TSyncState Sync_;
};

void WritePage(TFileStream& Out, const ogg_page& Page) {
  Out.Write(Page.header, Page.header_len);
  Out.Write(Page.body, Page.body_len);
}

// The header packets of the stream, read from its first pages; the reader is left at
// the first audio page. Raises when the audio does not start on a page of its own.
struct THeaders {
  std::vector<TBytes> Packets;
  int Serial = 0;
  long Pages = 0;
  bool Opus = false;
};

THeaders ReadHeaders(TPageReader& Reader) {
  const TOggApi& ogg = OggApi();
  THeaders headers;
  ogg_page page;
  if (!Reader.Next(page) || !ogg.ogg_page_bos(&page))
    throw EAudioException("it does not start with an Ogg stream");
  headers.Serial = ogg.ogg_page_serialno(&page);
  TStreamState in(headers.Serial);
  size_t wanted = 1;  // known once the first packet tells the codec
  while (true) {
    if (ogg.ogg_page_serialno(&page) != headers.Serial)
      throw EAudioException("it holds more than one Ogg stream");
    ogg.ogg_stream_pagein(&in.Stream, &page);
    ++headers.Pages;
    ogg_packet packet;
    while (headers.Packets.size() < wanted && ogg.ogg_stream_packetout(&in.Stream, &packet) == 1) {
      headers.Packets.emplace_back(packet.packet, packet.packet + packet.bytes);
      if (headers.Packets.size() == 1) {
        headers.Opus = StartsWith(headers.Packets[0], "OpusHead", 8);
        if (!headers.Opus && !StartsWith(headers.Packets[0], "\x01vorbis", 7))
          throw EAudioException("its Ogg stream is neither Vorbis nor Opus");
        wanted = headers.Opus ? 2 : 3;
      }
    }
    if (headers.Packets.size() == wanted) break;
    if (!Reader.Next(page)) throw EAudioException("its header packets are cut short");
  }
  ogg_packet extra;
  if (ogg.ogg_stream_packetout(&in.Stream, &extra) != 0)
    throw EAudioException("its audio does not start on a page of its own");
  const TBytes& comments = headers.Packets[1];
  if (!StartsWith(comments, headers.Opus ? OpusTagsMagic : VorbisCommentMagic,
                  headers.Opus ? 8 : 7))
    throw EAudioException("its second header packet is no comment header");
  return headers;
}

// Pages the header packets: the first alone on the first page, the rest after it,
// flushed so that the audio starts a page. Returns the count of pages.
long WriteHeaderPages(TFileStream& Out, const THeaders& Headers) {
  const TOggApi& ogg = OggApi();
  TStreamState out(Headers.Serial);
  long pages = 0;
  ogg_page page;
  for (size_t i = 0; i < Headers.Packets.size(); ++i) {
    TBytes data = Headers.Packets[i];
    ogg_packet packet{};
    packet.packet = data.data();
    packet.bytes = static_cast<long>(data.size());
    packet.b_o_s = i == 0;
    packet.packetno = static_cast<ogg_int64_t>(i);
    ogg.ogg_stream_packetin(&out.Stream, &packet);
    if (i == 0 || i + 1 == Headers.Packets.size())
      for (; ogg.ogg_stream_flush(&out.Stream, &page) != 0; ++pages) WritePage(Out, page);
  }
  return pages;
}

}  // namespace

void RewriteOggTags(const std::string& FileName, const TTagLines& Lines) {
  OggBinding().Load();
  RequireLoaded({&OggBinding()});
  TPageReader reader(FileName);
  THeaders headers = ReadHeaders(reader);
  headers.Packets[1] = CommentPacket(headers.Packets[1], headers.Opus, Lines);
  ReplaceThroughStaging(FileName, [&](TFileStream& Out) {
    const long shift = WriteHeaderPages(Out, headers) - headers.Pages;
    const TOggApi& ogg = OggApi();
    ogg_page page;
    while (reader.Next(page)) {
      if (ogg.ogg_page_serialno(&page) != headers.Serial)
        throw EAudioException("it holds more than one Ogg stream");
      PutLe32(page.header + 18, static_cast<uint32_t>(GetLe32(page.header + 18) + shift));
      ogg.ogg_page_checksum_set(&page);
      WritePage(Out, page);
    }
  });
}

// ---------------------------------------------------------------------------------
// MP3
// ---------------------------------------------------------------------------------

namespace {

// "7" and "10" give "7/10"; without a total the number as it is.
std::string NumberOfTotal(const std::string& Number, const std::string& Total) {
  return Number.empty() || Total.empty() || Number.find('/') != std::string::npos
             ? Number
             : Number + "/" + Total;
}

// The length of the ID3v2 tag that Header (the file's first ten bytes) starts; 0 when
// it starts none.
int64_t Id3v2Length(const uint8_t* Header, size_t Got) {
  if (Got < 10 || std::memcmp(Header, "ID3", 3) != 0) return 0;
  if (Header[3] < 2 || Header[3] > 4 || ((Header[6] | Header[7] | Header[8] | Header[9]) & 0x80))
    throw EAudioException("its ID3v2 tag is damaged");
  const int64_t size =
      (Header[6] << 21) | (Header[7] << 14) | (Header[8] << 7) | static_cast<int64_t>(Header[9]);
  const bool footer = Header[3] == 4 && (Header[5] & 0x10);
  return Id3v2HeaderLength + size + (footer ? Id3v2HeaderLength : 0);
}

}  // namespace

TTagTexts Id3TextsOfLines(const TTagLines& Lines) {
  std::map<std::string, std::string> known;
  TTagTexts texts;
  const char* const Known[] = {"TITLE",      "ARTIST",     "ALBUM",     "DATE",    "TRACKNUMBER",
                               "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL", "COMMENT", "GENRE"};
  for (const std::string& line : Lines) {
    if (line.empty()) continue;
    const auto [name, value] = NameAndValue(line);
    const std::string upper = Upper(name);
    bool isKnown = false;
    for (const char* k : Known) isKnown = isKnown || upper == k;
    if (isKnown && known.count(upper) == 0)
      known[upper] = value;
    else
      texts.UserTexts.emplace_back(name, value);
  }
  texts.Title = known["TITLE"];
  texts.Artist = known["ARTIST"];
  texts.Album = known["ALBUM"];
  texts.Year = known["DATE"];
  texts.Comment = known["COMMENT"];
  texts.Genre = known["GENRE"];
  texts.Track = NumberOfTotal(known["TRACKNUMBER"], known["TRACKTOTAL"]);
  texts.Disc = NumberOfTotal(known["DISCNUMBER"], known["DISCTOTAL"]);
  return texts;
}

void RewriteMp3Tags(const std::string& FileName, const TTagLines& Lines) {
  const TBytes frames = Id3v2Frames(Id3TextsOfLines(Lines));
  TReadFile in(FileName);
  uint8_t header[10];
  const size_t got = in.ReadFully(header, sizeof header);
  const int64_t oldLength = Id3v2Length(header, got);
  TBytes skipped(header, header + got);
  // What lies after the old tag is the audio, copied as it is; its first frame must
  // be there, or the file is no MP3 file (or cut within its tag).
  if (oldLength > 0) {
    skipped.resize(static_cast<size_t>(oldLength) + 4);
    const size_t rest = in.ReadFully(skipped.data() + got, skipped.size() - got);
    if (rest + got < skipped.size()) throw EAudioException("it ends within its ID3v2 tag");
    skipped.erase(skipped.begin(), skipped.begin() + oldLength);
  }
  if (skipped.size() < 2 || skipped[0] != 0xFF || (skipped[1] & 0xE0) != 0xE0)
    throw EAudioException("no MPEG audio frame follows its ID3v2 tag");
  ReplaceThroughStaging(FileName, [&](TFileStream& Out) {
    if (!frames.empty()) {
      const TBytes tag = Id3v2Tag(frames, Id3v2Room(frames.size()));
      Out.Write(tag.data(), static_cast<int64_t>(tag.size()));
    }
    Out.Write(skipped.data(), static_cast<int64_t>(skipped.size()));
    std::vector<uint8_t> chunk(CopyChunk);
    for (size_t n; (n = in.Read(chunk.data(), chunk.size())) > 0;)
      Out.Write(chunk.data(), static_cast<int64_t>(n));
  });
}

// ---------------------------------------------------------------------------------
// Any format
// ---------------------------------------------------------------------------------

TTaggedFormat TaggedFormatOf(const std::string& FileName) {
  TReadFile in(FileName);
  uint8_t start[64] = {};
  const size_t got = in.ReadFully(start, sizeof start);
  if (got >= 4 && std::memcmp(start, "fLaC", 4) == 0) return TTaggedFormat::Flac;
  if (got >= 36 && std::memcmp(start, "OggS", 4) == 0) {
    // The first page holds one segment table and the first packet after it.
    const size_t packet = 27 + size_t{start[26]};
    if (packet + 8 <= got && std::memcmp(start + packet, "OpusHead", 8) == 0)
      return TTaggedFormat::OggOpus;
    return TTaggedFormat::OggVorbis;
  }
  if (got >= 3 && std::memcmp(start, "ID3", 3) == 0) return TTaggedFormat::Mp3;
  if (got >= 2 && start[0] == 0xFF && (start[1] & 0xE0) == 0xE0) return TTaggedFormat::Mp3;
  throw EAudioException("it is neither a FLAC, Ogg nor MP3 file");
}

void RewriteTags(const std::string& FileName, const TTagLines& Lines) {
  try {
    RefuseProtectedFile(FileName);
    switch (TaggedFormatOf(FileName)) {
      case TTaggedFormat::Flac: return RewriteFlacTags(FileName, Lines);
      case TTaggedFormat::OggVorbis:
      case TTaggedFormat::OggOpus: return RewriteOggTags(FileName, Lines);
      case TTaggedFormat::Mp3: return RewriteMp3Tags(FileName, Lines);
    }
  } catch (const std::exception& e) {
    std::string reason = e.what();
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    throw EAudioException("The tags of \"" + FileName + "\" could not be rewritten: " + reason +
                          ". The file stays as it was.");
  }
}

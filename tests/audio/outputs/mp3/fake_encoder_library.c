/* A stand-in for the MP3 encoder library, to check how the binding and the output
 * treat a broken one. It exports the entry points the output calls (all of them, or
 * all but one when FAKE_WITHOUT_FLUSH is defined); the encoder handle it hands out is
 * always null, and every other call fails or does nothing. */
#include <lame/lame.h>

#define UNUSED(x) (void)(x)
#define SETTER(Name, Type)                 \
  int Name(lame_global_flags* f, Type v) { \
    UNUSED(f);                             \
    UNUSED(v);                             \
    return 0;                              \
  }
#define TAG_TEXT(Result, Name, Value)    \
  Result Name(lame_t f, const char* v) { \
    UNUSED(f);                           \
    UNUSED(v);                           \
    return Value;                        \
  }

lame_global_flags* lame_init(void) { return 0; }
SETTER(lame_set_num_samples, unsigned long)
SETTER(lame_set_in_samplerate, int)
SETTER(lame_set_num_channels, int)
SETTER(lame_set_out_samplerate, int)
SETTER(lame_set_mode, MPEG_mode)
SETTER(lame_set_copyright, int)
SETTER(lame_set_original, int)
SETTER(lame_set_error_protection, int)
SETTER(lame_set_brate, int)
SETTER(lame_set_quality, int)
SETTER(lame_set_bWriteVbrTag, int)
SETTER(lame_set_VBR, vbr_mode)
SETTER(lame_set_VBR_q, int)
SETTER(lame_set_VBR_min_bitrate_kbps, int)
SETTER(lame_set_VBR_max_bitrate_kbps, int)
int lame_init_params(lame_global_flags* f) {
  UNUSED(f);
  return -1;
}
int lame_get_out_samplerate(const lame_global_flags* f) {
  UNUSED(f);
  return 0;
}

int lame_encode_buffer_interleaved(lame_global_flags* f, short int pcm[], int n, unsigned char* out,
                                   int size) {
  UNUSED(f);
  UNUSED(pcm);
  UNUSED(n);
  UNUSED(out);
  UNUSED(size);
  return -3;
}
int lame_encode_buffer(lame_global_flags* f, const short int l[], const short int r[], const int n,
                       unsigned char* out, const int size) {
  UNUSED(f);
  UNUSED(l);
  UNUSED(r);
  UNUSED(n);
  UNUSED(out);
  UNUSED(size);
  return -3;
}
#ifndef FAKE_WITHOUT_FLUSH
int lame_encode_flush(lame_global_flags* f, unsigned char* out, int size) {
  UNUSED(f);
  UNUSED(out);
  UNUSED(size);
  return -3;
}
#endif
int lame_close(lame_global_flags* f) {
  UNUSED(f);
  return 0;
}
size_t lame_get_lametag_frame(const lame_global_flags* f, unsigned char* out, size_t size) {
  UNUSED(f);
  UNUSED(out);
  UNUSED(size);
  return 0;
}

void id3tag_init(lame_t f) { UNUSED(f); }
TAG_TEXT(void, id3tag_set_title, )
TAG_TEXT(void, id3tag_set_artist, )
TAG_TEXT(void, id3tag_set_album, )
TAG_TEXT(void, id3tag_set_year, )
TAG_TEXT(void, id3tag_set_comment, )
TAG_TEXT(int, id3tag_set_track, 0)
TAG_TEXT(int, id3tag_set_genre, 0)

// Binding unit `flac`: the FLAC encoder library libFLAC.so.12, loaded at run time.
//
// The FLAC output loads it when it is created and holds the loaded library
// (`FlacBinding().Library()`) for as long as it exists; see runtime_library.h for how a
// binding loads, checks and shares its library. The published headers give the types
// and record layouts (`FLAC__StreamMetadata`); no function of the library is linked.
// Loading and unloading happen on the window thread (component creation and
// destruction).
#pragma once

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include "bindings/runtime_library.h"

// The entry points the FLAC output calls: the stream encoder, and the metadata objects
// it is handed (the seek table and the comments); and the metadata chain through which
// the tags of a finished file are replaced (tag_rewrite.h).
// clang-format off
#define KORVANE_FLAC_ENTRY_POINTS(X)                                                       \
  X(FLAC__stream_encoder_new) X(FLAC__stream_encoder_delete)                               \
  X(FLAC__stream_encoder_set_channels) X(FLAC__stream_encoder_set_bits_per_sample)         \
  X(FLAC__stream_encoder_set_sample_rate) X(FLAC__stream_encoder_set_compression_level)    \
  X(FLAC__stream_encoder_set_total_samples_estimate)                                       \
  X(FLAC__stream_encoder_set_metadata) X(FLAC__stream_encoder_init_stream)                 \
  X(FLAC__stream_encoder_process_interleaved) X(FLAC__stream_encoder_finish)               \
  X(FLAC__stream_encoder_get_state) X(FLAC__stream_encoder_get_resolved_state_string)      \
  X(FLAC__metadata_object_new) X(FLAC__metadata_object_delete)                             \
  X(FLAC__metadata_object_seektable_template_append_spaced_points_by_samples)              \
  X(FLAC__metadata_object_seektable_template_sort)                                         \
  X(FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair)                        \
  X(FLAC__metadata_object_vorbiscomment_append_comment)                                    \
  X(FLAC__metadata_object_vorbiscomment_resize_comments)                                   \
  X(FLAC__metadata_chain_new) X(FLAC__metadata_chain_delete)                               \
  X(FLAC__metadata_chain_read_with_callbacks) X(FLAC__metadata_chain_status)               \
  X(FLAC__metadata_chain_check_if_tempfile_needed)                                         \
  X(FLAC__metadata_chain_write_with_callbacks)                                             \
  X(FLAC__metadata_chain_write_with_callbacks_and_tempfile)                                \
  X(FLAC__metadata_iterator_new) X(FLAC__metadata_iterator_delete)                         \
  X(FLAC__metadata_iterator_init) X(FLAC__metadata_iterator_next)                          \
  X(FLAC__metadata_iterator_get_block_type) X(FLAC__metadata_iterator_get_block)           \
  X(FLAC__metadata_iterator_insert_block_after)
// clang-format on

KORVANE_RUNTIME_FUNCTIONS(TFlacFunctions, KORVANE_FLAC_ENTRY_POINTS);
using TFlacLibrary = TRuntimeLibrary<TFlacFunctions>;

// The process-wide binding of libFLAC.so.12.
TRuntimeBinding<TFlacFunctions>& FlacBinding();

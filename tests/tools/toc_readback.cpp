#include "image_readback.h"

#include <gtest/gtest.h>
#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <algorithm>
#include <memory>

namespace korvane::readback {
namespace {

void ignoreCdioLog(cdio_log_level_t, const char*) {}

}  // namespace

ReadBack readTocImage(const std::filesystem::path& toc) {
  cdio_log_set_handler(ignoreCdioLog);
  std::unique_ptr<CdIo_t, void (*)(CdIo_t*)> cdio(cdio_open(toc.c_str(), DRIVER_CDRDAO), cdio_destroy);
  EXPECT_TRUE(cdio) << toc;
  ReadBack back;
  if (!cdio) return back;
  const track_t first = cdio_get_first_track_num(cdio.get());
  for (track_t number = first; number < first + cdio_get_num_tracks(cdio.get()); ++number) {
    discimage::TocTrack entry;
    entry.number = number;
    entry.startLsn = cdio_get_track_lsn(cdio.get(), number);
    entry.data = cdio_get_track_format(cdio.get(), number) != TRACK_FORMAT_AUDIO;
    back.tracks.push_back(entry);
  }
  back.leadOut = cdio_get_track_lsn(cdio.get(), CDIO_CDROM_LEADOUT_TRACK);
  back.image.resize(size_t(back.leadOut) * kSector);
  for (int32_t lsn = 0; lsn < back.leadOut; lsn += 75) {
    const int count = std::min(75, back.leadOut - lsn);
    EXPECT_EQ(cdio_read_audio_sectors(cdio.get(), back.image.data() + lsn * kSector, lsn, count), DRIVER_OP_SUCCESS);
  }
  return back;
}

}  // namespace korvane::readback

// The library's settings file beyond reading: cdr.ini keeps a read offset per drive, by
// the drive's name; a value out of range, or a drive it does not name, gives none.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>

#include "cdrip.h"
#include "disc_fixtures.h"
#include "temp_dir.h"

namespace {

namespace di = korvane::discimage;

TEST(CdRipSettings, ReadOffsetsComeFromTheSettingsFilePerDrive) {
  TTempDir folder;
  const std::string sheets[] = {folder / "a.cue", folder / "b.cue", folder / "c.cue"};
  for (const std::string& sheet : sheets)
    di::writeDiscImage(korvane::testdiscs::MultiTrackDisc(), sheet);
  std::ofstream(folder / "cdr.ini") << "[ReadOffsets]\n"
                                    << sheets[0] << "=-667\n"
                                    << sheets[1] << "=99999\n";
  CR_Init((folder / "cdr.ini").c_str());
  for (const auto& [sheet, expected] : {std::pair{0, -667}, {1, 0}, {2, 0}}) {
    int32_t samples = 1;
    EXPECT_EQ(CR_GetReadOffset(CR_AddImageDrive(sheets[sheet].c_str()), &samples), 0);
    EXPECT_EQ(samples, expected) << sheets[sheet];
  }
  int32_t samples = 0;
  EXPECT_EQ(CR_GetReadOffset(99, &samples), -1);
  CR_DeInit();
}

// Read settings that cannot be used are named, with what is used instead; good ones
// and missing ones say nothing.
TEST(CdRipSettings, UnusableReadSettingsAreNamedWithTheValueUsed) {
  TTempDir folder;
  const std::pair<const char*, const char*> cases[] = {
      {"ParanoiaMode=overlap\nParanoiaRetries=7\n", "paranoia overlap, a sector given up after 7"},
      {"", "paranoia full (verify, overlap, repair), a sector given up after 20"},
      {"ParanoiaMode=fast\n",
       "ParanoiaMode=fast in cdr.ini is none of full, overlap and disable; full is used.\n"},
      {"ParanoiaRetries=+5\n",
       "ParanoiaRetries=+5 in cdr.ini is no whole number from 1 to 1000; 20 is used.\n"},
      {"ParanoiaRetries=0\n",
       "ParanoiaRetries=0 in cdr.ini is no whole number from 1 to 1000; 20 is used.\n"},
      {"ParanoiaRetries=5000\n",
       "ParanoiaRetries=5000 in cdr.ini is no whole number from 1 to 1000; 1000 is used.\n"}};
  for (const auto& [settings, said] : cases) {
    std::ofstream(folder / "cdr.ini") << "[CD-ROM]\n" << settings;
    CR_Init((folder / "cdr.ini").c_str());
    char warnings[512] = {}, mode[512] = {};
    CR_GetSettingsWarnings(warnings, sizeof warnings);
    CR_GetReadMode(mode, sizeof mode);
    EXPECT_NE((std::string(warnings) + mode).find(said), std::string::npos)
        << settings << warnings << mode;
    if (std::string(said).rfind("paranoia", 0) == 0) {
      EXPECT_STREQ(warnings, "") << settings;
    }
    CR_DeInit();
  }
}

// A drive without a model (an image here) is found by its path with the links of both
// the setting's path and the drive's name resolved.
TEST(CdRipSettings, AReadOffsetKeyedByPathFollowsLinks) {
  TTempDir folder;
  const std::string sheet = folder / "a.cue", link = folder / "link.cue";
  di::writeDiscImage(korvane::testdiscs::MultiTrackDisc(), sheet);
  std::filesystem::create_symlink("a.cue", link);
  for (const auto& [key, named] : {std::pair{sheet, link}, {link, sheet}}) {
    std::ofstream(folder / "cdr.ini") << "[ReadOffsets]\n" << key << "=48\n";
    CR_Init((folder / "cdr.ini").c_str());
    int32_t samples = 0;
    EXPECT_EQ(CR_GetReadOffset(CR_AddImageDrive(named.c_str()), &samples), 0);
    EXPECT_EQ(samples, 48) << key << " for " << named;
    char model[8] = "x";
    EXPECT_EQ(CR_GetDriveModel(0, model, sizeof model), 0);
    CR_DeInit();
  }
}

}  // namespace

// The output's properties: defaults, the bit-rate table and the setters' rules.
#include <gtest/gtest.h>

#include "outputs/audio_vorbis.h"

namespace {

TEST(VorbisSettings, DefaultsAreQualityModeAtCompression02) {
  TVorbisOut output;
  EXPECT_FLOAT_EQ(output.Compression, 0.2f);
  EXPECT_EQ(output.DesiredNominalBitrate(), bbrAutoSelect);
  EXPECT_EQ(output.DesiredMaximumBitrate(), bbrAutoSelect);
  EXPECT_EQ(output.MinimumBitrate(), bbrAutoSelect);
  EXPECT_EQ(output.Serial, 0);
  EXPECT_TRUE(output.Comments.empty());
  EXPECT_EQ(output.FileMode(), foRewrite);
  output.SetFileMode(foAppend);
  EXPECT_EQ(output.FileMode(), foAppend);
}

TEST(VorbisSettings, BitRatesStandForTheirListValues) {
  const long expected[] = {-1,     45000,  48000,  56000,  64000,  80000,  96000,  112000,
                           128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};
  for (int rate = bbrAutoSelect; rate <= bbr499; ++rate)
    EXPECT_EQ(VorbisBitRateBps(static_cast<TVorbisBitRate>(rate)), expected[rate]) << rate;
}

// A sequence of setter calls and the three bit rates it must leave.
struct SetterCase {
  const char* Name;
  std::vector<std::pair<char, TVorbisBitRate>> Calls;  // 'N'ominal, 'X' maximum, 'M'inimum
  TVorbisBitRate Nominal, Maximum, Minimum;
};

class VorbisBitRateSetters : public ::testing::TestWithParam<SetterCase> {};

TEST_P(VorbisBitRateSetters, KeepMinimumNominalMaximumInOrder) {
  TVorbisOut output;
  for (const auto& [which, value] : GetParam().Calls) {
    if (which == 'N') output.SetDesiredNominalBitrate(value);
    if (which == 'X') output.SetDesiredMaximumBitrate(value);
    if (which == 'M') output.SetMinimumBitrate(value);
  }
  EXPECT_EQ(output.DesiredNominalBitrate(), GetParam().Nominal);
  EXPECT_EQ(output.DesiredMaximumBitrate(), GetParam().Maximum);
  EXPECT_EQ(output.MinimumBitrate(), GetParam().Minimum);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, VorbisBitRateSetters,
    ::testing::Values(
        SetterCase{"MaximumIgnoredInQualityMode",
                   {{'X', bbr192}},
                   bbrAutoSelect,
                   bbrAutoSelect,
                   bbrAutoSelect},
        SetterCase{"MinimumIgnoredInQualityMode",
                   {{'M', bbr64}},
                   bbrAutoSelect,
                   bbrAutoSelect,
                   bbrAutoSelect},
        SetterCase{"NominalRaisesMaximum", {{'N', bbr128}}, bbr128, bbr128, bbrAutoSelect},
        SetterCase{
            "FullManagedSet", {{'N', bbr128}, {'X', bbr192}, {'M', bbr64}}, bbr128, bbr192, bbr64},
        SetterCase{"MaximumBelowNominalIgnored",
                   {{'N', bbr128}, {'X', bbr64}},
                   bbr128,
                   bbr128,
                   bbrAutoSelect},
        SetterCase{"MaximumBackToAuto",
                   {{'N', bbr128}, {'X', bbr192}, {'X', bbrAutoSelect}},
                   bbr128,
                   bbrAutoSelect,
                   bbrAutoSelect},
        SetterCase{"MinimumAboveNominalIgnored",
                   {{'N', bbr128}, {'M', bbr192}},
                   bbr128,
                   bbr128,
                   bbrAutoSelect},
        SetterCase{"NominalBelowMinimumLowersIt",
                   {{'N', bbr128}, {'M', bbr96}, {'N', bbr64}},
                   bbr64,
                   bbr128,
                   bbr64},
        SetterCase{"NominalAboveMaximumRaisesIt",
                   {{'N', bbr128}, {'X', bbr160}, {'N', bbr224}},
                   bbr224,
                   bbr224,
                   bbrAutoSelect},
        SetterCase{"AutoNominalResetsBoth",
                   {{'N', bbr128}, {'X', bbr192}, {'M', bbr64}, {'N', bbrAutoSelect}},
                   bbrAutoSelect,
                   bbrAutoSelect,
                   bbrAutoSelect}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace

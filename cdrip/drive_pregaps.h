// Each track's pre-gap on a CD drive, from the Q sub-channel around the track's start:
// where the track's first sector lies (its INDEX 00, or its INDEX 01 when it has no
// pre-gap), found by a short search over the sectors before its INDEX 01. Each Q read
// gives its own sector's address, so a drive whose sub-channel runs a sector or two
// apart from its audio still gives the right place.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "drive.h"

namespace cdrip {

// A sector's place on the disc as its Q sub-channel gives it (ADR 1), and the sector
// read with which the drive gave that Q.
struct QPosition {
  int32_t Lsn = 0;
  int Track = 0;
  int Index = 0;
  int32_t ReadWith = 0;
};

// What a formatted Q (16 bytes) says of its sector's place (ReadWith left 0); nothing
// when it gives none
// (another ADR), fails its CRC (unless the drive left it out: zero) or holds what is no
// BCD.
std::optional<QPosition> DecodeFormattedQ(const uint8_t* Q);

// Reads the Q sub-channel of Count sectors from Lsn on: the places of those whose Q gives
// one; none when the drive refuses.
using QReader = std::function<std::vector<QPosition>(int32_t Lsn, int32_t Count)>;

// The longest pre-gap searched for before a track's INDEX 01; a longer one stays unknown.
constexpr int32_t MaxSearchedPregap = 30 * 75;

// Sets each track's Pregap as the image readers give it: for the first track the sectors
// from LSN 0 to its INDEX 01 (audio before it, when there is any), for the others those
// from INDEX 00 to INDEX 01. A track whose sub-channel cannot be read, or contradicts the
// table or itself, keeps -1, as does the first track of a later session (the gap before
// it is no pre-gap); when the disc's start gives no Q at all, every track does.
void LearnPregaps(Toc& Contents, const QReader& Read);

}  // namespace cdrip

// Nero .nrg images of a disc: the disc's sectors, the chunks that describe its tracks and
// sessions, and the footer that points at the chunks, all in one file.
#pragma once

#include <string>

#include "disc_image.h"

namespace korvane::discimage {

// Writes the whole disc into the one file at path, in the style layout.nrg gives; audio
// tracks as 2352-byte audio sectors, data tracks as raw MODE1 2352-byte sectors. Throws
// EDiscImageError when the layout asks for more than one file or the file is not written.
WrittenImage writeNrgImage(const DiscSpec& disc, const std::string& path,
                           const ImageLayout& layout);

}  // namespace korvane::discimage

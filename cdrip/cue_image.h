// Cue sheet images: the sheet parsed, its files opened, its tracks laid out on a disc.
#pragma once

#include <memory>
#include <string>

#include "file_image.h"

namespace cdrip {

// Throws EImageError saying which file (and line) is wrong and how.
std::shared_ptr<const FileImage> OpenCueImage(const std::string& CuePath);

}  // namespace cdrip

// cdrdao .toc images: the sheet parsed by a reader of our own, its files opened, its
// tracks laid out on a disc.
#pragma once

#include <memory>
#include <string>

#include "file_image.h"

namespace cdrip {

// Throws EImageError saying which file (and line) is wrong and how.
std::shared_ptr<const FileImage> OpenTocImage(const std::string& TocPath);

}  // namespace cdrip

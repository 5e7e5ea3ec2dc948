// Nero .nrg images: the footer and chunks checked and read by a reader of our own, the
// tracks laid out on a disc.
#pragma once

#include <memory>
#include <string>

#include "file_image.h"

namespace cdrip {

// Throws EImageError saying what is wrong with the image.
std::shared_ptr<const FileImage> OpenNrgImage(const std::string& NrgPath);

}  // namespace cdrip

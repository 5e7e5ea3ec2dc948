// Disc images as drives: cue sheets, cdrdao .toc files and Nero .nrg images, read from
// their files by readers of our own.
#pragma once

#include <memory>
#include <string>

#include "drive.h"

namespace cdrip {

// Chooses the reader by the name's extension (.toc, .nrg, else a cue sheet). Throws
// EImageError saying why when the image cannot be read.
std::unique_ptr<Drive> MakeImageDrive(const std::string& Path);

}  // namespace cdrip

// A cue sheet image as a drive.
#pragma once

#include <memory>
#include <string>

#include "drive.h"

namespace cdrip {

// Nothing when the sheet or the files it names cannot be read.
std::unique_ptr<Drive> MakeCueDrive(const std::string& Path);

}  // namespace cdrip

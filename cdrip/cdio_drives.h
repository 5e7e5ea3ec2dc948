// Drives that the CD layer (libcdio) reads: CD devices, read with the paranoia layer's
// error correction, and cdrdao .toc and Nero .nrg images, read with plain reads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drive.h"

namespace cdrip {

// The CD devices of this machine, in the CD layer's order; empty when there is none.
std::vector<std::string> ListCdDevices();

std::unique_ptr<Drive> MakeDeviceDrive(const std::string& Device);

// A drive for a .toc or .nrg image (chosen by the name's extension); nothing when the
// image cannot be opened.
std::unique_ptr<Drive> MakeCdioImageDrive(const std::string& Path);

}  // namespace cdrip

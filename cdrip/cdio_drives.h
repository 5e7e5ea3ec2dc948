// CD devices, read through the CD layer (libcdio) with the paranoia layer's error
// correction.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drive.h"

namespace cdrip {

// The CD devices of this machine, in the CD layer's order; empty when there is none.
std::vector<std::string> ListCdDevices();

std::unique_ptr<Drive> MakeDeviceDrive(const std::string& Device);

}  // namespace cdrip

#include "nrg_image.h"

#include "image_error.h"

namespace cdrip {

std::shared_ptr<const FileImage> OpenNrgImage(const std::string& Path) {
  throw ImageError(Path + ": .nrg images are not read yet.");
}

}  // namespace cdrip

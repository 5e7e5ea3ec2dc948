#include "toc_image.h"

#include "image_error.h"

namespace cdrip {

std::shared_ptr<const FileImage> OpenTocImage(const std::string& Path) {
  throw ImageError(Path + ": .toc images are not read yet.");
}

}  // namespace cdrip

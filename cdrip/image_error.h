// Why a disc image cannot be read, in words for the user: which file, which line when
// there is one, and what is wrong with it. The image readers throw it; the library's
// entry points keep its text for CR_GetLastError.
#pragma once

#include <stdexcept>
#include <string>

namespace cdrip {

class EImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace cdrip

// A command line that cannot be carried out, raised by every program's option parser;
// the text says what was wrong and what to do.
#pragma once

#include <stdexcept>

class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

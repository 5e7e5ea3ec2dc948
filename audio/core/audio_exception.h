// The one exception class of the pipeline components and the bindings; it carries a
// message text that says what went wrong and what to do.
#pragma once

#include <stdexcept>

class EAudioException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A lookup that failed: the service could not be reached, did not answer in time,
// answered with an error, or sent what cannot be read. The message names the service
// and says what went wrong, in a sentence for the user.
#pragma once

#include <stdexcept>

class ELookupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure that is reported rather than raised. Inside a library a failure is an
// exception; where the job layer hands its front ends what went wrong (a job that cannot
// be ripped, a track that failed, a lookup that could not answer) it is a TProblem: its
// text says, in words for the user, what went wrong and what to do. No problem is a state
// of its own, never an empty text.
#pragma once

#include <optional>
#include <string>
#include <utility>

class TProblem {
 public:
  TProblem() = default;  // none
  explicit TProblem(std::string Text) : Text_(std::move(Text)) {}

  explicit operator bool() const { return Text_.has_value(); }
  // The problem's text; "" when there is none.
  const std::string& Text() const {
    static const std::string None;
    return Text_ ? *Text_ : None;
  }

 private:
  std::optional<std::string> Text_;
};

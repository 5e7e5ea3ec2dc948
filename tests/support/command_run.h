// Running a program as a user does, from a shell: its exit status and everything it
// printed (standard output and error together), with no standard input.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct TCommandResult {
  int Status = -1;
  std::string Output;
};

inline TCommandResult CaptureCommand(const std::string& Command) {
  TCommandResult result;
  std::FILE* pipe = ::popen(("{ " + Command + "\n} 2>&1 </dev/null").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.Output.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// What a shell command writes to standard output, as bytes (its errors discarded); empty
// when it cannot be run or exits with a failure.
inline std::vector<uint8_t> CommandBytes(const std::string& Command) {
  std::FILE* pipe = ::popen((Command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return {};
  std::vector<uint8_t> bytes;
  std::array<uint8_t, 65536> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    bytes.insert(bytes.end(), buffer.data(), buffer.data() + n);
  return ::pclose(pipe) == 0 ? bytes : std::vector<uint8_t>{};
}

// Runs a shell command, its output left to the terminal; true when it exited 0.
inline bool RunCommand(const std::string& Command) { return std::system(Command.c_str()) == 0; }

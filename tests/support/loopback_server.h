// A stand-in server of a test on the loopback interface: a Python script of the tests
// that prints "PORT <port> PID <pid>" once it accepts connections, started with one
// argument and ended with this object. A proxy set in the environment is told to keep
// out of the way, for this process and the programs it starts.
#pragma once

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class TLoopbackServer {
 public:
  // Script: its path in the source tree, such as "tests/audio/lookup/lookup_server.py".
  TLoopbackServer(const std::string& Script, const std::string& Argument) {
    ::setenv("no_proxy", "127.0.0.1", 1);
    ::setenv("NO_PROXY", "127.0.0.1", 1);
    const std::string command = std::string("exec /usr/bin/python3 '") + KORVANE_SOURCE_DIR + "/" +
                                Script + "' '" + Argument + "'";
    Pipe_ = ::popen(command.c_str(), "r");
    char line[128] = {};
    if (Pipe_ && std::fgets(line, sizeof line, Pipe_)) {
      StartLine = line;
      if (std::sscanf(line, "PORT %d PID %d", &Port_, &Pid_) != 2) Port_ = Pid_ = 0;
    }
  }
  ~TLoopbackServer() {
    if (Pid_ > 0) ::kill(Pid_, SIGTERM);
    if (Pipe_) ::pclose(Pipe_);
  }
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  bool Started() const { return Port_ > 0; }
  int Port() const { return Port_; }
  // "http://127.0.0.1:<port>" and Path.
  std::string Url(const std::string& Path = "") const {
    return "http://127.0.0.1:" + std::to_string(Port_) + Path;
  }
  std::string StartLine;  // what the script printed first, for a message when it failed

 private:
  std::FILE* Pipe_ = nullptr;
  int Port_ = 0;
  int Pid_ = 0;
};

// korvane-cli: rips audio-CD tracks (from drives or disc images) to files.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "cli_options.h"
#include "rip_session.h"

namespace {

void RequestStop(int Signal) {
  TRipSession::StopSignal = Signal;
  TRipSession::Stopping = true;
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  try {
    options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& e) {
    std::fprintf(stderr, "korvane-cli: %s\n", e.what());
    return 2;
  }
  if (options.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.Version) {
    std::puts(
        "korvane-cli version 1.00\nLicence: GPL-3.0-or-later (GNU General Public License, version "
        "3 or later)");
    return 0;
  }
  InstallStopHandlers();
  try {
    TRipSession session(options, stdout, stderr, isatty(STDOUT_FILENO) != 0);
    if (options.FindOffset) return session.FindOffset();
    if (options.List) return session.List();
    return options.Batch ? session.Batch() : session.Run();
  } catch (const EUsageError& e) {
    std::fprintf(stderr, "korvane-cli: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvane-cli: %s\n", e.what());
    // What a stop signal ended says so by the status, as a stopped rip does.
    return TRipSession::StopSignal != 0 ? 128 + TRipSession::StopSignal : 1;
  }
}

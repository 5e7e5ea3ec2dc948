#include "progress_display.h"

#include <cmath>

namespace {

std::string MinutesAndSeconds(double Seconds) {
  const long whole = std::lround(Seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

void TProgressDisplay::BeginTrack(const std::string& Name) {
  Name_ = Name;
  Started_ = std::chrono::steady_clock::now();
  if (Terminal_) {
    std::fprintf(Out_, "\r\033[K%s  0%%", Name_.c_str());
    std::fflush(Out_);
  }
}

std::string TProgressDisplay::Describe(int Percent, int64_t BytesDone, int64_t BytesTotal,
                                       int64_t BytesPerSecond) const {
  std::string text = Percent < 0 ? std::string("--%") : std::to_string(Percent) + "%";
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Started_).count();
  if (elapsed < 0.05 || BytesPerSecond <= 0 || BytesDone <= 0) return text;
  const double speed = static_cast<double>(BytesDone) / BytesPerSecond / elapsed;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "  %.1fx", speed);
  text += buffer;
  if (BytesTotal > 0) {
    const double audioLeft = static_cast<double>(BytesTotal - BytesDone) / BytesPerSecond;
    text += "  " + MinutesAndSeconds(audioLeft / speed) + " left";
  }
  return text;
}

void TProgressDisplay::Update(int Percent, int64_t BytesDone, int64_t BytesTotal,
                              int64_t BytesPerSecond) {
  if (!Terminal_) return;
  std::fprintf(Out_, "\r\033[K%s  %s", Name_.c_str(),
               Describe(Percent, BytesDone, BytesTotal, BytesPerSecond).c_str());
  std::fflush(Out_);
}

void TProgressDisplay::EndTrack(bool Aborted) {
  if (Aborted)
    ++Aborted_;
  else
    ++Done_;
  const char* result = Aborted ? "Aborted" : "Done";
  if (Terminal_)
    std::fprintf(Out_, "\r\033[K%s  %s\n", Name_.c_str(), result);
  else
    std::fprintf(Out_, "%s: %s\n", Name_.c_str(), result);
  std::fflush(Out_);
}

void TProgressDisplay::FailTrack(const std::string& Reason) {
  ++Failed_;
  if (Terminal_) {
    std::fputs("\r\033[K", Out_);  // the live line gives way to the failure
    std::fflush(Out_);
  }
  std::fprintf(Err_, "%s: Failed: %s\n", Name_.c_str(), Reason.c_str());
  std::fflush(Err_);
}

void TProgressDisplay::ReportReads(int Rereads, int Corrections, int Skips) {
  if (Rereads == 0 && Corrections == 0 && Skips == 0) return;
  std::fprintf(Out_, "%s: read with re-reads %d, corrections %d, skipped sectors %d\n",
               Name_.c_str(), Rereads, Corrections, Skips);
  std::fflush(Out_);
}

void TProgressDisplay::PrintSummary() {
  std::fprintf(Out_, "%d done, %d failed, %d aborted\n", Done_, Failed_, Aborted_);
  std::fflush(Out_);
}

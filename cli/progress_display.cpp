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

std::string TallyText(int Done, int Suspicious, int Failed, int Aborted,
                      const std::string& DoneWords) {
  const std::string suspicious =
      Suspicious > 0 ? ", " + std::to_string(Suspicious) + " suspicious" : std::string();
  return std::to_string(Done) + " " + DoneWords + suspicious + ", " + std::to_string(Failed) +
         " failed, " + std::to_string(Aborted) + " aborted";
}

void TProgressDisplay::BeginTrack(int Track, const std::string& Name) {
  Running_[Track] = TRunning{Name, std::chrono::steady_clock::now(), "0%"};
  DrawLiveLine();
}

std::string TProgressDisplay::Describe(const TRunning& Running, int Percent, int64_t BytesDone,
                                       int64_t BytesTotal, int64_t BytesPerSecond) const {
  std::string text = Percent < 0 ? std::string("--%") : std::to_string(Percent) + "%";
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Running.Started).count();
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

void TProgressDisplay::Update(int Track, int Percent, int64_t BytesDone, int64_t BytesTotal,
                              int64_t BytesPerSecond) {
  auto running = Running_.find(Track);
  if (!Terminal_ || running == Running_.end()) return;
  running->second.Progress =
      Describe(running->second, Percent, BytesDone, BytesTotal, BytesPerSecond);
  DrawLiveLine();
}

void TProgressDisplay::ClearLiveLine() {
  if (!Terminal_ || Running_.empty()) return;
  std::fputs("\r\033[K", Out_);
  std::fflush(Out_);
}

// Every running track, in the order of their numbers.
void TProgressDisplay::DrawLiveLine() {
  if (!Terminal_ || Running_.empty()) return;
  std::string line;
  for (const auto& [track, running] : Running_)
    line += (line.empty() ? "" : "  |  ") + running.Name + "  " + running.Progress;
  std::fprintf(Out_, "\r\033[K%s", line.c_str());
  std::fflush(Out_);
}

std::string TProgressDisplay::NameOf(int Track) const {
  const auto running = Running_.find(Track);
  if (running != Running_.end()) return running->second.Name;
  const auto ended = Ended_.find(Track);
  return ended != Ended_.end() ? ended->second : std::string();
}

// The track's result line: the live line gives way to it, and is drawn again below.
void TProgressDisplay::TellEnd(int Track, std::FILE* Stream, const std::string& Text) {
  const std::string name = NameOf(Track);
  ClearLiveLine();
  std::fprintf(Stream, Terminal_ && Stream == Out_ ? "%s  %s\n" : "%s: %s\n", name.c_str(),
               Text.c_str());
  std::fflush(Stream);
  Ended_[Track] = name;
  Running_.erase(Track);
  DrawLiveLine();
}

void TProgressDisplay::EndTrack(int Track, bool Aborted) {
  ++(Aborted ? Aborted_ : Done_);
  TellEnd(Track, Out_, Aborted ? "Aborted" : "Done");
}

void TProgressDisplay::FailTrack(int Track, const std::string& Reason) {
  ++Failed_;
  TellEnd(Track, Err_, "Failed: " + Reason);
}

void TProgressDisplay::SuspectTrack(int Track, const std::string& Reason) {
  ++Suspicious_;
  TellEnd(Track, Err_, "Suspicious: " + Reason);
}

void TProgressDisplay::Note(int Track, const std::string& Text) {
  ClearLiveLine();
  std::fprintf(Out_, "%s: %s\n", NameOf(Track).c_str(), Text.c_str());
  std::fflush(Out_);
  DrawLiveLine();
}

void TProgressDisplay::ReportReads(int Track, int Rereads, int Corrections, int Skips) {
  if (Rereads == 0 && Corrections == 0 && Skips == 0) return;
  Note(Track, "read with re-reads " + std::to_string(Rereads) + ", corrections " +
                  std::to_string(Corrections) + ", skipped sectors " + std::to_string(Skips));
}

void TProgressDisplay::PrintSummary() {
  ClearLiveLine();
  std::fprintf(Out_, "%s\n", TallyText(Done_, Suspicious_, Failed_, Aborted_).c_str());
  std::fflush(Out_);
}

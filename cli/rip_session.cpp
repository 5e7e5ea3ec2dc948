#include "rip_session.h"

#include <chrono>
#include <filesystem>

#include "track_entry.h"

std::atomic<int> TRipSession::StopSignal{0};

namespace {

constexpr int64_t CdBytesPerSecond = 44100 * 4;

std::string LengthText(const TCDTrackInfo& Info) {
  char text[32];
  std::snprintf(text, sizeof text, "%2d:%02d.%02d", Info.Minutes, Info.Seconds, Info.Frames);
  return text;
}

// Why no drive was found for Path (a source, or a track entry's drive root): a path
// that is not there is named as missing; otherwise the catalogue's reason stands.
std::string NoDriveReason(const std::string& Path, const std::string& CatalogReason) {
  std::error_code error;
  const bool exists = std::filesystem::exists(Path, error);
  if (!exists && !error) return Path + " does not exist.";
  if (exists && CatalogReason == DriveNotReady)
    return Path + " is neither a CD drive nor a disc image.";
  return CatalogReason;
}

}  // namespace

TRipSession::TRipSession(const TCliOptions& Options, std::FILE* Out, std::FILE* Err, bool Terminal)
    : Options_(Options), Out_(Out), Err_(Err), Display_(Out, Err, Terminal) {
  SetMainThreadDispatcher(&Dispatcher_);
}

TRipSession::~TRipSession() {
  Format_.reset();  // the output's worker ends before the dispatcher goes
  SetMainThreadDispatcher(nullptr);
}

// ---------------------------------------------------------------------------------
// Sources
// ---------------------------------------------------------------------------------

void TRipSession::AddWholeDrive(int Drive, std::vector<TRipJob>& Jobs) {
  const TDriveListing listing = Drives_.List(Drive);
  if (!listing.Ready) {
    Jobs.push_back({listing.Name, DriveNotReady});
    return;
  }
  for (const TTrackListing& track : listing.Tracks)
    if (!track.Info.IsData) Jobs.push_back({track.Entry, ""});
}

// Why a track entry named on the command line cannot be ripped; empty when it can.
std::string TRipSession::EntryProblem(const std::string& Entry) {
  try {
    TrackEntryNumber(Entry);
  } catch (const EAudioException& e) {
    return e.what();
  }
  if (Drives_.DriveOfEntry(Entry) >= 0) return std::string();
  return NoDriveReason(TrackEntryDriveRoot(Entry), Drives_.LastError());
}

std::vector<TRipJob> TRipSession::ResolveSources() {
  std::vector<TRipJob> jobs;
  if (Options_.Sources.empty()) {
    if (Drives_.DriveCount() == 0)
      throw TUsageError("There is no CD drive. Name a disc image or a track entry to rip.");
    AddWholeDrive(0, jobs);
    return jobs;
  }
  for (const std::string& source : Options_.Sources) {
    if (HasTrackEntryExtension(source)) {
      jobs.push_back({source, EntryProblem(source)});
      continue;
    }
    const int drive = Drives_.DriveOfSource(source);
    if (drive < 0)
      jobs.push_back({source, NoDriveReason(source, Drives_.LastError())});
    else
      AddWholeDrive(drive, jobs);
  }
  return jobs;
}

// ---------------------------------------------------------------------------------
// Ripping
// ---------------------------------------------------------------------------------

int TRipSession::Run() {
  Format_ = TFormatSetup::Create(Options_);
  for (const std::string& warning : Format_->Warnings())
    std::fprintf(Err_, "korvane-cli: warning: %s\n", warning.c_str());
  const std::vector<TRipJob> jobs = ResolveSources();
  if (jobs.empty()) {
    std::fprintf(Err_, "korvane-cli: nothing to rip: the sources hold no audio tracks.\n");
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(Options_.OutDir, error);

  TAudioFileOut& output = Format_->Output();
  output.OnProgress = [this](TAudioOutput* Sender) {
    if (!Watch_.OwnsProgress(Sender)) return;
    TAudioInput* input = Sender->Input();
    Display_.Update(Sender->Progress(), input ? input->Position.load() : 0,
                    input ? input->Size.load() : -1, CdBytesPerSecond);
  };
  output.OnDone = [this](TAudioOutput* Sender) { Watch_.Done(Sender); };
  output.OnThreadException = [this](TAudioOutput*, const std::exception& E) {
    Watch_.Failed(E.what());
  };

  for (size_t i = 0; i < jobs.size(); ++i) {
    if (StopSignal) break;
    RipJob(jobs[i], static_cast<int>(i));
  }
  if (StopSignal)
    std::fprintf(Err_, "korvane-cli: aborted; the remaining tracks were not ripped.\n");
  Display_.PrintSummary();
  if (StopSignal) return 128 + StopSignal;
  return Display_.Failed() ? 1 : 0;
}

void TRipSession::RipJob(const TRipJob& Job, int Index) {
  const std::string caption = TrackEntryCaption(Job.Entry);
  const std::string fileName =
      Names_.Free(JobFileName(Options_.OutDir, caption, Format_->Format()));
  Display_.BeginTrack(Job.Problem.empty() ? fileName : Job.Entry);
  Watch_.Begin(nullptr);
  if (!Job.Problem.empty()) Watch_.Failed(Job.Problem);
  TAudioFileOut& output = Format_->Output();
  bool started = false;
  try {
    if (Job.Problem.empty()) {
      TJobStarter::ApplyRowTags(output, Format_->RowTags(), Index, caption);
      const std::string problem = Starter_.SelectTrack(Job.Entry);
      if (!problem.empty()) {
        Watch_.Failed(problem);
      } else {
        Watch_.Begin(&output);
        started = true;
        Starter_.StartOutput(output, fileName);
      }
    }
  } catch (const std::exception& e) {
    Watch_.Failed(e.what());
  }
  WaitForRun();
  if (started && output.FileKept()) Names_.Written(fileName);
  if (const std::optional<std::string> failure = Watch_.TakeFailure())
    Display_.FailTrack(*failure);
  else
    Display_.EndTrack(Aborted_);
  if (started) {
    const TCDReadReport reads = CDIn_.LastReadReport();
    Display_.ReportReads(reads.Rereads, reads.Corrections, reads.Skips);
  }
}

// Polls the output as the window does, running its events here; a stop signal
// aborts the run, which then finishes its file and reports done. A failure on the
// worker ends the run without a completion: the wait goes on until it is idle.
void TRipSession::WaitForRun() {
  TAudioFileOut& output = Format_->Output();
  Aborted_ = false;
  WaitForJobEnd(
      Watch_, [&output] { return output.Status() != osIdle; },
      [this](int Milliseconds) { ProcessEvents(Milliseconds); });
}

void TRipSession::ProcessEvents(int Milliseconds) {
  if (StopSignal && !Aborted_) {
    Format_->Output().Abort();
    Aborted_ = true;
  }
  Dispatcher_.WaitAndProcess(std::chrono::milliseconds(Milliseconds));
}

int TRipSession::List() {
  int status = 0;
  // Each source's drive is added to the listing; one that cannot be read is reported.
  for (const std::string& source : Options_.Sources) {
    std::string problem;
    if (HasTrackEntryExtension(source))
      problem = EntryProblem(source);
    else if (Drives_.DriveOfSource(source) < 0)
      problem = NoDriveReason(source, Drives_.LastError());
    if (problem.empty()) continue;
    std::fprintf(Err_, "korvane-cli: %s: %s\n", source.c_str(), problem.c_str());
    status = 1;
  }
  const std::vector<TDriveListing> drives = Drives_.ListAll();
  if (drives.empty()) std::fprintf(Out_, "No CD drive found.\n");
  for (const TDriveListing& drive : drives) {
    std::fprintf(Out_, "Drive %d: %s\n", drive.Drive, drive.Name.c_str());
    if (!drive.Ready) {
      std::fprintf(Out_, "  (no disc, or the table of contents cannot be read)\n");
      continue;
    }
    for (const TTrackListing& track : drive.Tracks)
      std::fprintf(Out_, "  %s  %s  %s\n", track.Entry.c_str(), LengthText(track.Info).c_str(),
                   track.Info.IsData ? "data" : "audio");
  }
  return status;
}

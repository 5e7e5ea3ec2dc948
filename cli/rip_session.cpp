#include "rip_session.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "cdrip.h"
#include "track_entry.h"

std::atomic<int> TRipSession::StopSignal{0};

namespace {

constexpr int64_t CdBytesPerSecond = 44100 * 4;

bool IsExistingFile(const std::string& Path) {
  struct stat info {};
  return ::stat(Path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string LengthText(const TCDTrackInfo& Info) {
  char text[32];
  std::snprintf(text, sizeof text, "%2d:%02d.%02d", Info.Minutes, Info.Seconds, Info.Frames);
  return text;
}

}  // namespace

TRipSession::TRipSession(const TCliOptions& Options, std::FILE* Out, std::FILE* Err,
                         bool Terminal)
    : Options_(Options), Out_(Out), Err_(Err), Display_(Out, Terminal) {
  SetMainThreadDispatcher(&Dispatcher_);
}

TRipSession::~TRipSession() {
  Format_.reset();  // the output's worker ends before the dispatcher goes
  SetMainThreadDispatcher(nullptr);
}

// ---------------------------------------------------------------------------------
// Drives and sources
// ---------------------------------------------------------------------------------

std::string TRipSession::DriveName(int Drive) { return CDRipDriveName(Drive); }

// Why the source just tried could not be added as a drive.
std::string TRipSession::UnreadableSourceMessage() {
  const std::string reason = CDRipLastError();
  return reason.empty() ? "Not a disc image, a CD device or a track entry, or it cannot be read."
                        : reason;
}

int TRipSession::FindDrive(const std::string& Name) { return CDRipFindDrive(Name); }

int TRipSession::AddImageDrive(const std::string& Path) {
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(Path, error).lexically_normal().string();
  const int existing = FindDrive(absolute);
  return existing >= 0 ? existing : CDRipAddImageDrive(absolute);
}

void TRipSession::AddWholeDrive(int Drive, std::vector<TRipJob>& Jobs) {
  CDIn_.SetCurrentDrive(Drive);
  const std::string name = DriveName(Drive);
  if (CDIn_.GetDriveState() == dsNotReady) {
    Jobs.push_back({name, Drive, 0, "The drive is not ready"});
    return;
  }
  const int tracks = CDIn_.GetTrackCount();
  for (int track = 1; track <= tracks; ++track)
    if (!CDIn_.GetTrackInfo(track).IsData)
      Jobs.push_back({TrackEntryPath(name, track), Drive, track, ""});
}

// An entry whose drive is not present is never read from another drive's disc.
void TRipSession::AddTrackEntry(const std::string& Entry, std::vector<TRipJob>& Jobs) {
  TRipJob job{Entry, -1, 0, ""};
  try {
    job.Track = TrackEntryNumber(Entry);
  } catch (const EAudioException& e) {
    job.Problem = e.what();
    Jobs.push_back(job);
    return;
  }
  const std::string root = TrackEntryDriveRoot(Entry);
  job.Drive = FindDrive(root);
  if (job.Drive < 0 && IsExistingFile(root)) {
    job.Drive = AddImageDrive(root);
    if (job.Drive < 0) job.Problem = CDRipLastError();
  }
  if (job.Drive < 0 && job.Problem.empty()) job.Problem = "The drive is not ready";
  Jobs.push_back(job);
}

std::vector<TRipJob> TRipSession::ResolveSources() {
  std::vector<TRipJob> jobs;
  if (Options_.Sources.empty()) {
    if (CDIn_.DriveCount() == 0)
      throw TUsageError("There is no CD drive. Name a disc image or a track entry to rip.");
    AddWholeDrive(0, jobs);
    return jobs;
  }
  for (const std::string& source : Options_.Sources) {
    if (HasTrackEntryExtension(source)) {
      AddTrackEntry(source, jobs);
      continue;
    }
    const int device = FindDrive(source);
    const int drive = device >= 0 ? device : AddImageDrive(source);
    if (drive < 0)
      jobs.push_back({source, -1, 0, UnreadableSourceMessage()});
    else
      AddWholeDrive(drive, jobs);
  }
  return jobs;
}

// ---------------------------------------------------------------------------------
// Ripping
// ---------------------------------------------------------------------------------

std::string TRipSession::OutputFileName(const TRipJob& Job) const {
  return Options_.OutDir + "/" + SafeOutputName(TrackEntryCaption(Job.Entry)) + Format_->Extension();
}

int TRipSession::Run() {
  Format_ = TFormatSetup::Create(Options_);
  const std::vector<TRipJob> jobs = ResolveSources();
  if (jobs.empty()) {
    std::fprintf(Err_, "korvane-cli: nothing to rip: the sources hold no audio tracks.\n");
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(Options_.OutDir, error);

  TAudioFileOut& output = Format_->Output();
  output.OnProgress = [this](TAudioOutput* Sender) {
    TAudioInput* input = Sender->Input();
    Display_.Update(Sender->Progress(), input ? input->Position.load() : 0,
                    input ? input->Size.load() : -1, CdBytesPerSecond);
  };
  output.OnDone = [this](TAudioOutput*) { JobDone_ = true; };
  output.OnThreadException = [this](TAudioOutput*, const std::exception& E) {
    // May run on the worker: the message is handed over with the flag.
    JobFailure_ = E.what();
    JobFailed_ = true;
  };

  int failures = 0;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (StopSignal) break;
    if (!RipJob(jobs[i], static_cast<int>(i))) ++failures;
  }
  if (StopSignal) {
    std::fprintf(Err_, "korvane-cli: aborted; the remaining tracks were not ripped.\n");
    return 128 + StopSignal;
  }
  return failures ? 1 : 0;
}

bool TRipSession::RipJob(const TRipJob& Job, int Index) {
  const std::string fileName = Job.Problem.empty() ? OutputFileName(Job) : Job.Entry;
  Display_.BeginTrack(Job.Problem.empty() ? fileName : Job.Entry);
  if (!Job.Problem.empty()) {
    Display_.EndTrack("Failed: " + Job.Problem);
    return false;
  }
  TAudioFileOut& output = Format_->Output();
  JobDone_ = false;
  JobFailed_ = false;
  JobFailure_.clear();
  try {
    CDIn_.SetCurrentDrive(Job.Drive);
    CDIn_.SetStartTrack(Job.Track);
    CDIn_.SetEndTrack(Job.Track);
    Format_->PrepareJob(Index, TrackEntryCaption(Job.Entry));
    output.SetInput(&CDIn_);
    output.FileName = fileName;
    output.Start();
  } catch (const std::exception& e) {
    JobFailure_ = e.what();
    JobFailed_ = true;
  }
  WaitForRun();
  if (JobFailed_) {
    Display_.EndTrack("Failed: " + JobFailure_);
    return false;
  }
  Display_.EndTrack(Aborted_ ? "Aborted" : "Done");
  return !Aborted_;
}

// Polls the output as the window does, running its events here; a stop signal
// aborts the run, which then finishes its file and reports done.
void TRipSession::WaitForRun() {
  TAudioFileOut& output = Format_->Output();
  Aborted_ = false;
  while (!JobFailed_ && !(JobDone_ && output.Status() == osIdle)) {
    if (StopSignal && !Aborted_) {
      output.Abort();
      Aborted_ = true;
    }
    Dispatcher_.WaitAndProcess(std::chrono::milliseconds(50));
  }
  // A failure on the worker ends the run without OnDone; wait until it is idle.
  while (output.Status() != osIdle) Dispatcher_.WaitAndProcess(std::chrono::milliseconds(10));
}

int TRipSession::List() {
  const int count = CDIn_.DriveCount();
  int status = 0;
  for (const std::string& source : Options_.Sources) {
    if (HasTrackEntryExtension(source) || FindDrive(source) >= 0 || AddImageDrive(source) >= 0)
      continue;
    std::fprintf(Err_, "korvane-cli: %s\n", UnreadableSourceMessage().c_str());
    status = 1;
  }
  const int drives = std::max(count, CDIn_.DriveCount());
  if (drives == 0) std::fprintf(Out_, "No CD drive found.\n");
  for (int drive = 0; drive < drives; ++drive) {
    std::fprintf(Out_, "Drive %d: %s\n", drive, DriveName(drive).c_str());
    CDIn_.SetCurrentDrive(drive);
    if (CDIn_.GetDriveState() == dsNotReady) {
      std::fprintf(Out_, "  (no disc)\n");
      continue;
    }
    const int tracks = CDIn_.GetTrackCount();
    if (tracks < 0) std::fprintf(Out_, "  (the table of contents cannot be read)\n");
    for (int track = 1; track <= tracks; ++track) {
      const TCDTrackInfo info = CDIn_.GetTrackInfo(track);
      std::fprintf(Out_, "  %s  %s  %s\n", TrackEntryPath(DriveName(drive), track).c_str(),
                   LengthText(info).c_str(), info.IsData ? "data" : "audio");
    }
  }
  return status;
}

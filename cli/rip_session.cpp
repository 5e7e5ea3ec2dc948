#include "rip_session.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "cdrom/track_entry.h"
#include "format_setup.h"
#include "jobs/disc_tags.h"
#include "jobs/offset_finder.h"
#include "proof/rip_log.h"

std::atomic<int> TRipSession::StopSignal{0};
std::atomic<bool> TRipSession::Stopping{false};

namespace {

std::string LengthText(const TCDTrackInfo& Info) {
  char text[32];
  std::snprintf(text, sizeof text, "%2d:%02d.%02d", Info.Minutes, Info.Seconds, Info.Frames);
  return text;
}

// Why a track entry's drive root is no drive: it is missing, or something else.
std::string NoDriveText(const std::string& Path) {
  std::error_code error;
  if (!std::filesystem::exists(Path, error) && !error) return Path + " does not exist.";
  return Path + " is neither a CD drive nor a disc image.";
}

// The lookup that the options ask for, ended by a stop signal: the flag is static, so it
// is shared without an owner.
TLookupChoice LookupChoiceOf(const TCliOptions& Options) {
  return TLookupChoice{
      Options.Lookup, Options.LookupServer, Options.CddbUser,
      std::shared_ptr<const std::atomic<bool>>(std::shared_ptr<void>(), &TRipSession::Stopping)};
}

TRunOptions RunOptionsOf(const TCliOptions& Options) {
  TRunOptions run;
  run.OutDir = Options.OutDir;
  run.TracksAtOnce = static_cast<size_t>(Options.Jobs);
  run.Verify = Options.Verify;
  run.Retries = Options.Retries;
  run.Offset = Options.Offset;
  run.AccurateRip = Options.AccurateRip;
  run.AccurateRipServer = Options.AccurateRipServer;
  run.Log = Options.Log;
  run.ReplayGain = Options.ReplayGain;
  run.HiddenTrackOne = Options.HiddenTrackOne;
  run.NameTemplate = Options.NameTemplate;
  return run;
}

// "CRC 1A2B3C4D, peak 98.2 %", and the test-and-copy verdict where one was reached, or
// the AccurateRip confirmation that made the test read needless.
std::string ProofLine(const TTrackProof& Proof) {
  char text[64];
  std::snprintf(text, sizeof text, "CRC %08X, peak %s %%", Proof.Copy.Crc32,
                PeakPercentText(Proof.Copy.Peak).c_str());
  if (Proof.ProvenBy > 0)
    return text + (", read once: AccurateRip confirms it (confidence " +
                   std::to_string(Proof.ProvenBy) + ")");
  return Proof.TestCopy.empty() ? text : text + (", " + Proof.TestCopy);
}

// The main thread's wait: it runs the outputs' hand-offs, and turns a stop signal into
// the run's abort.
class TCliPump : public TQueuePump {
 public:
  TCliPump(TQueueDispatcher& Dispatcher, const std::atomic<int>& StopSignal)
      : TQueuePump(Dispatcher), StopSignal_(StopSignal) {}
  void Attach(TRipRun& Run) { Run_ = &Run; }
  void Wait(int Milliseconds) override {
    TQueuePump::Wait(Milliseconds);
    if (StopSignal_ && Run_) Run_->RequestAbort();
  }

 private:
  const std::atomic<int>& StopSignal_;
  TRipRun* Run_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------------
// What the run tells
// ---------------------------------------------------------------------------------

void TCliObserver::TrackStarted(size_t Job, const std::string& Name) {
  Display_.BeginTrack(TrackOf(Job), Name);
}

void TCliObserver::TrackProgress(size_t Job, int Percent, int64_t BytesDone, int64_t BytesTotal) {
  Display_.Update(TrackOf(Job), Percent, BytesDone, BytesTotal, 44100 * 4);
}

void TCliObserver::TrackEnded(size_t Job, const TTrackEnd& End) {
  const int track = TrackOf(Job);
  if (End.Result == TTrackResult::Failed) {
    Display_.FailTrack(track, End.Failure.Text());
  } else if (End.Suspicious()) {
    Display_.SuspectTrack(track, End.SuspicionReason());
  } else {
    Display_.EndTrack(track, End.Result == TTrackResult::Aborted);
    if (End.KeptBeside)
      Display_.Note(track,
                    "the earlier file stays as it was; what was read is kept as " + End.FileName);
  }
  // A track cut short has no checksum that could pass for its own.
  if (Options_.Log && End.Result == TTrackResult::Done) Display_.Note(track, ProofLine(End.Proof));
  Display_.ReportReads(track, End.Proof.Reads.Rereads, End.Proof.Reads.Corrections,
                       End.Proof.Reads.Skips);
}

void TCliObserver::TrackVerdict(size_t Job, const std::string& Verdict) {
  Display_.Note(TrackOf(Job), Verdict);
}

void TCliObserver::Warning(const std::string& Text) {
  std::fprintf(Err_, "korvane-cli: warning: %s\n", Text.c_str());
}

void TCliObserver::Notice(const std::string& Text) {
  std::fprintf(Err_, "korvane-cli: %s\n", Text.c_str());
}

// Several matches are listed, and --release picks one (else the first).
size_t TCliObserver::ChooseRelease(const std::vector<TDiscInfo>& Matches,
                                   const std::string& Service) {
  const int release = Options_.Release;
  if (Matches.size() == 1 && release <= 1) return 0;
  const size_t chosen = release >= 1 && static_cast<size_t>(release) <= Matches.size()
                            ? static_cast<size_t>(release)
                            : 1;
  std::fprintf(Err_, "korvane-cli: %s has %zu %s for the disc:\n", Service.c_str(), Matches.size(),
               Matches.size() == 1 ? "match" : "matches");
  for (size_t i = 0; i < Matches.size(); ++i)
    std::fprintf(Err_, "  %zu. %s\n", i + 1, ReleaseDescription(Matches[i]).c_str());
  if (release > static_cast<int>(Matches.size()))
    std::fprintf(Err_, "korvane-cli: warning: there is no match %d; ", release);
  else
    std::fprintf(Err_, "korvane-cli: ");
  std::fprintf(Err_, "going on with match %zu%s.\n", chosen,
               release == 0 ? " (choose another with --release N)" : "");
  return chosen - 1;
}

TRipSession::TRipSession(const TCliOptions& Options, std::FILE* Out, std::FILE* Err, bool Terminal)
    : Options_(Options),
      Out_(Out),
      Err_(Err),
      RunOptions_(RunOptionsOf(Options)),
      Display_(Out, Err, Terminal),
      Knowledge_(Drives_, LookupChoiceOf(Options), Observer_) {
  SetMainThreadDispatcher(&Dispatcher_);
  // The read settings of cdr.ini that the CD library could not use, and what it uses.
  std::istringstream warnings(CDRipSettingsWarnings());
  for (std::string line; std::getline(warnings, line);)
    std::fprintf(Err_, "korvane-cli: warning: %s\n", line.c_str());
}

TRipSession::~TRipSession() { SetMainThreadDispatcher(nullptr); }

// ---------------------------------------------------------------------------------
// Sources
// ---------------------------------------------------------------------------------

void TRipSession::AddWholeDrive(int Drive, std::vector<TRunEntry>& Entries) {
  const TDriveListing listing = Drives_.List(Drive);
  if (!listing.Ready) {
    Entries.push_back({listing.Name, TrackEntryCaption(listing.Name), TProblem(DriveNotReady)});
    return;
  }
  for (const TTrackListing& track : listing.Tracks)
    if (!track.Info.IsData)
      Entries.push_back({track.Entry, TrackEntryCaption(track.Entry), TProblem()});
}

// Why a track entry named on the command line cannot be ripped, if it cannot.
TProblem TRipSession::EntryProblem(const std::string& Entry) {
  try {
    TrackEntryNumber(Entry);
    if (Drives_.DriveOfEntry(Entry) >= 0) return TProblem();
  } catch (const EAudioException& e) {
    return TProblem(e.what());
  }
  return TProblem(NoDriveText(TrackEntryDriveRoot(Entry)));
}

// Why a source named on the command line (a device or a disc image) is no drive, if it
// is none.
TProblem TRipSession::SourceProblem(const std::string& Source) {
  try {
    Drives_.DriveOfSource(Source);
  } catch (const EAudioException& e) {
    return TProblem(e.what());
  }
  return TProblem();
}

std::vector<TRunEntry> TRipSession::ResolveSources() {
  std::vector<TRunEntry> jobs;
  if (Options_.Sources.empty()) {
    if (Drives_.DriveCount() == 0)
      throw EUsageError("There is no CD drive. Name a disc image or a track entry to rip.");
    AddWholeDrive(0, jobs);
    return jobs;
  }
  for (const std::string& source : Options_.Sources) {
    if (HasTrackEntryExtension(source)) {
      jobs.push_back({source, TrackEntryCaption(source), EntryProblem(source)});
      continue;
    }
    if (TProblem problem = SourceProblem(source))
      jobs.push_back({source, TrackEntryCaption(source), problem});
    else
      AddWholeDrive(Drives_.DriveOfSource(source), jobs);
  }
  return RunOptions_.HiddenTrackOne ? WithHiddenTracks(Drives_, std::move(jobs)) : jobs;
}

// ---------------------------------------------------------------------------------
// Ripping
// ---------------------------------------------------------------------------------

// A disc image holds the disc's audio as it is, without a drive's read offset, so an
// offset given for it shifts the audio away from the disc's.
void TRipSession::WarnOfOffsetOnImages() {
  if (!Options_.Offset || *Options_.Offset == 0) return;
  for (const std::string& source : Options_.Sources) {
    const std::string disc = HasTrackEntryExtension(source) ? TrackEntryDriveRoot(source) : source;
    if (!IsDiscImageName(disc)) continue;
    std::fprintf(Err_,
                 "korvane-cli: warning: --offset applies to drives; %s is a disc image, and "
                 "images have no read offset.\n",
                 disc.c_str());
  }
}

void TRipSession::PrintFormatWarnings() {
  const std::unique_ptr<TFormatSetup> format = TFormatSetup::Create(Options_);
  for (const std::string& warning : format->Warnings())
    std::fprintf(Err_, "korvane-cli: warning: %s\n", warning.c_str());
}

// The output folder is made when missing; one that cannot be written is named once.
bool TRipSession::OutputFolderUsable() {
  std::error_code error;
  if (std::filesystem::exists(Options_.OutDir, error) &&
      !std::filesystem::is_directory(Options_.OutDir, error))
    throw EUsageError("--out names a file, not a folder: " + Options_.OutDir + ".");
  const TProblem folderProblem = OutputFolderProblem(Options_.OutDir);
  if (!folderProblem) return true;
  std::fprintf(Err_, "korvane-cli: %s\n", folderProblem.Text().c_str());
  return false;
}

int TRipSession::Run() {
  PrintFormatWarnings();
  WarnOfOffsetOnImages();
  const std::vector<TRunEntry> entries = ResolveSources();
  if (entries.empty()) {
    std::fprintf(Err_, "korvane-cli: nothing to rip: the sources hold no audio tracks.\n");
    return 1;
  }
  if (!OutputFolderUsable()) return 1;
  const std::vector<TPlannedJob> planned =
      TRunPlanner(Drives_, Knowledge_, RunOptions_).Plan(entries);
  const TRunOutcome outcome = RipPlanned(planned);
  if (!outcome.Finished)
    std::fprintf(Err_, "korvane-cli: aborted; the remaining tracks were not ripped.\n");
  Display_.PrintSummary();
  if (!outcome.Finished) return 128 + StopSignal;
  const TRunSummary& summary = outcome.Summary;
  // A script must see a track that failed, a copy no read confirms, and a proof or
  // ReplayGain tags asked for that were not written.
  return Display_.Failed() || summary.Suspicious > 0 || summary.ProofUnwritten ||
                 summary.GainsUnwritten
             ? 1
             : 0;
}

// One run of the engine over the planned jobs, with as many encoders as it uses.
TRipSession::TRunOutcome TRipSession::RipPlanned(const std::vector<TPlannedJob>& Planned) {
  std::vector<std::unique_ptr<TFormatSetup>> formats;
  formats.push_back(TFormatSetup::Create(Options_));
  TRunEncoders encoders{formats.front()->Format(), {}, formats.front()->RowTags()};
  const size_t count = TRipRun::EncodersFor(RunOptions_, encoders.Format, Planned.size(),
                                            TRipRun::DrivesRead(Planned));
  while (formats.size() < count) formats.push_back(TFormatSetup::Create(Options_));
  TCliPump pump(Dispatcher_, StopSignal);
  TRipRun run(RunOptions_, CDIn_, Knowledge_, Observer_, pump);
  pump.Attach(run);
  for (const auto& format : formats) {
    TRipRun::ConnectEvents(format->Output(), run);
    encoders.Outputs.push_back(&format->Output());
  }
  TRunOutcome outcome;
  outcome.Finished = run.Run(Planned, encoders);
  outcome.Summary = run.Summary();
  outcome.Ends = run.Ends();
  for (size_t i = 0; i < Planned.size(); ++i) outcome.Over.push_back(run.Over(i));
  return outcome;
}

int TRipSession::List() {
  int status = 0;
  // Each source's drive is added to the listing; one that cannot be read is reported.
  for (const std::string& source : Options_.Sources) {
    const TProblem problem =
        HasTrackEntryExtension(source) ? EntryProblem(source) : SourceProblem(source);
    if (!problem) continue;
    std::fprintf(Err_, "korvane-cli: %s: %s\n", source.c_str(), problem.Text().c_str());
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
    if (drive.HiddenSectors > 0)
      std::fprintf(Out_, "  Hidden track one audio: %s before track 1 (%s; --htoa rips it)\n",
                   SectorTimeText(drive.HiddenSectors).c_str(),
                   TrackEntryFileName(TrackEntryPath(drive.Name, 0)).c_str());
    PrintDiscKnowledge(drive);
  }
  return status;
}

int TRipSession::FindOffset() {
  const std::string name = Options_.Sources.empty() ? std::string() : Options_.Sources.front();
  const TProblem problem = name.empty() ? TProblem() : SourceProblem(name);
  const int drive = problem        ? -1
                    : name.empty() ? (Drives_.DriveCount() > 0 ? 0 : -1)
                                   : Drives_.DriveOfSource(name);
  if (drive < 0) {
    std::fprintf(Err_, "korvane-cli: %s\n",
                 problem ? problem.Text().c_str() : "No CD drive found.");
    return 1;
  }
  TOffsetSearch search;
  search.Drive = drive;
  if (!Options_.AccurateRipServer.empty()) search.Database.Url = Options_.AccurateRipServer;
  search.Progress = [this](const std::string& Text) {
    std::fprintf(Out_, "%s\n", Text.c_str());
    std::fflush(Out_);
  };
  search.ShouldStop = [] { return StopSignal != 0; };
  const std::optional<TFoundOffset> found = FindReadOffset(CDIn_, search);
  if (!found) {
    std::fprintf(Err_,
                 "korvane-cli: No read offset from -%d to +%d samples makes the tracks read match "
                 "the AccurateRip database. The disc may be another pressing than those the "
                 "database knows, or scratched: try another disc.\n",
                 MaxSearchedOffset, MaxSearchedOffset);
    return 1;
  }
  std::fprintf(Out_,
               "The drive's read offset is %+d samples: %d of %d tracks read match the "
               "AccurateRip database at it (confidence %d).\n",
               found->Offset, found->TracksMatched, found->TracksRead, found->Confidence);
  if (Options_.KeepOffset) {
    CDRipKeepReadOffset(drive, found->Offset);
    std::fprintf(Out_, "Kept in %s.\n", CDRipSettingsPath().c_str());
  } else {
    std::fprintf(Out_, "Use --offset %d, or --keep-offset to keep it in cdr.ini.\n", found->Offset);
  }
  return 0;
}

// The disc's identities, and its texts when it has any.
void TRipSession::PrintDiscKnowledge(const TDriveListing& Drive) {
  const std::string musicBrainz = MusicBrainzDiscId(Drive.Toc);
  std::fprintf(Out_, "  Disc ids: MusicBrainz %s, freedb %s\n",
               musicBrainz.empty() ? "(none: no audio track)" : musicBrainz.c_str(),
               FreedbDiscId(Drive.Toc).c_str());
  if (!HasText(Drive.Text)) return;
  std::string disc;
  const std::pair<const char*, const std::string*> parts[] = {{"Album", &Drive.Text.Album},
                                                              {"Artist", &Drive.Text.Artist},
                                                              {"Year", &Drive.Text.Year},
                                                              {"Genre", &Drive.Text.Genre}};
  for (const auto& [label, value] : parts)
    if (!value->empty()) disc += std::string(disc.empty() ? "" : " / ") + label + ": " + *value;
  if (!disc.empty()) std::fprintf(Out_, "  %s\n", disc.c_str());
  for (size_t i = 0; i < Drive.Text.TrackTitles.size(); ++i) {
    const std::string& title = Drive.Text.TrackTitles[i];
    const std::string& artist = Drive.Text.TrackArtists[i];
    if (title.empty() && artist.empty()) continue;
    std::fprintf(Out_, "  Track %02zu: %s%s%s\n", i + 1, title.c_str(), artist.empty() ? "" : " / ",
                 artist.c_str());
  }
}
